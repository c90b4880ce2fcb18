#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "Core/Devices/DeviceIDs.h"
#include "Core/Tap/Event.h"
#include "Model/Identifiers.h"
#include "Model/Keys.h"

namespace tindlewave {

struct Action;

// What one control holds while it is down: side modifiers in press order and optionally a key.
struct KeyHold {
    std::vector<HeldModifier> modifiers;
    std::optional<KeyCode> key;

    // The hold of a "hold" rule's action: a held modifier alone, or a shortcut's modifiers (left
    // side, in the order Control, Option, Shift, Command) with its key. Other actions hold nothing.
    static std::optional<KeyHold> fromAction(const Action& action);

    bool operator==(const KeyHold&) const = default;
};

// Who holds keys: a mouse button of one event service seen through the event tap, or a HID++
// control of one connected device.
struct KeyHolder {
    struct Button {
        SenderID sender;
        std::int64_t number;
        bool operator==(const Button&) const = default;
    };
    struct Control {
        DeviceInstanceID device;
        CID cid;
        bool operator==(const Control&) const = default;
    };
    std::variant<Button, Control> value;

    static KeyHolder button(SenderID sender, std::int64_t number) {
        return {Button{sender, number}};
    }
    static KeyHolder control(DeviceInstanceID device, CID cid) { return {Control{device, cid}}; }

    template <class C>
    bool is() const {
        return std::holds_alternative<C>(value);
    }
    template <class C>
    const C* as() const {
        return std::get_if<C>(&value);
    }

    bool operator==(const KeyHolder&) const = default;
};

// "button(0x1000,3)" (sender and number), "control(#1,0xC3)".
std::string toText(const KeyHolder& holder);

// The order in which releaseAll lets go: every button before every control, buttons by number and
// then sender, controls by device id and then control id, all compared as numbers.
bool releaseOrderBefore(const KeyHolder& a, const KeyHolder& b);

// A control went down with a hold, or came up.
struct KeyHoldEvent {
    struct Press {
        KeyHolder holder;
        KeyHold hold;
        bool operator==(const Press&) const = default;
    };
    struct Release {
        KeyHolder holder;
        bool operator==(const Release&) const = default;
    };
    std::variant<Press, Release> value;

    static KeyHoldEvent press(KeyHolder holder, KeyHold hold) {
        return {Press{std::move(holder), std::move(hold)}};
    }
    static KeyHoldEvent release(KeyHolder holder) { return {Release{std::move(holder)}}; }

    template <class C>
    bool is() const {
        return std::holds_alternative<C>(value);
    }
    template <class C>
    const C* as() const {
        return std::get_if<C>(&value);
    }

    bool operator==(const KeyHoldEvent&) const = default;
};

}  // namespace tindlewave

template <>
struct std::hash<tindlewave::KeyHold> {
    std::size_t operator()(const tindlewave::KeyHold& hold) const noexcept;
};

template <>
struct std::hash<tindlewave::KeyHolder> {
    std::size_t operator()(const tindlewave::KeyHolder& holder) const noexcept;
};

namespace tindlewave {

// One keyboard event to post. The host creates it without an event source and adds the
// program's user-data marker; the flags already carry the non-coalesced bit.
struct KeyEvent {
    EventType type;  // keyDown, keyUp or flagsChanged
    KeyCode keyCode;
    std::uint64_t flags;

    bool operator==(const KeyEvent&) const = default;
};

// Event flag bits of held keys.
namespace keyflags {
// Caps Lock, Shift, Control, Option, Command and the side-specific device bits.
inline constexpr std::uint64_t modifierMask = 0x1F207F;
inline constexpr std::uint64_t nonCoalesced = 0x100;
}  // namespace keyflags

// The side-independent mask and the side-specific device bit of a held modifier.
std::uint64_t eventFlags(HeldModifier modifier);

// The holds of every control, turned into the keyboard events to post so that a modifier or key
// shared by several holders stays down until the last of them lets go. Pure: the caller posts
// the returned events in order.
class HeldKeys {
  public:
    // Applies a press or release; `flags` are the current modifier flags of the system.
    std::vector<KeyEvent> receive(const KeyHoldEvent& event, std::uint64_t flags);

    // Ends one holder's hold. `base` is what base(flags) gives for the current flags.
    std::vector<KeyEvent> release(const KeyHolder& holder, std::uint64_t base);

    // Ends every hold, in release order. Afterwards nothing is held.
    std::vector<KeyEvent> releaseAll(std::uint64_t flags);

    // The modifiers the user really holds: the modifier bits of `flags` without those of `held`.
    std::uint64_t base(std::uint64_t flags) const;

    // The modifiers that appear in any hold.
    const std::set<HeldModifier>& held() const { return held_; }

    // The flags of `held`, kept up to date with every change: read for every event while a
    // modifier is held.
    std::uint64_t heldFlags() const { return heldFlags_; }

    const std::unordered_map<KeyHolder, KeyHold>& holds() const { return holds_; }

  private:
    void refreshHeld();

    std::unordered_map<KeyHolder, KeyHold> holds_;
    std::set<HeldModifier> held_;
    std::uint64_t heldFlags_ = 0;
};

}  // namespace tindlewave
