#include "Runtime/Tap/TapHost.h"

#include <cassert>

#include "Core/Overloaded.h"
#include "Platform/Clock.h"
#include "Platform/Executor.h"

namespace tindlewave {

TapAnswer TapHost::handle(EventType type, Event& event, const std::optional<HIDOrigin>& origin) {
    assert(executor_.isCurrent());
    if (type == EventType::tapDisabledByTimeout || type == EventType::tapDisabledByUserInput) {
        reenable();
        return TapAnswer::pass;
    }
    const TapVerdict verdict = pipeline_.process(type, event, origin);
    updateCursor(false);
    // Most events pass, or are swallowed with nothing else to do (a drag below a gesture's
    // distance): neither pays for the dispatch over the other verdicts.
    if (is<TapVerdict::Pass>(verdict)) return TapAnswer::pass;
    if (is<TapVerdict::Drop>(verdict)) return TapAnswer::drop;
    return carryOut(verdict, event);
}

// Kept out of the callback, so that passes and drops do not pay for the frame of the cases that
// post, hold keys or feed the animators.
[[gnu::noinline]] TapAnswer TapHost::carryOut(const TapVerdict& verdict, Event& event) {
    return std::visit(
        Overloaded{
            [](const TapVerdict::Pass&) { return TapAnswer::pass; },
            [](const TapVerdict::Drop&) { return TapAnswer::drop; },
            // The tick refers to the pipeline's settings: it is fed here, in the callback that
            // made it, before any new order can rebuild the pipeline.
            [&](const TapVerdict::Scroll& scroll) { return scrolled(scroll.tick, event); },
            [&](const TapVerdict::Replay& replay) {
                events_.post(replay.down, EventLevel::hid);
                events_.post(replay.up, EventLevel::hid);
                return TapAnswer::drop;
            },
            [&](const TapVerdict::Perform& perform) {
                actions_.send(perform.action);
                return TapAnswer::drop;
            },
            [&](const TapVerdict::HoldScroll& holdScroll) {
                holdScrolled(holdScroll.event, event.location);
                return TapAnswer::drop;
            },
            [&](const TapVerdict::Keys& keys) {
                post(heldKeys_.receive(keys.event, events_.flagsState()));
                updateOverlay();
                return TapAnswer::drop;
            },
            [&](const TapVerdict::Heard& heard) {
                signals_.send(TapSignal::heard(heard.id, heard.press));
                return TapAnswer::drop;
            },
        },
        verdict.value);
}

TapAnswer TapHost::scrolled(const ScrollTick& tick, const Event& event) {
    const double at = now();
    animator_.tick(tick, at);
    const bool running = frames_ && !frames_->isPaused();
    if (running && at - lastFrame_ <= stallSeconds) return TapAnswer::drop;  // frames will post
    if (runFrames(event.location, running)) {
        lastFrame_ = at;
        return TapAnswer::drop;
    }
    // No screen to glide on: the notch scrolls as it came.
    if (auto frame = animator_.stop()) post(*frame);
    return TapAnswer::pass;
}

void TapHost::receive(const KeyHoldEvent& event) {
    assert(executor_.isCurrent());
    post(heldKeys_.receive(event, events_.flagsState()));
    updateOverlay();
}

void TapHost::release(const TapPipeline::Release& held, bool endingEverything) {
    const ButtonStage::Release& release = held.buttons;
    if (release.endsHoldScroll || endingEverything) endHoldScroll();
    updateCursor(endingEverything);
    // The swallowed down goes out, so the button's up, which now passes, has its down.
    if (release.pendingPress) events_.post(*release.pendingPress, EventLevel::hid);
    // Carrier keys that no longer carry: the system is told their modifiers are up. The key
    // releases below start from what it was told, as its own state catches up only once that
    // post has gone through (else they would set the carriers' modifiers again).
    std::uint64_t flags = events_.flagsState();
    if (auto up = held.carriersUp(flags)) {
        post(std::span(&*up, 1));
        flags = up->flags;
    }
    if (endingEverything) {
        post(heldKeys_.releaseAll(flags));
        updateOverlay();
    } else if (release.keyHolder) {
        const std::uint64_t base = heldKeys_.base(flags);
        post(heldKeys_.release(*release.keyHolder, base));
        updateOverlay();
    }
}

bool TapHost::holdsScrollingButton() const {
    const auto& held = pipeline_.buttons.held();
    if (!held) return false;
    const auto* gesture = as<ControlBehavior::Gesture>(held->behavior);
    return gesture && is<GestureMoves::Scroll>(gesture->plan->moves);
}

// The cursor stays put while a hold-to-scroll button is held or hold-scroll follows the hand.
void TapHost::updateCursor(bool force) {
    const bool frozen = handScrolling_ || holdsScrollingButton();
    if (frozen == cursorFrozen_ && !force) return;
    cursorFrozen_ = frozen;
    events_.associateMouseAndCursor(!frozen);
}

double TapHost::now() const {
    return executor_.clock().uptime();
}

}  // namespace tindlewave
