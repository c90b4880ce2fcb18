#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "Core/Devices/DeviceIDs.h"
#include "Core/FixedList.h"
#include "Core/Tap/Event.h"
#include "Model/Identifiers.h"
#include "Model/Keys.h"
#include "Model/VariantRecord.h"

namespace tindlewave {

struct Action;

// The side modifiers of a hold in press order, each at most once (a repeat adds nothing): eight
// at most, kept inside the value.
class HeldModifierList {
  public:
    HeldModifierList() = default;
    HeldModifierList(std::initializer_list<HeldModifier> modifiers) {
        for (HeldModifier modifier : modifiers) push_back(modifier);
    }

    void push_back(HeldModifier modifier) {
        if (!contains(modifier)) list_.push_back(modifier);
    }
    bool contains(HeldModifier modifier) const {
        return std::find(list_.begin(), list_.end(), modifier) != list_.end();
    }

    const HeldModifier* begin() const { return list_.begin(); }
    const HeldModifier* end() const { return list_.end(); }
    std::reverse_iterator<const HeldModifier*> rbegin() const {
        return std::reverse_iterator(end());
    }
    std::reverse_iterator<const HeldModifier*> rend() const {
        return std::reverse_iterator(begin());
    }
    std::size_t size() const { return list_.size(); }
    bool empty() const { return list_.empty(); }

    bool operator==(const HeldModifierList&) const = default;

  private:
    FixedList<HeldModifier, 8> list_;
};

// A set of side modifiers, one bit each.
struct HeldModifierSet {
    std::uint8_t bits = 0;

    HeldModifierSet() = default;
    HeldModifierSet(std::initializer_list<HeldModifier> modifiers) {
        for (HeldModifier modifier : modifiers) insert(modifier);
    }

    static constexpr std::uint8_t bit(HeldModifier modifier) {
        return static_cast<std::uint8_t>(1u << static_cast<unsigned>(modifier));
    }
    bool contains(HeldModifier modifier) const { return (bits & bit(modifier)) != 0; }
    void insert(HeldModifier modifier) { bits |= bit(modifier); }
    void erase(HeldModifier modifier) { bits &= static_cast<std::uint8_t>(~bit(modifier)); }
    bool empty() const { return bits == 0; }

    bool operator==(const HeldModifierSet&) const = default;
};

// What one control holds while it is down: side modifiers in press order and optionally a key.
// Kept inside the value: holding keys never allocates.
struct KeyHold {
    HeldModifierList modifiers;
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
// The flags of every modifier of the set.
std::uint64_t eventFlags(HeldModifierSet modifiers);

// The holds of every control, turned into the keyboard events to post so that a modifier or key
// shared by several holders stays down until the last of them lets go. Pure: the caller posts
// the returned events in order. The holds live in fixed storage: a press or release allocates
// nothing.
//
// The user's own modifiers are kept: each operation starts from the modifier bits of the
// caller's flags less the device bits of what the program holds (`base`); a side-independent bit
// stays while a device bit of its family remains. A modifier whose own key the user already
// held when a hold took it is neither pressed nor released by the program: the user holds it.
class HeldKeys {
  public:
    // Holders at once; a press by a new holder past this holds nothing and posts nothing (so
    // its release finds nothing either).
    static constexpr std::size_t capacity = 32;

    struct Entry {
        KeyHolder holder;
        KeyHold hold;
        bool operator==(const Entry&) const = default;
    };

    // The most one operation but releaseAll gives: a release (a key and eight modifiers) and a
    // press (eight modifiers and a key).
    using Events = FixedList<KeyEvent, 18>;

    // Applies a press or release; `flags` are the current modifier flags of the system.
    Events receive(const KeyHoldEvent& event, std::uint64_t flags);

    // Ends one holder's hold. `base` is what base(flags) gives for the current flags.
    Events release(const KeyHolder& holder, std::uint64_t base);

    // Ends every hold, in release order. Afterwards nothing is held.
    std::vector<KeyEvent> releaseAll(std::uint64_t flags);

    // The modifiers the user really holds: the modifier bits of `flags` without the device bits
    // of `held`, and without the side-independent bit of a held modifier's family unless a
    // device bit of that family remains.
    std::uint64_t base(std::uint64_t flags) const;

    // The modifiers that appear in any hold.
    HeldModifierSet held() const { return held_; }

    // The flags of `held`, kept up to date with every change: read for every event while a
    // modifier is held.
    std::uint64_t heldFlags() const { return heldFlags_; }

    // Every holder's hold, in no particular order.
    std::span<const Entry> holds() const { return {holds_.data(), holds_.size()}; }

  private:
    const Entry* find(const KeyHolder& holder) const;
    bool keyHeld(KeyCode key) const;
    void refreshHeld();

    FixedList<Entry, capacity> holds_;
    HeldModifierSet held_;
    // The held modifiers whose own key the user held when they were taken.
    HeldModifierSet usersOwn_;
    std::uint64_t heldFlags_ = 0;
};

}  // namespace tindlewave
