#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "Core/Tap/Event.h"
#include "Core/Tap/HIDOrigin.h"

namespace tindlewave {

class Executor;

// Where a tap sits in the event stream, and where a posted event enters it: at the HID level,
// where events come in from the devices (taps there see the program's own HID-level posts too),
// or at the session level, after the taps (what applications receive).
enum class EventLevel { hid, session };

// Where a new tap goes among the taps of its level: before them (it sees events first) or after.
enum class TapPlacement { headInsert, tailAppend };

// An active tap may change and drop events; a listen-only tap only watches.
enum class TapOptions { active, listenOnly };

// A tap callback's answer: let the (possibly changed) event go on, or swallow it.
enum class TapAnswer { pass, drop };

// A tap's callback: the event's type, the event, which it may change in place, and its origin:
// the event service that produced it and its wheel detents, none for an event the program (or
// anyone) posted. Besides the types of its mask, a tap's callback receives the notices that the
// tap was disabled (EventType::tapDisabledByTimeout and tapDisabledByUserInput, with an empty
// event and no origin).
using TapCallback =
    std::function<TapAnswer(EventType, Event&, const std::optional<HIDOrigin>& origin)>;

// One tap made by createTap. A plain handle: it stays usable (and answers "invalid") after the
// tap was invalidated, and the same number is never given out twice by one event system.
struct TapPort {
    std::uint64_t rawValue = 0;
    bool operator==(const TapPort&) const = default;
};

struct TapSpec {
    EventLevel location = EventLevel::hid;
    TapPlacement placement = TapPlacement::headInsert;
    TapOptions options = TapOptions::active;
    std::uint64_t mask = 0;  // eventMaskBit of every type the tap sees
};

using DisplayID = std::uint32_t;

// One screen: its display, its area in global points and its refresh rate.
struct Screen {
    struct Area {
        double x = 0;
        double y = 0;
        double width = 0;
        double height = 0;
        bool contains(Event::Location point) const {
            return x <= point.x && point.x < x + width && y <= point.y && point.y < y + height;
        }
        bool operator==(const Area&) const = default;
    };

    DisplayID id = 0;
    Area area;
    double refreshRate = 60;  // frames per second

    bool operator==(const Screen&) const = default;
};

// The desktop's input-event services: taps that see (and may change or swallow) the input events
// of every application, posting events, the combined modifier state, the cursor and the screens.
//
// Threads: a tap is attached to one executor and its callback runs there, one event at a time;
// the tap functions (createTap to invalidate) are called on that executor. Once
// invalidate has returned, the tap's callback is never called again, so an owner that
// invalidates its taps in its destructor on that executor is safe from late callbacks. post,
// flagsState, the cursor and the screens may be used from any thread.
class EventSystem {
  public:
    virtual ~EventSystem() = default;

    // Makes an enabled tap, whose callback runs once it is attached. None when the system refuses
    // (for instance without the Accessibility grant).
    virtual std::optional<TapPort> createTap(const TapSpec& spec, TapCallback callback) = 0;
    // Lets the tap's callback run on `executor`; false when the tap cannot be attached there
    // (the caller then invalidates it).
    virtual bool attach(TapPort port, Executor& executor) = 0;
    // Stops delivering to the tap's executor; the tap stays valid.
    virtual void detach(TapPort port) = 0;
    virtual void enable(TapPort port, bool enabled) = 0;
    virtual bool isEnabled(TapPort port) const = 0;
    // False once the tap was invalidated, by its owner or by the system.
    virtual bool isValid(TapPort port) const = 0;
    // Removes the tap for good; harmless on an invalid tap.
    virtual void invalidate(TapPort port) = 0;
    // Whether the system tells an attached tap's callback every time it disables the tap (the
    // notices above) and never invalidates a tap itself: the tap's owner then needs no watchdog
    // looking for a tap turned off without a word.
    virtual bool tellsOfEveryDisable() const { return false; }

    // Posts an event at the HID level (taps see it) or the session level (applications get it).
    virtual void post(const Event& event, EventLevel level) = 0;
    // The modifier flags of the session as the combined state of every keyboard.
    virtual std::uint64_t flagsState() const = 0;

    virtual Event::Location cursorLocation() const = 0;
    // Whether the cursor follows the mouse; false freezes it while mouse events still arrive.
    virtual void associateMouseAndCursor(bool associated) = 0;

    // The display under a point; none when no display is there.
    virtual std::optional<DisplayID> displayAt(Event::Location point) const = 0;
    virtual std::vector<Screen> screens() const = 0;
    // Whether the display delivers frames now: false while it sleeps or has stopped refreshing.
    virtual bool isRefreshing(DisplayID display) const = 0;
};

}  // namespace tindlewave
