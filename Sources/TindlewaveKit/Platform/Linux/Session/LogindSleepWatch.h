#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace tindlewave {

// logind's "PrepareForSleep" signal on the system bus, read through sd-bus: the argument is true
// as the system goes to sleep and false once it has resumed. The system bus is the one named by
// DBUS_SYSTEM_BUS_ADDRESS, else the standard socket. Only signals sent by the owner of
// "org.freedesktop.login1" are delivered (the bus checks the sender).
//
// This is only the descriptor-driven part: the owner waits for fd() to become readable (an
// executor's fd source) and then calls process(). One thread or executor owns it.
class LogindSleepWatch {
  public:
    // Why no watch could be made: no reachable system bus, or the bus refused the match.
    struct Unavailable {
        std::string reason;
    };

    // Connects and subscribes (one round trip to the bus, made here).
    static std::variant<std::unique_ptr<LogindSleepWatch>, Unavailable> open();
    ~LogindSleepWatch();
    LogindSleepWatch(const LogindSleepWatch&) = delete;
    LogindSleepWatch& operator=(const LogindSleepWatch&) = delete;

    int fd() const;
    // Reads everything waiting without blocking; the arguments of the signals received, in
    // order. Once the connection is lost it returns nothing and isConnected() is false.
    std::vector<bool> process();
    bool isConnected() const { return connected_; }

  private:
    struct Bus;
    explicit LogindSleepWatch(std::unique_ptr<Bus> bus);

    std::unique_ptr<Bus> bus_;
    std::vector<bool> received_;
    bool connected_ = true;
};

}  // namespace tindlewave
