#include "Platform/Linux/KeyMap/BaselineFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <memory>
#include <utility>

#include "Platform/Linux/System/Files.h"
#include "Platform/Linux/System/UniqueFd.h"

namespace tindlewave {

namespace {

// Far above any keyboard's baseline (a 16384-entry table takes about 300 KiB).
constexpr off_t largestFile = off_t{4} << 20;
constexpr std::string_view extension = ".json";
constexpr std::string_view temporaryMark = ".json.tmp-";

std::atomic<unsigned> temporaryCounter{0};

bool isPlainName(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' ||
              c == '_'))
            return false;
    return true;
}

// Writable by nobody but its owner, and the owner is this user.
bool isOwnAndPrivate(const struct stat& info) {
    return info.st_uid == ::geteuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The writer of a temporary ("<file>.json.tmp-<pid>-<n>"), if the name is one.
std::optional<pid_t> writerOf(std::string_view name) {
    const auto mark = name.find(temporaryMark);
    if (mark == std::string_view::npos) return std::nullopt;
    name.remove_prefix(mark + temporaryMark.size());
    pid_t pid = 0;
    auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (error != std::errc() || pid <= 0 || end == name.data() + name.size() || *end != '-')
        return std::nullopt;
    return pid;
}

}  // namespace

BaselineFolder::BaselineFolder(std::string path, std::string bootID)
    : path_(std::move(path)), bootID_(std::move(bootID)) {}

std::optional<std::string> BaselineFolder::fileName(std::string_view input) const {
    if (!isPlainName(bootID_) || !isPlainName(input)) return std::nullopt;
    return bootID_ + "-" + std::string(input) + std::string(extension);
}

UniqueFd BaselineFolder::open() const {
    if (path_.empty() || path_.front() != '/') return {};
    const auto slash = path_.find_last_of('/');
    if (slash > 0 && !files::makeFolders(path_.substr(0, slash)).ok()) return {};
    if (::mkdir(path_.c_str(), 0700) != 0 && errno != EEXIST) return {};
    UniqueFd fd(::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.isOpen()) return {};
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() ||
        (info.st_mode & 077) != 0)
        return {};
    return fd;
}

std::optional<std::string> BaselineFolder::read(std::string_view input) const {
    const auto name = fileName(input);
    if (!name) return std::nullopt;
    const UniqueFd folder = open();
    if (folder.get() < 0) return std::nullopt;
    // Non-blocking, so that a FIFO under the name cannot stall the open.
    UniqueFd file(
        ::openat(folder.get(), name->c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0) return std::nullopt;
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) || !isOwnAndPrivate(info) ||
        info.st_size > largestFile)
        return std::nullopt;
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::nullopt;
        if (got == 0) break;
        text.append(buffer, std::size_t(got));
        if (text.size() > std::size_t(largestFile)) return std::nullopt;
    }
    return text;
}

bool BaselineFolder::write(std::string_view input, std::string_view text) const {
    const auto name = fileName(input);
    if (!name) return false;
    const UniqueFd folder = open();
    if (folder.get() < 0) return false;
    const std::string temporary = *name + ".tmp-" + std::to_string(::getpid()) + "-" +
                                  std::to_string(temporaryCounter.fetch_add(1));
    // No fsync: a baseline only matters within its boot, and the page cache outlives a killed
    // run; after a machine crash the boot id is new anyway.
    bool written = false;
    {
        UniqueFd file(::openat(folder.get(), temporary.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (file.get() < 0) return false;
        written = true;
        for (std::string_view rest = text; written && !rest.empty();) {
            const ssize_t count = ::write(file.get(), rest.data(), rest.size());
            if (count < 0 && errno == EINTR) continue;
            if (count <= 0) written = false;
            else rest.remove_prefix(std::size_t(count));
        }
    }
    // rename replaces whatever is under the name, a link included, without following it.
    if (written && ::renameat(folder.get(), temporary.c_str(), folder.get(), name->c_str()) == 0) return true;
    ::unlinkat(folder.get(), temporary.c_str(), 0);
    return false;
}

void BaselineFolder::removeStale(const std::function<bool(std::string_view input)>& present) const {
    if (!isPlainName(bootID_)) return;  // which files are this boot's is not known
    const UniqueFd folder = open();
    if (folder.get() < 0) return;
    UniqueFd listed(::dup(folder.get()));
    if (!listed.isOpen()) return;
    const std::unique_ptr<DIR, int (*)(DIR*)> directory(::fdopendir(listed.get()), ::closedir);
    if (!directory) return;
    listed.release();  // the listing's now
    const std::string thisBoot = bootID_ + "-";
    const pid_t self = ::getpid();
    while (const dirent* entry = ::readdir(directory.get())) {
        const std::string_view name = entry->d_name;
        const auto writer = writerOf(name);
        if (!writer && !name.ends_with(extension)) continue;
        if (name.starts_with(thisBoot) && writer) {
            // This boot's temporary: it goes only once its writer no longer runs.
            if (*writer == self || ::kill(*writer, 0) == 0 || errno != ESRCH) continue;
        } else if (name.starts_with(thisBoot)) {
            // This boot's baseline: it goes with its node.
            const auto input = name.substr(thisBoot.size(), name.size() - thisBoot.size() - extension.size());
            if (!isPlainName(input) || present(input)) continue;
        }
        struct stat info {};
        if (::fstatat(folder.get(), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(info.st_mode))
            continue;
        ::unlinkat(folder.get(), entry->d_name, 0);
    }
}

}  // namespace tindlewave
