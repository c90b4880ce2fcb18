#include "Core/Tap/ButtonStage.h"

namespace tindlewave {

using namespace tapevents;

bool ButtonStage::gestureVerdict(const GestureMachine::Output& output, TapVerdict& verdict) {
    if (const auto* click = as<GestureMachine::Output::Click>(output)) {
        if (!click->action) return false;
        verdict.become(TapVerdict::Perform{*click->action});
    } else if (const auto* swipe = as<GestureMachine::Output::Swipe>(output)) {
        verdict.become(TapVerdict::Perform{swipe->action});
    } else {
        verdict.become(TapVerdict::HoldScroll{as<GestureMachine::Output::Scroll>(output)->event});
    }
    return true;
}

namespace {

std::optional<SenderID> senderOf(const std::optional<HIDOrigin>& origin) {
    if (!origin) return std::nullopt;
    return origin->sender;
}

}  // namespace

bool ButtonStage::fromHeldSender(const std::optional<HIDOrigin>& from) const {
    return from && from->sender == held_->sender;
}

void ButtonStage::refreshMayShare() {
    heldMayShare_ = held_ && down_.mayShare(held_->sender, held_->button);
}

bool ButtonStage::pressed(std::int64_t button, const Event& event,
                          const std::optional<HIDOrigin>& from, TapVerdict& verdict) {
    down_.down(senderOf(from), button);
    refreshMayShare();
    if (!from) return false;
    // One held button at a time; a down of the held one itself follows a lost up.
    if (held_ && (held_->sender != from->sender || held_->button != button)) return false;
    auto rule = rules_.find(ButtonKey{from->sender, button});
    if (rule == rules_.end()) return false;
    const ControlBehavior& behavior = rule->second;

    if (const auto* press = as<ControlBehavior::Press>(behavior)) {
        held_ = Held{from->sender, button, behavior, std::nullopt};
        verdict.become(TapVerdict::Perform{press->action});
    } else if (const auto* gesture = as<ControlBehavior::Gesture>(behavior)) {
        Event copy = event;
        copy.mark();
        held_ = Held{from->sender, button, behavior, copy};
        auto output = machine_.step(GestureMachine::Input::press(gesture->plan));
        // A press while an earlier press still hold-scrolls ends that hold-scroll.
        if (output && is<GestureMachine::Output::Scroll>(*output)) {
            verdict.become(
                TapVerdict::HoldScroll{as<GestureMachine::Output::Scroll>(*output)->event});
        } else {
            verdict.become(TapVerdict::Drop{});
        }
    } else if (const auto* hold = as<ControlBehavior::Hold>(behavior)) {
        held_ = Held{from->sender, button, behavior, std::nullopt};
        verdict.become(TapVerdict::Keys{
            KeyHoldEvent::press(KeyHolder::button(from->sender, button), hold->keyHold)});
    } else {
        return false;  // native: nothing to follow
    }
    refreshMayShare();
    return true;
}

bool ButtonStage::released(std::int64_t button, const Event& event,
                           const std::optional<HIDOrigin>& from, TapVerdict& verdict) {
    down_.up(senderOf(from), button);
    const bool ofHeld = held_ && from && held_->sender == from->sender && held_->button == button;
    refreshMayShare();
    if (!ofHeld) return false;
    const bool decided = releaseHeld(event, verdict);
    held_.reset();
    heldMayShare_ = false;
    return decided;
}

bool ButtonStage::releaseHeld(const Event& event, TapVerdict& verdict) {
    const Held& held = *held_;
    if (is<ControlBehavior::Gesture>(held.behavior)) {
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
    if (is<ControlBehavior::Hold>(held.behavior)) {
        verdict.become(
            TapVerdict::Keys{KeyHoldEvent::release(KeyHolder::button(held.sender, held.button))});
        return true;
    }
    return dropped(verdict);
}

ButtonStage::Release ButtonStage::reset() {
    Release release;
    release.endsHoldScroll = std::holds_alternative<GestureMachine::Scrolling>(machine_.state);
    if (held_) {
        if (!release.endsHoldScroll) release.pendingPress = held_->press;
        if (is<ControlBehavior::Hold>(held_->behavior)) {
            release.keyHolder = KeyHolder::button(held_->sender, held_->button);
        }
    }
    held_.reset();
    heldMayShare_ = false;
    machine_ = GestureMachine{};
    return release;
}

void ButtonStage::follow(std::map<ButtonKey, ControlBehavior> rules) {
    rules_ = std::move(rules);
    held_.reset();
    heldMayShare_ = false;
    machine_ = GestureMachine{};
}

}  // namespace tindlewave
