#pragma once

#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "TestKit/TempFolder.h"

extern char** environ;

namespace tindlewave::testkit {

// A dbus-daemon of the test's own, on a unix socket in a temporary folder, that lets any
// connection own any name and send anything. While it lives, DBUS_SYSTEM_BUS_ADDRESS points at
// it (the previous value comes back afterwards), so "the system bus" means this one.
class PrivateSystemBus {
  public:
    PrivateSystemBus() {
        socket_ = folder_ / "bus";
        std::string config = folder_ / "bus.conf";
        TempFolder::write(config, R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=)" + socket_ + R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_type="method_return"/>
    <allow send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="signal"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
  </policy>
</busconfig>
)");
        std::string configArgument = "--config-file=" + config;
        const char* argv[] = {"dbus-daemon", configArgument.c_str(), "--nofork", "--nopidfile",
                              nullptr};
        if (posix_spawnp(&pid_, "dbus-daemon", nullptr, nullptr, const_cast<char**>(argv),
                         environ) != 0) {
            pid_ = -1;
            return;
        }
        // The socket file appears when the daemon binds it, a moment before it listens, so wait
        // until a connection is accepted; a daemon that never accepts one fails the test through
        // isRunning().
        auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!(accepting_ = acceptsConnection()) && std::chrono::steady_clock::now() < limit) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (const char* previous = ::getenv("DBUS_SYSTEM_BUS_ADDRESS")) previous_ = previous;
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address().c_str(), 1);
    }

    ~PrivateSystemBus() {
        if (previous_) {
            ::setenv("DBUS_SYSTEM_BUS_ADDRESS", previous_->c_str(), 1);
        } else {
            ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        }
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
    }

    PrivateSystemBus(const PrivateSystemBus&) = delete;
    PrivateSystemBus& operator=(const PrivateSystemBus&) = delete;

    bool isRunning() const { return pid_ > 0 && accepting_; }
    std::string address() const { return "unix:path=" + socket_; }

  private:
    bool acceptsConnection() const {
        sockaddr_un where{};
        where.sun_family = AF_UNIX;
        if (socket_.size() >= sizeof(where.sun_path)) return false;
        socket_.copy(where.sun_path, socket_.size());
        int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (probe < 0) return false;
        bool connected = ::connect(probe, reinterpret_cast<const sockaddr*>(&where), sizeof where) == 0;
        ::close(probe);
        return connected;
    }

    TempFolder folder_;
    std::string socket_;
    pid_t pid_ = -1;
    bool accepting_ = false;
    std::optional<std::string> previous_;
};

}  // namespace tindlewave::testkit
