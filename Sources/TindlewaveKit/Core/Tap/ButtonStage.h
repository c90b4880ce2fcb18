#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include "Core/Gestures/ControlBehavior.h"
#include "Core/Tap/Event.h"
#include "Core/Gestures/GestureMachine.h"
#include "Core/Tap/HIDOrigin.h"
#include "Core/Tap/TapEventKinds.h"
#include "Core/Tap/TapRules.h"
#include "Core/Tap/TapVerdict.h"

namespace tindlewave {

// What plain mouse buttons with rules do: perform an action, run a gesture (swipes or
// hold-to-scroll, with the plain click replayed when the button did not move), or hold keys.
// One button is followed at a time.
class ButtonStage {
  public:
    // The button being followed.
    struct Held {
        std::int64_t button = 0;
        ControlBehavior behavior;
        std::optional<Event> press;  // a gesture button's swallowed down, marked, kept for replay

        bool operator==(const Held&) const = default;
    };

    // What must be undone when the stage forgets its button (see reset()).
    struct Release {
        // The swallowed down of a gesture button: to be posted, so that the button's later up,
        // which will now pass, has its down.
        std::optional<Event> pendingPress;
        bool endsHoldScroll = false;       // the gesture machine was hold-scrolling
        std::optional<int> keyHoldButton;  // the button whose key hold must be released

        bool operator==(const Release&) const = default;
    };

    ButtonStage() = default;
    explicit ButtonStage(std::map<ButtonKey, ControlBehavior> rules) : rules_(std::move(rules)) {}

    // Right and other button downs, ups and drags, while there are rules. Whether the stage
    // decides the event, with its answer in `verdict`; false lets it pass.
    bool process(EventType type, Event& event, OriginLookup& origin, TapVerdict& verdict) {
        if (rules_.empty()) return false;
        return button(type, event, origin, verdict);
    }

    // Forgets the held button and returns the gesture machine to idle, handing back what the
    // caller must release.
    Release reset();

    const std::map<ButtonKey, ControlBehavior>& rules() const { return rules_; }
    const std::optional<Held>& held() const { return held_; }
    const GestureMachine& machine() const { return machine_; }

  private:
    // The dispatch by phase and the drag are kept in the header: a drag comes with every
    // movement while a button is held, and inlined into the dispatcher it writes the verdict
    // knowing that it still holds the pass it began with.
    bool button(EventType type, Event& event, OriginLookup& origin, TapVerdict& verdict) {
        auto phase = tapevents::buttonPhase(type);
        if (!phase) return false;  // not a right or other button's event
        const std::int64_t number = tapevents::buttonNumber(event);
        switch (*phase) {
            case tapevents::ButtonPhase::pressed:
                return pressed(number, event, origin, verdict);
            case tapevents::ButtonPhase::dragged:
                return dragged(number, event, verdict);
            case tapevents::ButtonPhase::released:
                return released(number, event, verdict);
        }
        return false;
    }
    bool pressed(std::int64_t button, const Event& event, OriginLookup& origin,
                 TapVerdict& verdict);
    bool dragged(std::int64_t button, Event& event, TapVerdict& verdict) {
        if (!held_ || held_->button != button) return false;
        const ControlBehavior& behavior = held_->behavior;
        if (behavior.is<ControlBehavior::Gesture>()) [[likely]] {
            auto output = machine_.move(static_cast<double>(event.integer(IntegerField::deltaX)),
                                        static_cast<double>(event.integer(IntegerField::deltaY)));
            if (output && gestureVerdict(*output, verdict)) return true;
            return dropped(verdict);
        }
        if (behavior.is<ControlBehavior::Hold>()) {
            // Keys stay held while the pointer keeps moving.
            event.type = EventType::mouseMoved;
            return false;
        }
        return dropped(verdict);
    }
    bool released(std::int64_t button, const Event& event, TapVerdict& verdict);

    // The verdict of a gesture machine's output during a drag or at the release. False for a
    // click without an action, which the caller decides.
    static bool gestureVerdict(const GestureMachine::Output& output, TapVerdict& verdict);
    static bool dropped(TapVerdict& verdict) {
        verdict.become(TapVerdict::Drop{});
        return true;
    }

    std::map<ButtonKey, ControlBehavior> rules_;
    std::optional<Held> held_;
    GestureMachine machine_;
};

}  // namespace tindlewave
