#pragma once

#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "Model/Keys.h"
#include "Model/Rule.h"
#include "Model/VariantRecord.h"

namespace tindlewave {

// A spare function key (F13 to F20) that a keyboard sends instead of one of its keys, so that
// the event tap can recognise the key and turn it into something else.
struct Carrier {
    HIDUsage usage;   // on the keyboard page
    KeyCode keyCode;  // the virtual key code of the same key

    // F13 to F20, in that order.
    static const std::vector<Carrier>& all();
    // F18, which carries the hyper key.
    static const Carrier& hyperKey();
    // The carriers for click rules on keyboard keys: all but F18, in order (seven).
    static const std::vector<Carrier>& forKeyRules();

    bool operator==(const Carrier&) const = default;
};

// What the event tap makes of a carrier key.
struct CarrierMeaning {
    // While the carrier key is down, these modifiers are held.
    struct HoldModifiers {
        Modifiers modifiers;
        bool operator==(const HoldModifiers&) const = default;
    };
    // A press of the carrier key performs the action.
    struct Press {
        Action action;
        bool operator==(const Press&) const = default;
    };
    std::variant<HoldModifiers, Press> value;

    static CarrierMeaning holdModifiers(Modifiers modifiers) { return {HoldModifiers{modifiers}}; }
    static CarrierMeaning press(Action action) { return {Press{std::move(action)}}; }

    bool operator==(const CarrierMeaning&) const = default;
};

// Where a remapped key goes: another real key, or a carrier with its meaning.
struct KeyTarget {
    struct Native {
        HIDUsage usage;
        bool operator==(const Native&) const = default;
    };
    struct Carrier {
        ::tindlewave::Carrier carrier;
        CarrierMeaning meaning;
        bool operator==(const Carrier&) const = default;
    };
    std::variant<Native, Carrier> value;

    static KeyTarget native(HIDUsage usage) { return {Native{usage}}; }
    static KeyTarget carrier(::tindlewave::Carrier carrier, CarrierMeaning meaning) {
        return {Carrier{carrier, std::move(meaning)}};
    }

    // The usage the keyboard sends instead: the native key or the carrier key.
    HIDUsage usage() const;

    bool operator==(const KeyTarget&) const = default;
};

// One HID-level remapping of a keyboard key.
struct KeyRoute {
    HIDUsage source;
    KeyTarget target;

    bool operator==(const KeyRoute&) const = default;
};

// A keyboard's remappings, in order, and their UserKeyMapping text.
struct KeyMapSetup {
    // One UserKeyMapping entry as hidutil reports it: 0x700000000 plus the usage on each side.
    struct Pair {
        std::uint64_t source = 0;
        std::uint64_t destination = 0;

        bool operator==(const Pair&) const = default;
        auto operator<=>(const Pair&) const = default;
    };

    std::vector<KeyRoute> routes;

    // No remapping at all.
    static const KeyMapSetup& neutral();

    // The value for `hidutil property --set`, for example
    // {"UserKeyMapping":[{"HIDKeyboardModifierMappingSrc":0x700000039,
    // "HIDKeyboardModifierMappingDst":0x70000006D}]} on one line. Not JSON: the numbers are bare
    // hexadecimal literals, which is the form hidutil accepts.
    std::string userKeyMappingJSON() const;

    // The carrier remappings this program left on a keyboard, recognised among the pairs read
    // back from it; none when there are none. Their meanings are empty: only the fact that the
    // keyboard still sends a carrier key for a source is known.
    static std::optional<KeyMapSetup> tindlewaveLeftover(const std::set<Pair>& pairs);

    bool operator==(const KeyMapSetup&) const = default;
};

// The full usage of a keyboard-page key as hidutil writes it.
inline constexpr std::uint64_t keyboardPageBase = 0x700000000;

}  // namespace tindlewave

template <>
struct std::hash<tindlewave::Carrier> {
    std::size_t operator()(const tindlewave::Carrier& carrier) const noexcept {
        return (std::size_t{carrier.usage.rawValue} << 16) ^ carrier.keyCode.rawValue;
    }
};

template <>
struct std::hash<tindlewave::KeyMapSetup::Pair> {
    std::size_t operator()(const tindlewave::KeyMapSetup::Pair& pair) const noexcept {
        return std::hash<std::uint64_t>{}(pair.source * 0x9E3779B97F4A7C15ull ^ pair.destination);
    }
};
