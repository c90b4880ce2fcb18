#include "Core/Tap/ButtonStage.h"

namespace tindlewave {

using namespace tapevents;

bool ButtonStage::gestureVerdict(const GestureMachine::Output& output, TapVerdict& verdict) {
    if (const auto* click = output.as<GestureMachine::Output::Click>()) {
        if (!click->action) return false;
        verdict.become(TapVerdict::Perform{*click->action});
    } else if (const auto* swipe = output.as<GestureMachine::Output::Swipe>()) {
        verdict.become(TapVerdict::Perform{swipe->action});
    } else {
        verdict.become(TapVerdict::HoldScroll{output.as<GestureMachine::Output::Scroll>()->event});
    }
    return true;
}

bool ButtonStage::pressed(std::int64_t button, const Event& event, OriginLookup& origin,
                          TapVerdict& verdict) {
    if (held_ && held_->button != button) return false;  // one held button at a time
    const auto& from = origin.get();
    if (!from) return false;
    auto rule = rules_.find(ButtonKey{from->sender, button});
    if (rule == rules_.end()) return false;
    const ControlBehavior& behavior = rule->second;

    if (const auto* press = behavior.as<ControlBehavior::Press>()) {
        held_ = Held{button, behavior, std::nullopt};
        verdict.become(TapVerdict::Perform{press->action});
        return true;
    }
    if (const auto* gesture = behavior.as<ControlBehavior::Gesture>()) {
        Event copy = event;
        copy.mark();
        held_ = Held{button, behavior, copy};
        auto output = machine_.step(GestureMachine::Input::press(gesture->plan));
        // A press while an earlier press still hold-scrolls ends that hold-scroll.
        if (output && output->is<GestureMachine::Output::Scroll>()) {
            verdict.become(
                TapVerdict::HoldScroll{output->as<GestureMachine::Output::Scroll>()->event});
            return true;
        }
        return dropped(verdict);
    }
    if (const auto* hold = behavior.as<ControlBehavior::Hold>()) {
        held_ = Held{button, behavior, std::nullopt};
        verdict.become(TapVerdict::Keys{
            KeyHoldEvent::press(KeyHolder::button(narrowButton(button)), hold->keyHold)});
        return true;
    }
    return false;  // native: nothing to follow
}

bool ButtonStage::released(std::int64_t button, const Event& event, TapVerdict& verdict) {
    if (!held_ || held_->button != button) return false;
    Held held = std::move(*held_);
    held_.reset();

    if (held.behavior.is<ControlBehavior::Gesture>()) {
        auto output = machine_.step(GestureMachine::Input::release());
        if (!output) return dropped(verdict);
        if (gestureVerdict(*output, verdict)) return true;
        // A plain click of a gesture button: replay the swallowed down and this up, at the
        // down's place, so the click lands where it began.
        if (!held.press) return false;
        Event up = event;
        up.mark();
        up.location = held.press->location;
        verdict.become(TapVerdict::Replay{*held.press, up});
        return true;
    }
    if (held.behavior.is<ControlBehavior::Hold>()) {
        verdict.become(
            TapVerdict::Keys{KeyHoldEvent::release(KeyHolder::button(narrowButton(button)))});
        return true;
    }
    return dropped(verdict);
}

ButtonStage::Release ButtonStage::reset() {
    Release release;
    release.endsHoldScroll = std::holds_alternative<GestureMachine::Scrolling>(machine_.state);
    if (held_) {
        if (!release.endsHoldScroll) release.pendingPress = held_->press;
        if (held_->behavior.is<ControlBehavior::Hold>()) {
            release.keyHoldButton = narrowButton(held_->button);
        }
    }
    held_.reset();
    machine_ = GestureMachine{};
    return release;
}

}  // namespace tindlewave
