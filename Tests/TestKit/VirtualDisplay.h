#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace tindlewave::testkit {

// An X server of the test's own (Xvfb picks a free display and tells its number), without the
// test's preloaded libraries (a device emulation's stays the test's).
class VirtualDisplay {
  public:
    VirtualDisplay() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        std::string fd = std::to_string(fds[1]);
        const char* argv[] = {"Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "800x600x24",
                              "-nolisten", "tcp", "-noreset", nullptr};
        std::vector<char*> environment;
        for (char** variable = environ; *variable; ++variable)
            if (std::strncmp(*variable, "LD_PRELOAD=", 11) != 0) environment.push_back(*variable);
        environment.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawnp(&pid_, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environment.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        char number[16] = {};
        if (pid_ > 0 && ::read(fds[0], number, sizeof number - 1) > 0) name_ = ":" + std::to_string(std::atoi(number));
        // Kept open while the server runs: it may write the rest of its line later, and a
        // closed pipe ends it.
        announcements_ = fds[0];
    }
    ~VirtualDisplay() { close(); }
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    // Its DISPLAY value; empty when Xvfb is not there or did not start.
    const std::string& name() const { return name_; }

    // The server ends (SIGTERM, as at a logout) and is waited for: every connection to it breaks.
    void close() {
        if (announcements_ >= 0) ::close(announcements_);
        announcements_ = -1;
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
    int announcements_ = -1;
    std::string name_;
};

}  // namespace tindlewave::testkit
