#include "Platform/Linux/System/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "Platform/Linux/System/UniqueFd.h"

namespace tindlewave::files {
namespace {

std::string folderOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The file a write lands in: the target of a symbolic link of this user's own, else the path
// itself.
std::string writeTarget(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode) || info.st_uid != ::getuid())
        return path;
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) return path;
    return resolved;
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

std::atomic<unsigned> temporaryCounter{0};

std::string temporaryPrefix(const std::string& target) {
    return target + ".tmp-";
}

// Refuses what is not a regular file; a folder keeps the system's own word for it.
std::optional<SystemError> notARegularFile(const struct stat& info) {
    if (S_ISDIR(info.st_mode)) return SystemError::fromCode(EISDIR);
    if (!S_ISREG(info.st_mode)) return SystemError{EINVAL, "not a regular file"};
    return std::nullopt;
}

SystemError longerThan(std::size_t limit) {
    constexpr std::size_t mebibyte = std::size_t{1} << 20;
    std::string size = limit % mebibyte == 0 && limit > 0
                           ? std::to_string(limit / mebibyte) + " MiB"
                           : std::to_string(limit) + " bytes";
    return {EFBIG, "larger than " + size};
}

// The process id in a temporary's name ("<file>.tmp-<pid>-<n>"), if the name is one.
std::optional<pid_t> writerOf(std::string_view name, std::string_view prefix) {
    if (!name.starts_with(prefix)) return std::nullopt;
    name.remove_prefix(prefix.size());
    pid_t pid = 0;
    auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (error != std::errc() || pid <= 0 || end == name.data() + name.size() || *end != '-')
        return std::nullopt;
    std::string_view counter(end + 1, name.data() + name.size() - (end + 1));
    if (counter.empty() || counter.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    return pid;
}

// Whether the process is known to be gone (a process of another user's that runs is not).
bool hasEnded(pid_t pid) {
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

// The process id in a run folder's name ("<prefix><pid>-XXXXXX"), if the name is one.
std::optional<pid_t> runOf(std::string_view name, std::string_view prefix) {
    if (!name.starts_with(prefix)) return std::nullopt;
    name.remove_prefix(prefix.size());
    pid_t pid = 0;
    auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (error != std::errc() || pid <= 0 || name.data() + name.size() - end != 7 || *end != '-') return std::nullopt;
    return pid;
}

struct CloseListing {
    void operator()(DIR* directory) const { ::closedir(directory); }
};
using Listing = std::unique_ptr<DIR, CloseListing>;

// A folder opened for listing, or null. Opened here and handed to fdopendir rather than through
// opendir, whose own open the thread sanitizer does not see: it took closedir for a race with
// another thread's earlier use of the same descriptor number.
Listing listingOf(const std::string& folder) {
    UniqueFd listed(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (listed.get() < 0) return nullptr;
    DIR* directory = ::fdopendir(listed.get());
    if (directory != nullptr) listed.release();
    return Listing(directory);
}

}  // namespace

void removeEndedRuns(const std::string& folder, std::string_view prefix) {
    const Listing directory = listingOf(folder);
    if (!directory) return;
    std::vector<std::string> ended;
    while (const dirent* entry = ::readdir(directory.get())) {
        const auto run = runOf(entry->d_name, prefix);
        if (!run || *run == ::getpid() || !hasEnded(*run)) continue;
        struct stat info {};
        if (::fstatat(::dirfd(directory.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(info.st_mode) && info.st_uid == ::getuid())
            ended.push_back(folder + "/" + entry->d_name);
    }
    // A folder of this user's own, which no one else can rename in a shared temporary folder (it
    // is sticky) nor change inside (mode 0700); remove_all removes links, never what they point to.
    for (const auto& path : ended) {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
}

Result<std::string, SystemError> runFolder(const std::string& folder, const std::string& prefix) {
    removeEndedRuns(folder, prefix);
    std::string fresh = folder + "/" + prefix + std::to_string(::getpid()) + "-XXXXXX";
    if (::mkdtemp(fresh.data()) == nullptr) return SystemError::fromErrno();
    atExit([fresh] {
        std::error_code ignored;
        std::filesystem::remove_all(fresh, ignored);
    });
    return fresh;
}

void atExit(std::function<void()> job) {
    struct Jobs {
        std::mutex mutex;
        std::vector<std::function<void()>> jobs;
        pid_t owner = ::getpid();
    };
    // Made before the handler is registered, so destroyed after it has run.
    static Jobs registered;
    static const bool handled = std::atexit([] {
        if (::getpid() != registered.owner) return;
        std::lock_guard lock(registered.mutex);
        for (auto& each : registered.jobs) each();
        registered.jobs.clear();
    }) == 0;
    (void)handled;
    std::lock_guard lock(registered.mutex);
    registered.jobs.push_back(std::move(job));
}

Result<std::string, SystemError> read(const std::string& path, std::size_t limit) {
    // Looked at before opening, since opening a device can itself do something.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return SystemError::fromErrno();
    if (auto refused = notARegularFile(info)) return *refused;
    // Non-blocking, so a FIFO put under the name meanwhile cannot stall the reader.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) return SystemError::fromErrno();
    if (::fstat(fd.get(), &info) != 0) return SystemError::fromErrno();
    if (auto refused = notARegularFile(info)) return *refused;
    if (static_cast<std::uint64_t>(info.st_size) > limit) return longerThan(limit);
    std::string content;
    content.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        // One byte past the limit is enough to know the file is too long.
        const std::size_t room = limit - content.size();
        const std::size_t wanted = room < sizeof buffer ? room + 1 : sizeof buffer;
        ssize_t got = ::read(fd.get(), buffer, wanted);
        if (got < 0) {
            if (errno == EINTR) continue;
            return SystemError::fromErrno();
        }
        if (got == 0) break;
        content.append(buffer, static_cast<std::size_t>(got));
        if (content.size() > limit) return longerThan(limit);
    }
    return content;
}

Result<std::string, SystemError> privateFolder(const std::string& path) {
    if (path.empty()) return SystemError::fromCode(ENOENT);
    if (const std::string above = folderOf(path); above != path) {
        if (auto made = makeFolders(above); !made.ok()) return made.error();
    }
    if (::mkdir(path.c_str(), 0700) == 0) return path;  // the umask can only take bits away
    if (errno != EEXIST) return SystemError::fromErrno();
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid() &&
        (info.st_mode & 077) == 0) {
        return path;
    }
    std::string fresh = path + "-XXXXXX";
    if (::mkdtemp(fresh.data()) == nullptr) return SystemError::fromErrno();
    return fresh;
}

namespace {

// Whether this user may keep files at `path`: a folder of the user's own, or a missing one below
// the nearest folder that exists, when that is the user's own or root's and no one else may
// write to it.
bool mayHoldOwnFiles(std::string path) {
    struct stat info {};
    bool missing = false;
    while (::stat(path.c_str(), &info) != 0) {
        if (errno != ENOENT) return false;
        missing = true;
        const std::string parent = folderOf(path);
        if (parent == path) return false;
        path = parent;
    }
    if (!S_ISDIR(info.st_mode)) return false;
    if (info.st_uid == ::getuid()) return true;
    return missing && info.st_uid == 0 && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The variable's value when it is an absolute path: the folder it names, or nothing.
const char* absoluteValue(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && value[0] == '/' ? value : nullptr;
}

constexpr const char* placeVariables[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME",
                                          "XDG_STATE_HOME", "XDG_RUNTIME_DIR"};

// Whether the variable names a folder this user may keep files in (see environmentFolder).
bool ownPlace(const char* variable, const char* value) {
    if (!mayHoldOwnFiles(value)) return false;
    struct stat info {};
    return std::string_view(variable) != "XDG_RUNTIME_DIR" || ::stat(value, &info) == 0;
}

// Whether no user but this one and root can change the folder or any folder above it.
bool noOtherUserCanChange(const std::string& resolved) {
    std::string path = resolved;
    for (;;) {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
        if (info.st_uid != ::getuid() && info.st_uid != 0) return false;
        // A shared folder of root's (the temporary folder itself) is sticky: no one renames
        // another's entries there.
        if (info.st_uid != ::getuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) != 0 &&
            (info.st_mode & S_ISVTX) == 0)
            return false;
        const std::string parent = folderOf(path);
        if (parent == path) return true;
        path = parent;
    }
}

}  // namespace

std::string environmentFolder(const char* variable) {
    const char* value = absoluteValue(variable);
    return value != nullptr && ownPlace(variable, value) ? value : std::string();
}

std::string baseFolder(const char* variable, std::string_view underHome) {
    if (std::string folder = environmentFolder(variable); !folder.empty()) return folder;
    return (std::filesystem::path(homeFolder()) / underHome).string();
}

void useOwnFoldersOnly() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0' && !mayHoldOwnFiles(home)) {
        const std::string own = homeFolder();
        if (own.empty())
            ::unsetenv("HOME");
        else
            ::setenv("HOME", own.c_str(), 1);
    }
    for (const char* variable : placeVariables)
        if (std::string_view(variable) != "HOME" && std::getenv(variable) != nullptr &&
            environmentFolder(variable).empty())
            ::unsetenv(variable);
    if (const char* temporary = std::getenv("TMPDIR"); temporary != nullptr && *temporary != '\0') {
        char resolved[PATH_MAX];
        if (::realpath(temporary, resolved) != nullptr && temporaryFolder() != resolved) ::unsetenv("TMPDIR");
    }
    for (const char* variable : {"XDG_CONFIG_DIRS", "XDG_DATA_DIRS"}) {
        const char* value = std::getenv(variable);
        if (value == nullptr) continue;
        std::string kept;
        std::string_view rest = value;
        while (!rest.empty()) {
            const auto colon = rest.find(':');
            const std::string folder(rest.substr(0, colon));
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
            char resolved[PATH_MAX];
            if (folder.empty() || folder[0] != '/' || ::realpath(folder.c_str(), resolved) == nullptr ||
                !noOtherUserCanChange(resolved))
                continue;
            kept += (kept.empty() ? "" : ":") + folder;
        }
        // Empty is as good as unset for the readers: their system defaults count.
        if (kept.empty())
            ::unsetenv(variable);
        else
            ::setenv(variable, kept.c_str(), 1);
    }
}

std::string temporaryFolder() {
    const char* value = std::getenv("TMPDIR");
    if (value == nullptr || *value == '\0') return "/tmp";
    char resolved[PATH_MAX];
    if (::realpath(value, resolved) == nullptr) {
        struct stat info {};
        return ::lstat(value, &info) != 0 && errno == ENOENT ? value : "/tmp";
    }
    return noOtherUserCanChange(resolved) ? resolved : "/tmp";
}

std::optional<std::string> foldersOfAnotherUser() {
    std::string named;
    for (const char* variable : placeVariables) {
        const char* value = absoluteValue(variable);
        if (value == nullptr || ownPlace(variable, value)) continue;
        named += std::string(named.empty() ? "" : ", ") + variable + " (" + value + ")";
    }
    if (named.empty()) return std::nullopt;
    const std::string home = homeFolder();
    return named + " names a folder of another user's, which this run leaves alone: its settings, state and log are " +
           (home.empty() ? std::string("not kept") : "kept under " + home + ", the home of the user it runs as");
}

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0' && mayHoldOwnFiles(home))
        return home;
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return {};
}

