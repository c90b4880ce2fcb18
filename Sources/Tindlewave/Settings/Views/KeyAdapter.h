#pragma once

#include <cstdint>
#include <optional>

#include "Model/Keys.h"

class QKeyEvent;

namespace tindlewave {

// Turns the desktop's key events into the keyboard terms the settings model records in: virtual
// key codes and flag words. Keys are found by position (the scan code), so Shift-4 is the 4 key;
// events without a scan code (made by a program) fall back to the key they name. Left and right
// modifiers are told apart by scan code; Control is Control, Alt is Option, Shift is Shift and
// the Super key is Command. The flag word comes from the modifier keys this adapter saw go down,
// with the event's own modifiers added for keys that went down before it was listening.
class KeyAdapter {
  public:
    struct Event {
        enum class Kind { flagsChanged, keyDown, none };
        Kind kind = Kind::none;
        std::optional<std::uint16_t> keyCode;  // none: a key without a virtual key code
        std::uint64_t flags = 0;
    };

    Event translate(const QKeyEvent& event);

    // The virtual key code of a key event's key, if it has one.
    static std::optional<std::uint16_t> keyCode(const QKeyEvent& event);
    // The side modifier a key event is about, if any.
    static std::optional<HeldModifier> modifier(const QKeyEvent& event);

  private:
    std::uint64_t flags(const QKeyEvent& event) const;

    std::uint8_t down_ = 0;  // one bit per HeldModifier
};

}  // namespace tindlewave
