#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include "Core/ControlBehavior.h"
#include "Core/Event.h"
#include "Core/GestureMachine.h"
#include "Core/HIDOrigin.h"
#include "Core/TapRules.h"
#include "Core/TapVerdict.h"

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
        if (rules_.empty() || !isButtonType(type)) return false;
        return button(type, event, origin, verdict);
    }

    // Forgets the held button and returns the gesture machine to idle, handing back what the
    // caller must release.
    Release reset();

    const std::map<ButtonKey, ControlBehavior>& rules() const { return rules_; }
    const std::optional<Held>& held() const { return held_; }
    const GestureMachine& machine() const { return machine_; }

  private:
    static constexpr bool isButtonType(EventType type) {
        return type == EventType::rightMouseDown || type == EventType::rightMouseUp ||
               type == EventType::rightMouseDragged || type == EventType::otherMouseDown ||
               type == EventType::otherMouseUp || type == EventType::otherMouseDragged;
    }
    bool button(EventType type, Event& event, OriginLookup& origin, TapVerdict& verdict);
    bool pressed(std::int64_t button, const Event& event, OriginLookup& origin,
                 TapVerdict& verdict);
    bool dragged(std::int64_t button, Event& event, TapVerdict& verdict);
    bool released(std::int64_t button, const Event& event, TapVerdict& verdict);

    std::map<ButtonKey, ControlBehavior> rules_;
    std::optional<Held> held_;
    GestureMachine machine_;
};

}  // namespace tindlewave
