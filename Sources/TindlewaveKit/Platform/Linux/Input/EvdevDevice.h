#pragma once

#include <linux/input.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "Platform/Linux/Input/OwnPhys.h"
#include "Platform/Linux/System/SystemError.h"
#include "Platform/Linux/System/UniqueFd.h"

namespace tindlewave {

// What an input device is: ids, name, phys, its event types with their codes, its properties
// and the ranges of its absolute axes. Read from an evdev node, or written by hand for the
// program's own devices; a uinput device is made from it.
struct InputDescription {
    struct Axis {
        std::uint16_t code = 0;
        input_absinfo info{};
    };

    input_id id{};
    std::string name;
    std::string phys;
    // Codes by event type (EV_KEY, EV_REL, ...); EV_SYN is implied.
    std::vector<std::pair<std::uint16_t, std::vector<std::uint16_t>>> codes;
    std::vector<std::uint16_t> properties;
    std::vector<Axis> axes;

    bool has(std::uint16_t type) const;
    bool has(std::uint16_t type, std::uint16_t code) const;
    const std::vector<std::uint16_t>* codesOf(std::uint16_t type) const;
    void add(std::uint16_t type, std::uint16_t code);
};

// The raw evdev calls on an open node (no library in between). Each failure is the errno.
namespace evdev {

// Ids, name, phys, event types with their codes (EV_REP left out), properties and axes.
std::variant<InputDescription, SystemError> describe(int fd);
// The keys and buttons down now (EVIOCGKEY), as codes.
std::variant<std::vector<std::uint16_t>, SystemError> keysDown(int fd);
// Whether the LED is on now (EVIOCGLED).
std::optional<bool> ledOn(int fd, std::uint16_t led);
// The LEDs on now (EVIOCGLED), as codes.
std::variant<std::vector<std::uint16_t>, SystemError> ledsOn(int fd);
// EVIOCGRAB: only this descriptor gets the node's events while grabbed. EBUSY: another
// descriptor holds the grab.
std::optional<SystemError> grab(int fd, bool grabbed);

}  // namespace evdev

// A uinput device: made from a description, written with whole frames, destroyed with the value.
// The kernel releases whatever it holds down when it goes (and when the process dies).
class UinputDevice {
  public:
    // Opens `uinputPath` and creates the device. The description's EV_REP is never set: a
    // device of ours repeats nothing by itself.
    static std::variant<UinputDevice, SystemError> create(const char* uinputPath,
                                                          const InputDescription& description);
    // Takes an open descriptor as the device (benchmarks put a pipe in its place), known to the
    // kernel as `sysname` where given.
    static UinputDevice adopt(int fd, std::string sysname = {}) { return UinputDevice(UniqueFd(fd), std::move(sysname)); }
    UinputDevice(UinputDevice&& other) noexcept;
    UinputDevice& operator=(UinputDevice&& other) noexcept;
    ~UinputDevice();
    UinputDevice(const UinputDevice&) = delete;
    UinputDevice& operator=(const UinputDevice&) = delete;

    int fd() const { return fd_.get(); }
    // The kernel's name of the device ("input42"), as UI_GET_SYSNAME tells it.
    const std::string& sysname() const { return sysname_; }
    // Writes the codes in one call; false when the device refused them.
    bool write(const input_event* codes, std::size_t count) const;
    // Its writes return at once (its descriptor is non-blocking, as a created device's is).
    bool writesWithoutWaiting() const { return writesWithoutWaiting_; }

  private:
    UinputDevice(UniqueFd fd, std::string sysname);
    void destroy();

    UniqueFd fd_;
    std::string sysname_;
    bool writesWithoutWaiting_ = false;
};

// The mirror of a tapped node: the same ids, name, codes, properties and axes, the phys behind
// the program's prefix, and no repeat.
InputDescription mirrorOf(const InputDescription& node);
// The program's own devices for its posts.
InputDescription virtualKeyboard();
InputDescription virtualPointer();

}  // namespace tindlewave
