#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace tindlewave::testkit {

// An X display that takes every connection and never answers: a client waits for the server's
// greeting until the display goes (close()), when its connection breaks. Listens on the abstract
// socket of the first free display number from 700 on, which X clients on Linux try first.
class SilentDisplay {
  public:
    SilentDisplay() {
        for (int number = 700; number < 800 && fd_ < 0; ++number) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (fd < 0) return;
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            const int length = std::snprintf(address.sun_path + 1, sizeof address.sun_path - 1,
                                             "/tmp/.X11-unix/X%d", number);
            const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
            if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), size) == 0 && ::listen(fd, 64) == 0) {
                fd_ = fd;
                name_ = ":" + std::to_string(number);
            } else {
                ::close(fd);
            }
        }
    }
    ~SilentDisplay() { close(); }
    SilentDisplay(const SilentDisplay&) = delete;
    SilentDisplay& operator=(const SilentDisplay&) = delete;

    // Its DISPLAY value; empty when no display number was free.
    const std::string& name() const { return name_; }

    // The display goes: every connection waiting on it breaks.
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_ = -1;
    std::string name_;
};

}  // namespace tindlewave::testkit
