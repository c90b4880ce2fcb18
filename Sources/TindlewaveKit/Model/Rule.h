#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "Model/EnumText.h"
#include "Model/Hash.h"
#include "Model/Identifiers.h"
#include "Model/Keys.h"
#include "Model/Range.h"
#include "Model/VariantRecord.h"

namespace tindlewave {

struct Trigger;
struct Action;

// What a rule listens to.
struct Control {
    struct Hidpp {  // a control of a HID++ mouse
        CID cid;
        bool operator==(const Hidpp&) const = default;
    };
    struct Key {  // a keyboard key
        HIDUsage usage;
        bool operator==(const Key&) const = default;
    };
    struct Button {  // a mouse button by number: 0 is the left button, 1 the right one
        std::int64_t number = 0;
        bool operator==(const Button&) const = default;
    };
    struct ThumbWheel {  // the thumb wheel of a HID++ mouse
        bool operator==(const ThumbWheel&) const = default;
    };

    std::variant<Hidpp, Key, Button, ThumbWheel> value;

    // The button numbers that rules may name; the left button cannot carry a rule.
    static constexpr ClosedRange<std::int64_t> buttonRange{1, 31};

    static Control hidpp(CID cid) { return {Hidpp{cid}}; }
    static Control key(HIDUsage usage) { return {Key{usage}}; }
    static Control button(std::int64_t number) { return {Button{number}}; }
    static Control thumbWheel() { return {ThumbWheel{}}; }

    // Whether a rule on this control may use the trigger.
    bool accepts(const Trigger& trigger) const;
    // Whether a rule on this control with the trigger may do the action.
    bool accepts(const Action& action, const Trigger& trigger) const;

    bool operator==(const Control&) const = default;
};

enum class Direction { up, down, left, right };

// "Up", "Down", "Left", "Right".
std::string_view toText(Direction direction);
template <>
std::optional<Direction> fromText<Direction>(std::string_view text);
template <>
std::span<const Direction> allCases<Direction>();

// How the control is used.
struct Trigger {
    struct HoldMove {  // held while the mouse moves: any way (no direction) or a swipe
        std::optional<Direction> direction;
        bool operator==(const HoldMove&) const = default;
    };
    struct Click {
        bool operator==(const Click&) const = default;
    };
    struct Hold {
        bool operator==(const Hold&) const = default;
    };
    struct Scroll {  // the thumb wheel is turned
        bool operator==(const Scroll&) const = default;
    };

    std::variant<HoldMove, Click, Hold, Scroll> value;

    static Trigger holdMove(std::optional<Direction> direction = std::nullopt) {
        return {HoldMove{direction}};
    }
    static Trigger click() { return {Click{}}; }
    static Trigger hold() { return {Hold{}}; }
    static Trigger scroll() { return {Scroll{}}; }

    // The trigger's text: "click", "hold", "scroll", "holdMove", or "holdMove" followed by the
    // direction's text ("holdMoveUp").
    std::string name() const;
    // The eight trigger names and their triggers, built once on first use.
    static const std::map<std::string, Trigger, std::less<>>& byName();
    // Whether the two triggers cannot share one control (symmetric; never with itself).
    bool conflicts(const Trigger& other) const;
    // Why the two triggers cannot share one control, or none when they can.
    std::optional<std::string_view> conflictReason(const Trigger& other) const;

    bool operator==(const Trigger&) const = default;
};

// A system action, by the number of the symbolic hot key that performs it. Its text is its name.
enum class SystemAction : std::uint16_t {
    missionControl = 32,
    appExpose = 33,
    spaceLeft = 79,
    spaceRight = 81,
};

constexpr std::uint16_t rawValue(SystemAction action) {
    return static_cast<std::uint16_t>(action);
}
// The case with this raw value; none for any other number.
std::optional<SystemAction> systemActionFromRawValue(std::int64_t raw);
std::string_view toText(SystemAction action);
template <>
std::optional<SystemAction> fromText<SystemAction>(std::string_view text);
template <>
std::span<const SystemAction> allCases<SystemAction>();

// A keyboard shortcut.
struct Chord {
    KeyCode key;
    Modifiers modifiers;

