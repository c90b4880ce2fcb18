#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tindlewave {

// Why the defaults file could not be read or written: the file and the cause.
struct DefaultsError {
    std::string path;
    std::string message;

    std::string description() const { return path + ": " + message; }
    bool operator==(const DefaultsError&) const = default;
};

// The program's small store of user defaults: one JSON object in a file outside the watched
// config folder (by default $XDG_STATE_HOME/tindlewave/defaults.json), where a write would
// otherwise trigger a reload. Values are cached; every change rewrites the whole file atomically
// (a temporary file renamed over it). Thread-safe. A value of the wrong type reads as absent.
class Defaults {
  public:
    // Loads `file`; a missing file is empty, an unreadable or malformed one (or one that is no
    // regular file, or is over 16 MiB) is empty with loadError() set (the next write replaces it).
    // Temporaries that writers killed mid-write left beside it are removed.
    explicit Defaults(std::filesystem::path file);
    ~Defaults();
    Defaults(const Defaults&) = delete;
    Defaults& operator=(const Defaults&) = delete;

    // The program's defaults in defaultFile(), made on first use.
    static Defaults& standard();
    // $XDG_STATE_HOME/tindlewave/defaults.json when XDG_STATE_HOME is an absolute path, else
    // ~/.local/state/tindlewave/defaults.json.
    static std::filesystem::path defaultFile();

    const std::filesystem::path& file() const { return file_; }
    const std::optional<DefaultsError>& loadError() const { return loadError_; }

    bool contains(std::string_view key) const;
    std::optional<std::string> string(std::string_view key) const;
    std::optional<bool> boolean(std::string_view key) const;
    std::optional<std::int64_t> integer(std::string_view key) const;
    std::optional<std::vector<std::string>> stringArray(std::string_view key) const;

    // Each change is kept in memory even when the file cannot be written; the error says why.
    std::optional<DefaultsError> set(std::string_view key, std::string_view value);
    // A text literal is a string, not a boolean.
    std::optional<DefaultsError> set(std::string_view key, const char* value) {
        return set(key, std::string_view(value));
    }
    std::optional<DefaultsError> set(std::string_view key, bool value);
    std::optional<DefaultsError> set(std::string_view key, std::int64_t value);
    std::optional<DefaultsError> set(std::string_view key, const std::vector<std::string>& value);
    // Writes nothing when the key was absent.
    std::optional<DefaultsError> remove(std::string_view key);
    // Adds `value` to the string array under `key` unless it is there already, reading and
    // writing in one step, so that concurrent additions all stay. A missing or wrongly typed value
    // counts as empty. Writes nothing when the value was there.
    std::optional<DefaultsError> addToStringArray(std::string_view key, std::string_view value);

  private:
    struct Values;
    template <class Change>
    std::optional<DefaultsError> change(Change&& change);
    std::optional<DefaultsError> save() const;

    const std::filesystem::path file_;
    std::optional<DefaultsError> loadError_;
    mutable std::mutex mutex_;
    std::unique_ptr<Values> values_;
};

}  // namespace tindlewave
