#pragma once

#include <cstdint>

#include "Model/Keys.h"

namespace tindlewave {

// A set of the eight side modifier keys, one bit per HeldModifier case: what a keyboard (a real
// one or the program's own) holds down. Linux keeps modifiers as keys that are down, never as
// flags on an event, so flags are made from these sets and turned back into them.
struct ModifierKeys {
    std::uint8_t rawValue = 0;

    // The flag bit that the Caps Lock light adds to every event's flags.
    static constexpr std::uint64_t capsLockFlag = 0x10000;

    static constexpr ModifierKeys of(HeldModifier modifier) {
        return {static_cast<std::uint8_t>(1u << static_cast<unsigned>(modifier))};
    }
    constexpr bool contains(HeldModifier modifier) const { return (rawValue & of(modifier).rawValue) != 0; }
    constexpr bool isEmpty() const { return rawValue == 0; }
    constexpr ModifierKeys operator|(ModifierKeys other) const {
        return {static_cast<std::uint8_t>(rawValue | other.rawValue)};
    }
    constexpr ModifierKeys operator&(ModifierKeys other) const {
        return {static_cast<std::uint8_t>(rawValue & other.rawValue)};
    }
    constexpr ModifierKeys without(ModifierKeys other) const {
        return {static_cast<std::uint8_t>(rawValue & ~other.rawValue)};
    }
    constexpr void set(HeldModifier modifier, bool down) {
        rawValue = down ? (*this | of(modifier)).rawValue : without(of(modifier)).rawValue;
    }

    // The event flags of these keys: each key's side bit and its generic bit, and the Caps Lock
    // bit when its light is on.
    std::uint64_t flags(bool capsLock = false) const;
    // The keys that say `flags`: each side bit's key, and the left key of a generic modifier
    // whose flags have none of its side bits (the program's own posts often carry only those).
    static ModifierKeys forFlags(std::uint64_t flags);

    bool operator==(const ModifierKeys&) const = default;
};

}  // namespace tindlewave