    bool operator==(const Chord&) const = default;
};

// What a rule does.
struct Action {
    struct System {
        SystemAction action;
        bool operator==(const System&) const = default;
    };
    struct Shortcut {
        Chord chord;
        bool operator==(const Shortcut&) const = default;
    };
    struct Modifier {  // one side-specific modifier key, held while the control is held
        HeldModifier modifier;
        bool operator==(const Modifier&) const = default;
    };
    struct Reverse {  // the thumb wheel scrolls the other way
        bool operator==(const Reverse&) const = default;
    };
    struct Scroll {  // the page scrolls while the control is held and the mouse moves
        bool operator==(const Scroll&) const = default;
    };

    std::variant<System, Shortcut, Modifier, Reverse, Scroll> value;

    static Action system(SystemAction action) { return {System{action}}; }
    static Action shortcut(Chord chord) { return {Shortcut{chord}}; }
    static Action modifier(HeldModifier modifier) { return {Modifier{modifier}}; }
    static Action reverse() { return {Reverse{}}; }
    static Action scroll() { return {Scroll{}}; }

    bool operator==(const Action&) const = default;
};

// One rule of a device profile: when this control is used this way, do this.
struct Rule {
    Control control;
    Trigger trigger;  // "when" in the file
    Action action;    // "do" in the file

    bool operator==(const Rule&) const = default;
};

}  // namespace tindlewave

template <>
struct std::hash<tindlewave::Control::Hidpp> {
    std::size_t operator()(const tindlewave::Control::Hidpp& c) const noexcept {
        return tindlewave::hashOf(c.cid);
    }
};
template <>
struct std::hash<tindlewave::Control::Key> {
    std::size_t operator()(const tindlewave::Control::Key& c) const noexcept {
        return tindlewave::hashOf(c.usage);
    }
};
template <>
struct std::hash<tindlewave::Control::Button> {
    std::size_t operator()(const tindlewave::Control::Button& c) const noexcept {
        return tindlewave::hashOf(c.number);
    }
};
template <>
struct std::hash<tindlewave::Control::ThumbWheel> {
    std::size_t operator()(const tindlewave::Control::ThumbWheel&) const noexcept { return 0; }
};
template <>
struct std::hash<tindlewave::Control> {
    std::size_t operator()(const tindlewave::Control& control) const noexcept {
        return tindlewave::hashVariant(control.value);
    }
};

template <>
struct std::hash<tindlewave::Trigger::HoldMove> {
    std::size_t operator()(const tindlewave::Trigger::HoldMove& t) const noexcept {
        return tindlewave::hashOf(t.direction);
    }
};
template <>
struct std::hash<tindlewave::Trigger::Click> {
    std::size_t operator()(const tindlewave::Trigger::Click&) const noexcept { return 0; }
};
template <>
struct std::hash<tindlewave::Trigger::Hold> {
    std::size_t operator()(const tindlewave::Trigger::Hold&) const noexcept { return 0; }
};
template <>
struct std::hash<tindlewave::Trigger::Scroll> {
    std::size_t operator()(const tindlewave::Trigger::Scroll&) const noexcept { return 0; }
};
template <>
struct std::hash<tindlewave::Trigger> {
    std::size_t operator()(const tindlewave::Trigger& trigger) const noexcept {
        return tindlewave::hashVariant(trigger.value);
    }
};

template <>
struct std::hash<tindlewave::Chord> {
    std::size_t operator()(const tindlewave::Chord& chord) const noexcept {
        std::size_t seed = tindlewave::hashOf(chord.key);
        tindlewave::hashCombine(seed, tindlewave::hashOf(chord.modifiers));
        return seed;
    }
};

template <>
struct std::hash<tindlewave::Action::System> {
    std::size_t operator()(const tindlewave::Action::System& a) const noexcept {
        return tindlewave::hashOf(a.action);
    }
};
template <>
struct std::hash<tindlewave::Action::Shortcut> {
    std::size_t operator()(const tindlewave::Action::Shortcut& a) const noexcept {
        return tindlewave::hashOf(a.chord);
    }
};
template <>
struct std::hash<tindlewave::Action::Modifier> {
    std::size_t operator()(const tindlewave::Action::Modifier& a) const noexcept {
        return tindlewave::hashOf(a.modifier);
    }
};
template <>
struct std::hash<tindlewave::Action::Reverse> {
    std::size_t operator()(const tindlewave::Action::Reverse&) const noexcept { return 0; }
};
template <>
struct std::hash<tindlewave::Action::Scroll> {
    std::size_t operator()(const tindlewave::Action::Scroll&) const noexcept { return 0; }
};
template <>
struct std::hash<tindlewave::Action> {
    std::size_t operator()(const tindlewave::Action& action) const noexcept {
        return tindlewave::hashVariant(action.value);
    }
};
