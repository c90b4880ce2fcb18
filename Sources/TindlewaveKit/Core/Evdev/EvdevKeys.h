#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "Model/Keys.h"

namespace tindlewave {

// The kernel's key codes (KEY_* of evdev) beside the program's virtual key codes: every key of
// the key table, the eight side modifiers and the carriers F13 to F20. The kernel's HID driver
// gives each keyboard-page usage one KEY_* code; this is that column, joined to the program's
// table by usage. Look-ups are array reads, made for every key event.
namespace evdevkeys {

// The highest evdev key code the table looks at (KEY_MAX of the kernel headers).
inline constexpr std::uint16_t maxCode = 0x2FF;

// The evdev key code of a virtual key code; none when the program names no such key.
std::optional<std::uint16_t> evdevCode(KeyCode key);
// The virtual key code of an evdev key code; none for keys the program does not name (mouse
// buttons included).
std::optional<KeyCode> keyCode(std::uint16_t evdevCode);
// The side modifier an evdev key code stands for; none for every other key.
std::optional<HeldModifier> modifier(std::uint16_t evdevCode);
std::uint16_t evdevCode(HeldModifier modifier);
// The same column by keyboard-page usage, for key tables that are kept by usage: the evdev code
// of a usage the program names (a key of the table, a side modifier, a carrier), and back.
std::optional<std::uint16_t> evdevCode(HIDUsage usage);
std::optional<HIDUsage> usage(std::uint16_t evdevCode);
// Every evdev code a key route can make a key produce (the usages above and the side modifiers),
// and F13 to F24 beside them: what a keyboard's mirror must be able to say.
std::span<const std::uint16_t> routableCodes();

}  // namespace evdevkeys

}  // namespace tindlewave
