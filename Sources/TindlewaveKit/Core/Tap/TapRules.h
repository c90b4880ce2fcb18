#pragma once

#include <compare>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "Core/Gestures/ControlBehavior.h"
#include "Core/Devices/DeviceIDs.h"
#include "Core/Keys/KeyRoutes.h"
#include "Core/Listening/Listener.h"
#include "Model/Config.h"
#include "Model/Keys.h"

namespace tindlewave {

// A plain mouse button of one event service: the service's sender id and the button number as
// the event reports it.
struct ButtonKey {
    SenderID sender;
    std::int64_t button = 0;

    bool operator==(const ButtonKey&) const = default;
    auto operator<=>(const ButtonKey&) const = default;
};

// The listen request that the event tap serves, and the event services it listens to.
struct TapListen {
    ListenID id;
    std::set<SenderID> senders;

    bool operator==(const TapListen&) const = default;
};

// The event tap's share of the compiled settings. The maps are ordered, so two equal values
// compare equal whatever order their entries were made in; the engine sends a new tap order only
// when this value changes.
struct TapRules {
    std::map<KeyCode, CarrierMeaning> carriers;     // what each carrier key means
    std::map<SenderID, SmoothScroll> smoothScroll;  // event services with smoothed wheels
    std::map<ButtonKey, ControlBehavior> buttons;   // what a plain mouse button does
    std::optional<TapListen> listen;                // set while listening through the tap

    // No carriers, no smooth-scroll senders, no buttons, no listen.
    static const TapRules& empty();

    // The rules of the given key routes (each carrier route's key code maps to its meaning, a
    // later route for the same key code winning; native routes are left out), smooth-scroll
    // senders and buttons, with no listen.
    static TapRules fromRoutes(const std::vector<KeyRoute>& routes,
                               std::map<SenderID, SmoothScroll> smoothScroll,
                               std::map<ButtonKey, ControlBehavior> buttons);

    bool operator==(const TapRules&) const = default;
};

}  // namespace tindlewave

template <>
struct std::hash<tindlewave::ButtonKey> {
    std::size_t operator()(const tindlewave::ButtonKey& key) const noexcept {
        return std::hash<std::uint64_t>{}(key.sender.rawValue * 0x9E3779B97F4A7C15ull ^
                                          static_cast<std::uint64_t>(key.button));
    }
};