Result<std::monostate, SystemError> makeFolders(const std::string& path) {
    if (path.empty()) return SystemError::fromCode(ENOENT);
    std::vector<std::string> missing;
    std::string current = path;
    struct stat info {};
    while (::stat(current.c_str(), &info) != 0) {
        if (errno != ENOENT) return SystemError::fromErrno();
        missing.push_back(current);
        std::string parent = folderOf(current);
        if (parent == current) break;
        current = parent;
    }
    if (missing.empty() && !S_ISDIR(info.st_mode)) return SystemError::fromCode(ENOTDIR);
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (::mkdir(it->c_str(), 0777) != 0 && errno != EEXIST) return SystemError::fromErrno();
    }
    return std::monostate{};
}

void failWritesPastTheSizeLimit() {
    static const bool done = [] {
        struct sigaction current {};
        if (::sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
            struct sigaction ignore {};
            ignore.sa_handler = SIG_IGN;
            sigemptyset(&ignore.sa_mask);
            ::sigaction(SIGXFSZ, &ignore, nullptr);
        }
        return true;
    }();
    (void)done;
}

void removeStaleTemporaries(const std::string& path) {
    const std::string target = writeTarget(path);
    const std::string folder = folderOf(target);
    const std::string name = target.substr(target.find_last_of('/') + 1);  // npos + 1 is 0
    const std::string prefix = temporaryPrefix(name);
    const Listing directory = listingOf(folder);
    if (!directory) return;
    const pid_t self = ::getpid();
    while (const dirent* entry = ::readdir(directory.get())) {
        auto writer = writerOf(entry->d_name, prefix);
        if (!writer || *writer == self) continue;
        // Only a process that no longer exists is known to have given up its temporary.
        if (::kill(*writer, 0) != 0 && errno == ESRCH)
            ::unlinkat(::dirfd(directory.get()), entry->d_name, 0);
    }
}

