#pragma once

#include <array>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Model/Date.h"
#include "Model/Result.h"
#include "Platform/Linux/System/UniqueFd.h"

namespace tindlewave {

class Clock;

// The levels the program logs at. `defaultLevel` is written "default".
enum class LogLevel { defaultLevel, error, fault };
std::string_view toText(LogLevel level);

// One entry of the log store.
struct LogEntry {
    Date time;
    std::string run;
    std::string subsystem;
    std::string category;
    LogLevel level;
    std::string message;

    bool operator==(const LogEntry&) const = default;
};

// Why the store could not be read: the file and the system's words.
struct LogStoreError {
    std::string path;
    std::string message;

    std::string description() const { return path + ": " + message; }
    bool operator==(const LogStoreError&) const = default;
};

// A message as the standard-error mirror writes it: control characters (C0, DEL and C1) escaped
// as the log file's JSON escapes them ("\t", "\n", "\u001b", ...) and bytes that are not UTF-8
// replaced by U+FFFD, so no name or error text sends an escape sequence to the terminal.
std::string terminalText(std::string_view message);

// The program's own log: one JSON-lines file per run, "<run id>.jsonl", in a folder of its own
// (by default $XDG_STATE_HOME/tindlewave/log, never the watched config folder). Opening a store
// makes the folder, prunes the files of older runs but the newest few and starts this run's file,
// a new one (never an existing file or a link) in a folder of this user's own (not a link).
// Each entry is one line written with one synchronous write, so lines from several threads never
// interleave. Writing never fails from the caller's point of view: a store that could not open its
// file keeps only the standard-error mirror and reports the failure to readers.
class LogStore {
  public:
    // Files of earlier runs kept when a store opens.
    static constexpr std::size_t keptRuns = 4;

    LogStore(std::filesystem::path folder, bool mirrorToStandardError, const Clock& clock);
    LogStore(const LogStore&) = delete;
    LogStore& operator=(const LogStore&) = delete;

    // The program's store in defaultFolder(), made on first use; it mirrors to standard error
    // when that is a terminal.
    static LogStore& shared();
    // $XDG_STATE_HOME/tindlewave/log when XDG_STATE_HOME is an absolute path, else
    // ~/.local/state/tindlewave/log.
    static std::filesystem::path defaultFolder();

    const std::string& runId() const { return runId_; }
    const std::filesystem::path& file() const { return file_; }

    bool isEnabled(LogLevel level) const { return enabled_[index(level)].load(); }
    void setEnabled(LogLevel level, bool enabled) { enabled_[index(level)] = enabled; }

    // Writes one entry (also when its level is disabled: callers check isEnabled first).
    void write(std::string_view subsystem, std::string_view category, LogLevel level,
               std::string_view message);

    // This run's entries of `subsystem`, oldest first. A line that does not parse (a torn last
    // line) is skipped; a store that cannot be read is an error.
    Result<std::vector<LogEntry>, LogStoreError> entries(std::string_view subsystem) const;

  private:
    static std::size_t index(LogLevel level) { return static_cast<std::size_t>(level); }
    void prune();

    const std::filesystem::path folder_;
    const bool mirror_;
    const Clock& clock_;
    std::string runId_;
    std::filesystem::path file_;
    std::optional<LogStoreError> openError_;
    UniqueFd fd_;
    std::mutex writeLock_;
    std::array<std::atomic<bool>, 3> enabled_{true, true, true};
};

// A writer under one subsystem and category. Cheap to copy; usable from any thread.
class Logger {
  public:
    Logger(std::string subsystem, std::string category, LogStore& store = LogStore::shared())
        : subsystem_(std::move(subsystem)), category_(std::move(category)), store_(&store) {}

    bool isEnabled(LogLevel level) const { return store_->isEnabled(level); }
    void log(LogLevel level, std::string_view message) const {
        if (isEnabled(level)) store_->write(subsystem_, category_, level, message);
    }
    // Builds the message (a callable returning a string) only when the level is enabled.
    template <class Make>
    void logLazily(LogLevel level, Make&& make) const {
        if (isEnabled(level)) store_->write(subsystem_, category_, level, make());
    }

    const std::string& subsystem() const { return subsystem_; }
    const std::string& category() const { return category_; }

  private:
    std::string subsystem_;
    std::string category_;
    LogStore* store_;
};

}  // namespace tindlewave
