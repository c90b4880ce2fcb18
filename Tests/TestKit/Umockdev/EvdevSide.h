#pragma once

// The kernel's side of evdev and uinput for the device tests: an emulated event node that
// answers the evdev calls from a description and takes the test's frames, and /dev/uinput,
// which makes a device of each open and keeps what the program wrote to it.

#include <linux/input.h>

#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "Platform/Linux/Input/EvdevDevice.h"
#include "TestKit/Umockdev/EmulatedNode.h"

namespace tindlewave::testkit::umockdev {

// type, code, value
using Code = std::tuple<int, int, int>;

class EvdevSide {
  public:
    EvdevSide(Testbed& testbed, const std::string& devnode, InputDescription description);
    ~EvdevSide();

    // The node's frames as the program reads them (SYN_REPORT added), stamped now where they
    // carry no time.
    void send(std::initializer_list<Code> codes);
    void sendRaw(const std::vector<input_event>& codes);
    // Sends the frame the moment the next grab is taken: input that comes just after it.
    void sendOnGrab(std::initializer_list<Code> codes);

    // Keys and buttons the node reports down (EVIOCGKEY); grabs refused with EBUSY, as when
    // another program holds the node.
    void setKeysDown(std::vector<std::uint16_t> keys);
    void setHeldElsewhere(bool held);
    // The device went away with its node still open: every evdev call and read fails with ENODEV.
    void setGone();
    // Whether an open of the node holds the grab: as in the kernel, a grab ends with its
    // descriptor (a killed program's included), and any grab meanwhile is refused (the
    // holder's own second one too).
    bool isGrabbed() const;
    int grabCalls() const;
    // What the program wrote to the node (LEDs, input given back), and of that what it wrote
    // while an open of it held the grab: the kernel hands such input to the grab's holder alone.
    std::vector<Code> written() const;
    std::vector<Code> writtenWhileGrabbed() const;

  private:
    EmulatedNode node_;
    const InputDescription description_;
    mutable std::mutex mutex_;
    std::vector<std::uint16_t> keysDown_;
    bool heldElsewhere_ = false;
    bool gone_ = false;
    std::vector<input_event> onGrab_;
    void* holder_ = nullptr;  // the open holding the grab (a reference of ours)
    int grabCalls_ = 0;
    std::vector<Code> written_;
    std::vector<Code> writtenWhileGrabbed_;
};

class UinputSide {
  public:
    struct Device {
        const void* client = nullptr;  // one open of /dev/uinput
        InputDescription description;
        std::string sysname;
        bool created = false;
        bool destroyed = false;
        std::vector<Code> written;
    };

    explicit UinputSide(Testbed& testbed);

    // Every device made so far (destroyed ones too), in order.
    std::vector<Device> devices() const;
    // The living device of that name; the nth (0 first) when several share it.
    std::optional<Device> named(const std::string& name, std::size_t nth = 0) const;
    // Codes written to the living device of that name so far (those of types and codes it was
    // not made with dropped, as the kernel drops them); taken (cleared) by take.
    std::vector<Code> written(const std::string& name) const;
    std::vector<Code> take(const std::string& name);
    // What the desktop writes to a uinput device reaches the program reading it (LEDs).
    void sendToProgram(std::initializer_list<Code> codes);
    // Refuses UI_DEV_CREATE from now on.
    void setFails(bool fails);

  private:
    Device* deviceOf(const void* client);

    EmulatedNode node_;
    mutable std::mutex mutex_;
    std::vector<Device> devices_;
    int nextSysname_ = 90;
    bool fails_ = false;
};

}  // namespace tindlewave::testkit::umockdev