Result<std::monostate, SystemError> writeAtomically(const std::string& path,
                                                    std::string_view bytes) {
    failWritesPastTheSizeLimit();
    const std::string target = writeTarget(path);
    const std::string folder = folderOf(target);
    const std::string name = target.substr(target.find_last_of('/') + 1);  // npos + 1 is 0
    // Everything below goes through the folder once opened and checked, so nothing can move it.
    UniqueFd directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() < 0) return SystemError::fromErrno();
    struct stat folderInfo {};
    if (::fstat(directory.get(), &folderInfo) != 0) return SystemError::fromErrno();
    if (folderInfo.st_uid != ::getuid() && (folderInfo.st_mode & S_ISVTX) == 0)
        return SystemError{EACCES, folder + " is a folder of another user's"};
    // A new file gets the usual mode (0666 less the umask, applied by open); a replaced file
    // keeps its own.
    std::string temporary;
    int opened = -1;
    for (int attempt = 0; attempt < 100 && opened < 0; ++attempt) {
        temporary = temporaryPrefix(name) + std::to_string(::getpid()) + "-" +
                    std::to_string(temporaryCounter.fetch_add(1));
        opened = ::openat(directory.get(), temporary.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (opened < 0 && errno != EEXIST) return SystemError::fromErrno();
    }
    if (opened < 0) return SystemError::fromCode(EEXIST);
    UniqueFd fd(opened);

    auto fail = [&](SystemError error) {
        ::unlinkat(directory.get(), temporary.c_str(), 0);
        return error;
    };
    struct stat existing {};
    if (::fstatat(directory.get(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(existing.st_mode) && ::fchmod(fd.get(), existing.st_mode & 07777) != 0)
        return fail(SystemError::fromErrno());
    if (!writeAll(fd.get(), bytes)) return fail(SystemError::fromErrno());
    if (::fsync(fd.get()) != 0) return fail(SystemError::fromErrno());
    if (!fd.close()) return fail(SystemError::fromErrno());
    if (::renameat(directory.get(), temporary.c_str(), directory.get(), name.c_str()) != 0)
        return fail(SystemError::fromErrno());
    // Make the rename itself durable; the write has happened either way.
    ::fsync(directory.get());
    return std::monostate{};
}

}  // namespace tindlewave::files
