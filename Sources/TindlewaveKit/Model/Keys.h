#pragma once

#include <compare>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Model/EnumText.h"

namespace tindlewave {

// A usage on the HID keyboard page (page 7): what the HID-level key remapping works with.
struct HIDUsage {
    std::uint16_t rawValue = 0;

    // The usage of the key table's row with this name; names match without regard to case.
    static std::optional<HIDUsage> named(std::string_view name);
    // The usages of every row of the key table, in table order (the keys a user may choose).
    static const std::vector<HIDUsage>& allNamed();
    // The row's name in its table spelling, or none when the usage has no row.
    std::optional<std::string> name() const;

    bool operator==(const HIDUsage&) const = default;
    auto operator<=>(const HIDUsage&) const = default;
};

// A virtual key code, as keyboard events carry it.
struct KeyCode {
    std::uint16_t rawValue = 0;

    // The key code of the key table's row with this name; names match without regard to case.
    static std::optional<KeyCode> named(std::string_view name);
    // The key code when the key table has a row for it.
    static std::optional<KeyCode> fromVirtualKeyCode(std::uint16_t code);
    // The row's name in its table spelling, or none when the key code has no row.
    std::optional<std::string> name() const;

    bool operator==(const KeyCode&) const = default;
    auto operator<=>(const KeyCode&) const = default;
};

}  // namespace tindlewave

template <>
struct std::hash<tindlewave::HIDUsage> {
    std::size_t operator()(tindlewave::HIDUsage usage) const noexcept {
        return std::hash<std::uint16_t>{}(usage.rawValue);
    }
};

template <>
struct std::hash<tindlewave::KeyCode> {
    std::size_t operator()(tindlewave::KeyCode code) const noexcept {
        return std::hash<std::uint16_t>{}(code.rawValue);
    }
};

namespace tindlewave {

// The fixed table that joins a key's name, its HID usage and its virtual key code. It holds no
// modifier keys and no F13 to F20.
struct KeyTable {
    struct Key {
        std::string name;
        HIDUsage usage;
        KeyCode keyCode;

        bool operator==(const Key&) const = default;
    };

    // The 74 rows in table order.
    static const std::vector<Key>& keys();
    // By lower-cased name. Look-ups must lower-case the name first (HIDUsage::named does).
    static const std::map<std::string, Key, std::less<>>& byName();
    static const std::unordered_map<HIDUsage, Key>& byUsage();
    static const std::unordered_map<KeyCode, Key>& byKeyCode();
};

// A set of the four generic modifiers of a shortcut.
struct Modifiers {
    std::uint8_t rawValue = 0;

    static const Modifiers control;
    static const Modifiers option;
    static const Modifiers shift;
    static const Modifiers command;
    // All four at once.
    static const Modifiers hyper;

    constexpr bool contains(Modifiers other) const {
        return (rawValue & other.rawValue) == other.rawValue;
    }
    constexpr bool isEmpty() const { return rawValue == 0; }
    constexpr Modifiers operator|(Modifiers other) const {
        return Modifiers{static_cast<std::uint8_t>(rawValue | other.rawValue)};
    }
    constexpr Modifiers& operator|=(Modifiers other) { return *this = *this | other; }
    constexpr Modifiers operator&(Modifiers other) const {
        return Modifiers{static_cast<std::uint8_t>(rawValue & other.rawValue)};
    }
    // The modifiers of this set that are not in `other`.
    constexpr Modifiers without(Modifiers other) const {
        return Modifiers{static_cast<std::uint8_t>(rawValue & ~other.rawValue)};
    }

    bool operator==(const Modifiers&) const = default;
};
inline constexpr Modifiers Modifiers::control{1};
inline constexpr Modifiers Modifiers::option{2};
inline constexpr Modifiers Modifiers::shift{4};
inline constexpr Modifiers Modifiers::command{8};
inline constexpr Modifiers Modifiers::hyper{15};

// The side-independent modifier bits of a keyboard event's flags.
namespace QuartzFlag {
inline constexpr std::uint64_t control = 0x40000;
inline constexpr std::uint64_t shift = 0x20000;
inline constexpr std::uint64_t option = 0x80000;
inline constexpr std::uint64_t command = 0x100000;
}  // namespace QuartzFlag

// The event flag bits of every generic modifier in the set.
constexpr std::uint64_t quartzFlags(Modifiers modifiers) {
    std::uint64_t flags = 0;
    if (modifiers.contains(Modifiers::control)) flags |= QuartzFlag::control;
    if (modifiers.contains(Modifiers::shift)) flags |= QuartzFlag::shift;
    if (modifiers.contains(Modifiers::option)) flags |= QuartzFlag::option;
    if (modifiers.contains(Modifiers::command)) flags |= QuartzFlag::command;
    return flags;
}

// `flags` without the side-independent bits of `modifiers`, except for a modifier whose left or
// right key still shows among the side-specific device bits of `flags`: that key is still down.
std::uint64_t withoutModifiers(std::uint64_t flags, Modifiers modifiers);

// One side-specific modifier key. The case order fixes each key's keyboard-page usage, 0xE0 plus
// its position. The text of a case is its name.
enum class HeldModifier {
    leftControl,
    leftShift,
    leftOption,
    leftCommand,
    rightControl,
    rightShift,
    rightOption,
    rightCommand,
};

std::string_view toText(HeldModifier modifier);
template <>
std::optional<HeldModifier> fromText<HeldModifier>(std::string_view text);
template <>
std::span<const HeldModifier> allCases<HeldModifier>();

// The virtual key code of the modifier key.
std::uint16_t virtualKeyCode(HeldModifier modifier);
// The generic modifier that the key stands for.
Modifiers generic(HeldModifier modifier);
// The side-specific bit of a keyboard event's flags.
std::uint64_t deviceFlag(HeldModifier modifier);
// The side modifier whose key has this virtual key code; none for every other code (Caps Lock too).
std::optional<HeldModifier> heldModifierFromVirtualKeyCode(std::uint16_t code);

}  // namespace tindlewave

template <>
struct std::hash<tindlewave::Modifiers> {
    std::size_t operator()(tindlewave::Modifiers modifiers) const noexcept {
        return std::hash<std::uint8_t>{}(modifiers.rawValue);
    }
};
