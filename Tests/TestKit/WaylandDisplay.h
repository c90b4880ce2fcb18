#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include "TestKit/TempFolder.h"

extern char** environ;

namespace tindlewave::testkit {

// A Wayland compositor of the test's own: weston's headless back end (no GPU, no seat), its socket
// in a runtime folder of its own, without the test's preloaded libraries (a device emulation's
// stays the test's).
class WaylandDisplay {
  public:
    WaylandDisplay() {
        if (runtime_.path().empty()) return;
        const std::string socket = "wayland-tw";
        const std::string runtimeVariable = "XDG_RUNTIME_DIR=" + runtime_.path().string();
        const std::string socketOption = "--socket=" + socket;
        const char* argv[] = {"weston", "--backend=headless-backend.so", "--shell=kiosk-shell.so",
                              "--no-config", "--idle-time=0", socketOption.c_str(), nullptr};
        std::vector<char*> environment;
        for (char** variable = environ; *variable; ++variable)
            if (!startsWithAny(*variable, {"LD_PRELOAD=", "XDG_RUNTIME_DIR=", "WAYLAND_DISPLAY=",
                                           "WAYLAND_SOCKET=", "DISPLAY="}))
                environment.push_back(*variable);
        environment.push_back(const_cast<char*>(runtimeVariable.c_str()));
        environment.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawnp(&pid_, "weston", &actions, nullptr, const_cast<char**>(argv), environment.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        if (pid_ <= 0) return;
        // Its socket is there once it listens; a compositor that ended gives none.
        const std::string path = runtime_ / socket;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < end) {
            struct stat info {};
            if (::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) {
                name_ = path;
                return;
            }
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~WaylandDisplay() { close(); }
    WaylandDisplay(const WaylandDisplay&) = delete;
    WaylandDisplay& operator=(const WaylandDisplay&) = delete;

    // Its WAYLAND_DISPLAY value (the socket's path); empty when weston is not there or did not
    // start.
    const std::string& name() const { return name_; }

    // The compositor ends (SIGTERM, as at a logout) and is waited for: every connection to it
    // breaks.
    void close() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

  private:
    static bool startsWithAny(const char* variable, std::initializer_list<const char*> prefixes) {
        for (const char* prefix : prefixes)
            if (std::strncmp(variable, prefix, std::strlen(prefix)) == 0) return true;
        return false;
    }

    TempFolder runtime_;
    pid_t pid_ = -1;
    std::string name_;
};

}  // namespace tindlewave::testkit
