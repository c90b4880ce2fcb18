#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include "Core/Gestures/ControlBehavior.h"
#include "Core/Gestures/GestureMachine.h"
#include "Core/Tap/ButtonsDown.h"
#include "Core/Tap/Event.h"
#include "Core/Tap/HIDOrigin.h"
#include "Core/Tap/TapEventKinds.h"
#include "Core/Tap/TapRules.h"
#include "Core/Tap/TapVerdict.h"

namespace tindlewave {

// What plain mouse buttons with rules do: perform an action, run a gesture (swipes or
// hold-to-scroll, with the plain click replayed when the button did not move), or hold keys.
// One button of one event service is followed at a time; the events of another service's button
// with the same number pass untouched.
class ButtonStage {
  public:
    // The button being followed.
    struct Held {
        SenderID sender;
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
        bool endsHoldScroll = false;         // the gesture machine was hold-scrolling
        std::optional<KeyHolder> keyHolder;  // the held button whose key hold must be released

        bool operator==(const Release&) const = default;
    };

    ButtonStage() = default;
    explicit ButtonStage(std::map<ButtonKey, ControlBehavior> rules) : rules_(std::move(rules)) {}

    // Right and other button downs, ups and drags. Whether the stage decides the event, with its
    // answer in `verdict`; false lets it pass. Downs and ups are noted (by their origin) even
    // without rules, so that a button already down when rules arrive is told apart.
    bool process(EventType type, Event& event, const std::optional<HIDOrigin>& origin,
                 TapVerdict& verdict) {
        auto phase = tapevents::buttonPhase(type);
        if (!phase) return false;  // not a right or other button's event
        const std::int64_t number = tapevents::buttonNumber(event);
        switch (*phase) {
            case tapevents::ButtonPhase::pressed:
                return pressed(number, event, origin, verdict);
            case tapevents::ButtonPhase::dragged:
                return dragged(number, event, origin, verdict);
            case tapevents::ButtonPhase::released:
                return released(number, event, origin, verdict);
        }
        return false;
    }

    // Forgets the held button and returns the gesture machine to idle, handing back what the
    // caller must release.
    Release reset();
    // Takes new rules, with nothing held (reset() first hands back what was); what buttons are
    // down is kept.
    void follow(std::map<ButtonKey, ControlBehavior> rules);

    const std::map<ButtonKey, ControlBehavior>& rules() const { return rules_; }
    const std::optional<Held>& held() const { return held_; }
    const GestureMachine& machine() const { return machine_; }

  private:
    bool pressed(std::int64_t button, const Event& event, const std::optional<HIDOrigin>& origin,
                 TapVerdict& verdict);
    // The drag is kept in the header: a drag comes with every movement while a button is held,
    // and inlined into the dispatcher it writes the verdict knowing that it still holds the pass
    // it began with. Its origin is looked at only when another service may hold a button of
    // the same number.
    bool dragged(std::int64_t button, Event& event, const std::optional<HIDOrigin>& origin,
                 TapVerdict& verdict) {
        if (!held_ || held_->button != button) return false;
        if (heldMayShare_ && !fromHeldSender(origin)) return false;
        const ControlBehavior& behavior = held_->behavior;
        if (is<ControlBehavior::Gesture>(behavior)) [[likely]] {
            auto output = machine_.move(static_cast<double>(event.integer(IntegerField::deltaX)),
                                        static_cast<double>(event.integer(IntegerField::deltaY)));
            if (output && gestureVerdict(*output, verdict)) return true;
            return dropped(verdict);
        }
        if (is<ControlBehavior::Hold>(behavior)) {
            // Keys stay held while the pointer keeps moving.
            event.type = EventType::mouseMoved;
            return false;
        }
        return dropped(verdict);
    }
    bool released(std::int64_t button, const Event& event, const std::optional<HIDOrigin>& origin,
                  TapVerdict& verdict);
    // The verdict for the up of the held button (still in `held_`).
    bool releaseHeld(const Event& event, TapVerdict& verdict);
    bool fromHeldSender(const std::optional<HIDOrigin>& origin) const;
    void refreshMayShare();

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
    ButtonsDown down_;
    bool heldMayShare_ = false;  // another service may hold a button of the held number
};

}  // namespace tindlewave
