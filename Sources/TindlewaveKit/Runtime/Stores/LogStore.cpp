#include "Runtime/Stores/LogStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>

#include "Platform/Clock.h"
#include "Platform/Linux/System/Files.h"

namespace tindlewave {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kExtension = ".jsonl";

std::string isoTime(Date time) {
    using namespace std::chrono;
    auto ms = duration_cast<milliseconds>(time.time_since_epoch()).count();
    std::time_t seconds = ms / 1000;
    if (ms % 1000 < 0) --seconds;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  int(((ms % 1000) + 1000) % 1000));
    return buffer;
}

std::optional<Date> parseIsoTime(const std::string& text) {
    std::tm utc{};
    int millis = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ", &utc.tm_year, &utc.tm_mon,
                    &utc.tm_mday, &utc.tm_hour, &utc.tm_min, &utc.tm_sec, &millis) != 7)
        return std::nullopt;
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    return Date{std::chrono::seconds(timegm(&utc)) + std::chrono::milliseconds(millis)};
}

std::optional<LogLevel> levelFromText(std::string_view text) {
    for (auto level : {LogLevel::defaultLevel, LogLevel::error, LogLevel::fault})
        if (toText(level) == text) return level;
    return std::nullopt;
}

std::string newRunId(Date now) {
    static std::atomic<int> opened{0};
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    std::string id = std::string(stamp) + "-" + std::to_string(::getpid());
    if (int n = ++opened; n > 1) (id += '-') += std::to_string(n);
    return id;
}

// The length of the well-formed UTF-8 sequence at the start of `text`, 0 when there is none.
std::size_t sequenceLength(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char first = byte(0);
    if (first < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80;  // the second byte's range, narrower after some first bytes
    unsigned char high = 0xBF;
    if (first >= 0xC2 && first <= 0xDF) {
        length = 2;
    } else if (first >= 0xE0 && first <= 0xEF) {
        length = 3;
        if (first == 0xE0) low = 0xA0;   // no overlong forms
        if (first == 0xED) high = 0x9F;  // no surrogates
    } else if (first >= 0xF0 && first <= 0xF4) {
        length = 4;
        if (first == 0xF0) low = 0x90;
        if (first == 0xF4) high = 0x8F;  // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if ((byte(i) & 0xC0) != 0x80) return 0;
    return length;
}

}  // namespace

std::string terminalText(std::string_view message) {
    std::string out;
    out.reserve(message.size());
    while (!message.empty()) {
        const std::size_t length = sequenceLength(message);
        if (length == 0) {
            out += "\uFFFD";
            message.remove_prefix(1);
            continue;
        }
        const auto first = static_cast<unsigned char>(message[0]);
        // The code point when it is below U+0100 (C1 controls are 0xC2 followed by 0x80 to 0x9F).
        const unsigned code = length == 1                   ? first
                              : length == 2 && first == 0xC2 ? static_cast<unsigned char>(message[1])
                                                             : 0x100;
        if (code < 0x20 || (code >= 0x7F && code <= 0x9F)) {
            switch (code) {
                case '\b': out += "\\b"; break;
                case '\f': out += "\\f"; break;
                case '\n': out += "\\n"; break;
                case '\r': out += "\\r"; break;
                case '\t': out += "\\t"; break;
                default: {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", code);
                    out += escaped;
                }
            }
        } else {
            out.append(message.substr(0, length));
        }
        message.remove_prefix(length);
    }
    return out;
}

std::string_view toText(LogLevel level) {
    switch (level) {
        case LogLevel::defaultLevel:
            return "default";
        case LogLevel::error:
            return "error";
        case LogLevel::fault:
            return "fault";
    }
    return "default";
}

fs::path LogStore::defaultFolder() {
    return fs::path(files::baseFolder("XDG_STATE_HOME", ".local/state")) / "tindlewave" / "log";
}

LogStore& LogStore::shared() {
    // Never destroyed: the executors' threads log until the program's statics are torn down,
    // whichever was made first. Every entry is written at once, so nothing is left to flush.
    static LogStore* const store =
        new LogStore(defaultFolder(), ::isatty(STDERR_FILENO) == 1, SystemClock::shared());
    return *store;
}

LogStore::LogStore(fs::path folder, bool mirrorToStandardError, const Clock& clock)
    : folder_(std::move(folder)), mirror_(mirrorToStandardError), clock_(clock) {
    runId_ = newRunId(clock_.date());
    file_ = folder_ / (runId_ + std::string(kExtension));
    std::error_code error;
    fs::create_directories(folder_, error);
    if (error) {
        openError_ = LogStoreError{folder_.string(), error.message()};
        return;
    }
    // The file's name can be guessed: it is made here, in a folder of this user's own (not
    // through a link), never directory where something already is.
    const UniqueFd directory(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!directory.isOpen()) {
        openError_ = LogStoreError{folder_.string(), errno == ELOOP ? "a symbolic link, not a folder" : std::strerror(errno)};
        return;
    }
    struct stat info {};
    if (::fstat(directory.get(), &info) != 0 || info.st_uid != ::getuid()) {
        openError_ = LogStoreError{folder_.string(), "a folder of another user's"};
        return;
    }
    prune();
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (attempt > 0) {
            runId_ = newRunId(clock_.date());
            file_ = folder_ / (runId_ + std::string(kExtension));
        }
        fd_.reset(::openat(directory.get(), file_.filename().c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_APPEND | O_CLOEXEC, 0600));
        if (fd_.isOpen() || errno != EEXIST) break;
    }
    if (!fd_.isOpen()) openError_ = LogStoreError{file_.string(), std::strerror(errno)};
}

