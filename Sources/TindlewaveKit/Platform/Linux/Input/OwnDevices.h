#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Core/Instant.h"
#include "Platform/Executor.h"
#include "Platform/Linux/Input/DeviceWriter.h"
#include "Platform/Linux/Input/EvdevDevice.h"

namespace tindlewave {

class StallWatchdog;

// The program's own keyboard and pointer, which its posts are written to, and whether udev has
// announced them: a desktop opens a new device only once udev has announced it, and what is
// written to it before then reaches no one (ProgramOutput holds the posts meanwhile). Each device
// the program makes (these two and the mirrors) is kept through here, so the watchdog, which
// destroys them at a release, knows each while it lives (up to the last write the writer holds it
// for). On the input executor, or under ProgramOutput's lock for what a post written on another
// thread reads (the two devices and whether they were announced).
class OwnDevices {
  public:
    struct Options {
        std::string uinputPath;
        bool udevAnnounces = false;       // where it does not, nothing is waited for
        double desktopOpenSeconds = 0.5;  // after udev's "add", before a desktop has the device
        std::function<bool(const std::string& sysname)> isAnnounced{};
        std::function<void(const std::string& line)> journal{};
    };
    OwnDevices(Executor& input, StallWatchdog& watchdog, Options options);
    OwnDevices(const OwnDevices&) = delete;
    OwnDevices& operator=(const OwnDevices&) = delete;

    // Makes whichever of the two is missing; whether both are there. Nothing new while the
    // watchdog is suspended (the process is about to stop: it would hold what is written to it).
    bool ensure();
    void adopt(UinputDevice keyboard, UinputDevice pointer);
    // Destroys both (the kernel lets go of what they hold).
    void close();
    // Whether udev announces devices here (the registry followed says so).
    void setUdevAnnounces(bool announces) { udevAnnounces_ = announces; }
    // udev's "add" of the event node of the input device `sysname` came through the registry.
    void heard(const std::string& sysname);
    // Whether both are there and a desktop has had them to open (looked at anew until they
    // have); isAnnounced: as last looked at.
    bool announced();
    bool isAnnounced() const { return announced_; }
    // Taken as announced until they are made anew (what waited too long goes out).
    void takeAsAnnounced() { announced_ = true; }

    const SharedDevice& keyboard() const { return keyboard_; }
    const SharedDevice& pointer() const { return pointer_; }
    bool isOwn(const std::string& sysname) const;

    // Any device of the program's (a mirror too), registered with the watchdog while it lives:
    // `slot` holds it, and the last holder's letting go destroys it.
    void keep(SharedDevice& slot, UinputDevice device);
    static void close(SharedDevice& slot) { slot.reset(); }
    // Whether a desktop has had the device to open: udev's "add" of it came `desktopOpenSeconds`
    // ago, or nothing is to be waited for (no sysname told, no udev announcing here, or the
    // isAnnounced hook says so).
    bool desktopHas(const UinputDevice& device, const std::optional<Instant>& heardAt, Instant now) const;

  private:
    Executor& input_;
    StallWatchdog& watchdog_;
    const Options options_;
    SharedDevice keyboard_;
    SharedDevice pointer_;
    bool udevAnnounces_;
    bool announced_ = false;
    // When udev's "add" of their event nodes came through the registry.
    std::optional<Instant> keyboardHeardAt_;
    std::optional<Instant> pointerHeardAt_;
};

}  // namespace tindlewave
