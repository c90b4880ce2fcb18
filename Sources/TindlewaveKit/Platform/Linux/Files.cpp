#include "Platform/Linux/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

namespace tindlewave::files {
namespace {

// Closes a descriptor on scope exit.
class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // Closes now, reporting the error of close (which may be a deferred write error).
    bool close() { return ::close(std::exchange(fd_, -1)) == 0; }

  private:
    int fd_;
};

std::string folderOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The file a write lands in: the target of a symbolic link, else the path itself.
std::string writeTarget(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
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

}  // namespace

Result<std::string, SystemError> read(const std::string& path) {
    // Non-blocking, so a FIFO or a device under the name cannot stall the reader; it has no
    // effect on a regular file.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) return SystemError::fromErrno();
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return SystemError::fromErrno();
    if (S_ISDIR(info.st_mode)) return SystemError::fromCode(EISDIR);
    std::string content;
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            return SystemError::fromErrno();
        }
        if (got == 0) break;
        content.append(buffer, static_cast<std::size_t>(got));
    }
    return content;
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

Result<std::monostate, SystemError> writeAtomically(const std::string& path,
                                                    std::string_view bytes) {
    const std::string target = writeTarget(path);
    const std::string folder = folderOf(target);
    // A new file gets the usual mode (0666 less the umask, applied by open); a replaced file
    // keeps its own.
    std::string temporary;
    int opened = -1;
    for (int attempt = 0; attempt < 100 && opened < 0; ++attempt) {
        temporary = target + ".tmp-" + std::to_string(::getpid()) + "-" +
                    std::to_string(temporaryCounter.fetch_add(1));
        opened = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (opened < 0 && errno != EEXIST) return SystemError::fromErrno();
    }
    if (opened < 0) return SystemError::fromCode(EEXIST);
    Fd fd(opened);

    auto fail = [&temporary](SystemError error) {
        ::unlink(temporary.c_str());
        return error;
    };
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0 && ::fchmod(fd.get(), existing.st_mode & 07777) != 0)
        return fail(SystemError::fromErrno());
    if (!writeAll(fd.get(), bytes)) return fail(SystemError::fromErrno());
    if (::fsync(fd.get()) != 0) return fail(SystemError::fromErrno());
    if (!fd.close()) return fail(SystemError::fromErrno());
    if (::rename(temporary.c_str(), target.c_str()) != 0) return fail(SystemError::fromErrno());
    // Make the rename itself durable; the write has happened either way.
    Fd directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() >= 0) ::fsync(directory.get());
    return std::monostate{};
}

}  // namespace tindlewave::files