void LogStore::prune() {
    std::vector<fs::path> runs;
    std::error_code error;
    for (const auto& item : fs::directory_iterator(folder_, error)) {
        const auto& path = item.path();
        if (path.extension() == kExtension && path != file_ && item.is_regular_file(error))
            runs.push_back(path);
    }
    // Run ids begin with their UTC start time, so names sort from oldest to newest.
    std::sort(runs.begin(), runs.end());
    if (runs.size() <= keptRuns) return;
    for (std::size_t i = 0; i + keptRuns < runs.size(); ++i) fs::remove(runs[i], error);
}

void LogStore::write(std::string_view subsystem, std::string_view category, LogLevel level,
                     std::string_view message) {
    Date now = clock_.date();
    nlohmann::ordered_json entry = {
        {"time", isoTime(now)},
        {"run", runId_},
        {"subsystem", subsystem},
        {"category", category},
        {"level", std::string(toText(level))},
        {"message", message},
    };
    // Bytes that are not UTF-8 are replaced rather than refused: logging never fails.
    std::string line =
        entry.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    std::lock_guard lock(writeLock_);
    if (fd_.isOpen()) {
        std::string_view rest = line;
        while (!rest.empty()) {
            auto written = ::write(fd_.get(), rest.data(), rest.size());
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) break;
            rest.remove_prefix(std::size_t(written));
        }
    }
    if (mirror_) {
        std::string mirrored = std::string(category) + " " + std::string(toText(level)) + ": " +
                               terminalText(message) + "\n";
        [[maybe_unused]] auto written = ::write(STDERR_FILENO, mirrored.data(), mirrored.size());
    }
}

Result<std::vector<LogEntry>, LogStoreError> LogStore::entries(std::string_view subsystem) const {
    if (openError_) return *openError_;
    std::ifstream in(file_, std::ios::binary);
    if (!in) return LogStoreError{file_.string(), std::strerror(errno)};
    std::vector<LogEntry> found;
    std::string line;
    while (std::getline(in, line)) {
        auto json = nlohmann::json::parse(line, nullptr, false);
        if (!json.is_object()) continue;  // torn or foreign line
        auto text = [&](const char* key) -> std::optional<std::string> {
            auto it = json.find(key);
            if (it == json.end() || !it->is_string()) return std::nullopt;
            return it->get<std::string>();
        };
        auto time = text("time"), run = text("run"), sub = text("subsystem"),
             category = text("category"), level = text("level"), message = text("message");
        if (!time || !run || !sub || !category || !level || !message) continue;
        auto date = parseIsoTime(*time);
        auto parsedLevel = levelFromText(*level);
        if (!date || !parsedLevel || *run != runId_ || *sub != subsystem) continue;
        found.push_back(LogEntry{*date, *run, *sub, *category, *parsedLevel, *message});
    }
    if (in.bad()) return LogStoreError{file_.string(), "the file could not be read"};
    return found;
}

}  // namespace tindlewave
