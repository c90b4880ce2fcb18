#pragma once

#include <array>
#include <cstdint>

namespace tindlewave {

// The kinds of input event, numbered as the desktop's event system numbers them. Posted and
// tapped events keep these numbers, so a mask bit is simply 1 shifted left by the number.
enum class EventType : std::uint32_t {
    null = 0,
    leftMouseDown = 1,
    leftMouseUp = 2,
    rightMouseDown = 3,
    rightMouseUp = 4,
    mouseMoved = 5,
    leftMouseDragged = 6,
    rightMouseDragged = 7,
    keyDown = 10,
    keyUp = 11,
    flagsChanged = 12,
    scrollWheel = 22,
    tabletPointer = 23,
    tabletProximity = 24,
    otherMouseDown = 25,
    otherMouseUp = 26,
    otherMouseDragged = 27,
    tapDisabledByTimeout = 0xFFFFFFFE,
    tapDisabledByUserInput = 0xFFFFFFFF,
};

// A mouse button's press or release (of any button).
constexpr bool isMouseButtonDown(EventType type) {
    return type == EventType::leftMouseDown || type == EventType::rightMouseDown ||
           type == EventType::otherMouseDown;
}
constexpr bool isMouseButtonUp(EventType type) {
    return type == EventType::leftMouseUp || type == EventType::rightMouseUp ||
           type == EventType::otherMouseUp;
}
constexpr bool isMouseButton(EventType type) {
    return isMouseButtonDown(type) || isMouseButtonUp(type);
}

// The event-mask bit of one event type (types above 63, such as the tap-disabled notices, have
// none).
constexpr std::uint64_t eventMaskBit(EventType type) {
    auto n = static_cast<std::uint32_t>(type);
    return n < 64 ? std::uint64_t{1} << n : 0;
}

// The integer fields an event carries, by their numbers in the desktop's event system.
enum class IntegerField : std::uint32_t {
    buttonNumber = 3,  // 0 left, 1 right, 2 middle, higher for further buttons
    deltaX = 4,        // mouse movement since the last event, in points
    deltaY = 5,
    autorepeat = 8,           // non-zero for a key down repeated by the keyboard
    keyCode = 9,              // the virtual key code of a key event
    scrollDelta1 = 11,        // wheel 1 (vertical), whole lines or pixels
    scrollDelta2 = 12,        // wheel 2 (horizontal)
    userData = 42,            // free for the poster; our own events carry eventMarker here
    scrollIsContinuous = 88,  // non-zero for trackpad and high-resolution scrolling
    scrollPhase = 99,
    momentumPhase = 123,
};

// The fixed-point (fractional) fields an event carries.
enum class FixedPointField : std::uint32_t {
    scrollFixedDelta1 = 93,  // vertical wheel delta with its fraction
    scrollFixedDelta2 = 94,  // horizontal wheel delta with its fraction
};

// The value every event this program posts or replays carries in its user-data field ("TNDW");
// the program's own taps let such events pass untouched.
inline constexpr std::int64_t eventMarker = 0x544E4457;

// One input event as a plain value: what the event tap sees and what the program posts. It holds
// no pointers and allocates nothing, so copying it is a small fixed-size copy. Fields that were
// never set read as zero.
struct Event {
    struct Location {
        double x = 0;
        double y = 0;
        bool operator==(const Location&) const = default;
    };

    EventType type = EventType::null;
    std::uint64_t flags = 0;  // modifier and device flag bits
    Location location;        // pointer position in global screen points

    // An integer field; any number that is not an IntegerField case reads as 0.
    constexpr std::int64_t integer(IntegerField field) const {
        int i = integerIndex(field);
        return i < 0 ? 0 : integers_[static_cast<std::size_t>(i)];
    }
    // Sets an integer field; a number that is not an IntegerField case is ignored.
    constexpr void setInteger(IntegerField field, std::int64_t value) {
        int i = integerIndex(field);
        if (i >= 0) integers_[static_cast<std::size_t>(i)] = value;
    }
    constexpr double fixedPoint(FixedPointField field) const {
        int i = fixedIndex(field);
        return i < 0 ? 0.0 : fixed_[static_cast<std::size_t>(i)];
    }
    constexpr void setFixedPoint(FixedPointField field, double value) {
        int i = fixedIndex(field);
        if (i >= 0) fixed_[static_cast<std::size_t>(i)] = value;
    }

    // Whether the event is one of ours (its user-data field holds eventMarker), and marking it so.
    constexpr bool carriesMarker() const { return integer(IntegerField::userData) == eventMarker; }
    constexpr void mark() { setInteger(IntegerField::userData, eventMarker); }

    bool operator==(const Event&) const = default;

  private:
    static constexpr int integerIndex(IntegerField field) {
        switch (field) {
            case IntegerField::buttonNumber:
                return 0;
            case IntegerField::deltaX:
                return 1;
            case IntegerField::deltaY:
                return 2;
            case IntegerField::autorepeat:
                return 3;
            case IntegerField::keyCode:
                return 4;
            case IntegerField::scrollDelta1:
                return 5;
            case IntegerField::scrollDelta2:
                return 6;
            case IntegerField::userData:
                return 7;
            case IntegerField::scrollIsContinuous:
                return 8;
            case IntegerField::scrollPhase:
                return 9;
            case IntegerField::momentumPhase:
                return 10;
        }
        return -1;
    }
    static constexpr int fixedIndex(FixedPointField field) {
        switch (field) {
            case FixedPointField::scrollFixedDelta1:
                return 0;
            case FixedPointField::scrollFixedDelta2:
                return 1;
        }
        return -1;
    }

    std::array<std::int64_t, 11> integers_{};
    std::array<double, 2> fixed_{};
};

}  // namespace tindlewave
