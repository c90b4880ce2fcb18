#pragma once

#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace tindlewave {

// Whether the program's login session is the active one (logind's session property "Active"
// over sd-bus): it goes false when the user switches to another user's session or another
// console, and true again on the way back. The session is logind's answer for this process
// ("auto"); only changes sent by the owner of "org.freedesktop.login1" count.
//
// Descriptor-driven like LogindSleepWatch: the owner waits for fd() to become readable and calls
// process(). One thread or executor owns it.
class LogindSessionWatch {
  public:
    struct Unavailable {
        std::string reason;
    };

    // Connects, finds the session, reads whether it is active and subscribes (round trips to
    // the bus, made here).
    static std::variant<std::unique_ptr<LogindSessionWatch>, Unavailable> open();
    ~LogindSessionWatch();
    LogindSessionWatch(const LogindSessionWatch&) = delete;
    LogindSessionWatch& operator=(const LogindSessionWatch&) = delete;

    int fd() const;
    bool isActive() const { return active_; }
    const std::string& sessionPath() const { return path_; }
    // Reads everything waiting without blocking; the values of "Active" received, in order.
    // Once the connection is lost it returns nothing and isConnected() is false.
    std::vector<bool> process();
    bool isConnected() const { return connected_; }

  private:
    struct Bus;
    LogindSessionWatch(std::unique_ptr<Bus> bus, std::string path, bool active);

    std::unique_ptr<Bus> bus_;
    std::string path_;
    bool active_ = true;
    std::vector<bool> received_;
    bool connected_ = true;
};

}  // namespace tindlewave
