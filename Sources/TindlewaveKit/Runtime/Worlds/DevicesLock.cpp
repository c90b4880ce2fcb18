#include "Runtime/Worlds/DevicesLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "Platform/Linux/System/Files.h"
#include "Runtime/Stores/Defaults.h"

namespace tindlewave {

namespace {
// The process id the holder wrote, or empty when there is none yet (it writes it just after
// taking the lock).
std::string holderOf(int fd) {
    char text[32] = {};
    const auto got = ::pread(fd, text, sizeof text - 1, 0);
    std::string pid(text, got > 0 ? static_cast<std::size_t>(got) : 0);
    while (!pid.empty() && (pid.back() == '\n' || pid.back() == '\0')) pid.pop_back();
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) return {};
    return pid;
}
}  // namespace

std::string DevicesLock::defaultFile() {
    return (Defaults::defaultFile().parent_path() / "running").string();
}

std::variant<DevicesLock, std::string> DevicesLock::take() { return take(defaultFile()); }

std::variant<DevicesLock, std::string> DevicesLock::take(const std::string& file) {
    DevicesLock lock;
    auto unheld = [&](const std::string& why) {
        lock.warning_ = "cannot make sure that no other Tindlewave runs over this computer's devices: " +
                        file + ": " + why;
        return std::move(lock);
    };
    const auto folder = std::filesystem::path(file).parent_path().string();
    if (auto made = files::makeFolders(folder); !made.ok()) return unheld(made.error().description);
    // Never through a link, and never a FIFO or device put under the name.
    UniqueFd fd(::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (!fd.isOpen()) return unheld(SystemError::fromErrno().description);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return unheld("not a regular file");
    while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) return unheld(SystemError::fromErrno().description);
        const std::string pid = holderOf(fd.get());
        return "Tindlewave runs already over this computer's devices" +
               (pid.empty() ? std::string() : " (process " + pid + ")") +
               ": quit it first, or use --simulate to run beside it";
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd.get(), 0) != 0 || ::pwrite(fd.get(), pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size()))
        return unheld(SystemError::fromErrno().description);
    lock.fd_ = std::move(fd);
    return lock;
}

}  // namespace tindlewave
