#pragma once

#include <cstdint>
#include <limits>
#include <optional>

#include "Core/Tap/Event.h"
#include "Model/Keys.h"

namespace tindlewave {

// How the tap stages read the event types and fields they care about.
namespace tapevents {

enum class ButtonPhase { pressed, released, dragged };

// The phase of a right or other mouse-button event; none for every other type (the left button
// never reaches the tap).
constexpr std::optional<ButtonPhase> buttonPhase(EventType type) {
    switch (type) {
        case EventType::rightMouseDown:
        case EventType::otherMouseDown:
            return ButtonPhase::pressed;
        case EventType::rightMouseUp:
        case EventType::otherMouseUp:
            return ButtonPhase::released;
        case EventType::rightMouseDragged:
        case EventType::otherMouseDragged:
            return ButtonPhase::dragged;
        default:
            return std::nullopt;
    }
}

constexpr std::int64_t buttonNumber(const Event& event) {
    return event.integer(IntegerField::buttonNumber);
}

// The event's key code; none when the field holds a number no key code has.
constexpr std::optional<KeyCode> keyCode(const Event& event) {
    std::int64_t code = event.integer(IntegerField::keyCode);
    if (code < 0 || code > std::numeric_limits<std::uint16_t>::max()) return std::nullopt;
    return KeyCode{static_cast<std::uint16_t>(code)};
}

constexpr bool isAutorepeat(const Event& event) {
    return event.integer(IntegerField::autorepeat) != 0;
}

}  // namespace tapevents

}  // namespace tindlewave
