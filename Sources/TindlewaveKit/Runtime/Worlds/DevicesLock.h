#pragma once

#include <string>
#include <variant>

#include "Platform/Linux/System/UniqueFd.h"

namespace tindlewave {

// Over this computer's devices one program of a user runs at a time (the window program or the
// headless one): two would grab the same nodes and write the same key tables. The program holds
// a lock on a file in its state folder ("running" beside defaults.json) for as long as it runs; the
// kernel lets go of it when the process ends however it ends, so a killed program's lock never
// stands in the way. The file holds the holder's process id. Simulated runs take no lock.
class DevicesLock {
  public:
    // The lock, or the line saying that another program holds it (with its process id). A lock
    // file that cannot be made or locked (a home that cannot be written) does not keep the program
    // from running: the lock then holds nothing and `warning()` says why.
    static std::variant<DevicesLock, std::string> take();
    static std::variant<DevicesLock, std::string> take(const std::string& file);
    static std::string defaultFile();

    bool held() const { return fd_.isOpen(); }
    const std::string& warning() const { return warning_; }

  private:
    DevicesLock() = default;

    UniqueFd fd_;
    std::string warning_;
};

}  // namespace tindlewave
