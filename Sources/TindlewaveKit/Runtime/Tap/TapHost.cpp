#include "Runtime/Tap/TapHost.h"

#include <cassert>
#include <chrono>
#include <utility>

#include "Platform/Clock.h"
#include "Platform/Executor.h"

namespace tindlewave {

namespace {

const Duration watchdogPeriod = std::chrono::duration_cast<Duration>(
    std::chrono::duration<double>(TapHost::watchdogSeconds));

TapSpec headTap(std::uint64_t mask) {
    return {EventLevel::hid, TapPlacement::headInsert, TapOptions::active, mask};
}

}  // namespace

TapHost::TapHost(EventSystem& events, Executor& executor, Channel<TapSignal> signals,
                 Channel<Action> actions)
    : events_(events),
      executor_(executor),
      pipeline_(TapRules::empty()),
      signals_(std::move(signals)),
      actions_(std::move(actions)) {}

TapHost::~TapHost() {
    watchdog_.cancel();
    frames_.reset();
    if (port_) events_.invalidate(*port_);
    if (overlay_) events_.invalidate(*overlay_);
    // Nothing may stay held or frozen after the host is gone.
    if (!heldKeys_.holds().empty()) post(heldKeys_.releaseAll(events_.flagsState()));
    if (cursorFrozen_) events_.associateMouseAndCursor(true);
}

void TapHost::follow(const TapOrder& order) {
    assert(executor_.isCurrent());
    // The rebuild hands back the carriers that no longer carry and what the button stage held.
    // (A scroll tick never outlives the callback that made it, so no tick refers to the old
    // rules' settings.)
    TapPipeline::Release held = pipeline_.rebuild(order.rules);
    release(held, !order.install);
    if (order.install) {
        install();
    } else {
        uninstall();
        forgetFailure();
    }
}

void TapHost::shutdown() {
    assert(executor_.isCurrent());
    release(pipeline_.reset(), true);
    pipeline_.rebuild(TapRules::empty());
    uninstall();
    forgetFailure();
}

void TapHost::install() {
    if (port_ && events_.isValid(*port_)) return;
    if (port_) uninstall();  // leftovers of an invalidated tap
    auto port = events_.createTap(
        headTap(TapPipeline::mask),
        [this](EventType type, Event& event, const std::optional<HIDOrigin>& origin) {
            return handle(type, event, origin);
        });
    if (port && !events_.attach(*port, executor_)) {
        events_.invalidate(*port);
        port.reset();
    }
    if (!port) {
        installFailed_ = true;
        signals_.send(TapSignal::installFailed());
        return;
    }
    installFailed_ = false;
    events_.enable(*port, true);
    removeOverlay();
    updateOverlay();
    port_ = port;
    armWatchdog(executor_.clock().now() + watchdogPeriod);
    signals_.send(TapSignal::installed());
}

void TapHost::uninstall() {
    // A hold by a HID++ control makes the overlay whether or not the main tap runs.
    if (!port_) {
        removeOverlay();
        return;
    }
    events_.enable(*port_, false);
    events_.detach(*port_);
    watchdog_.cancel();
    frames_.reset();
    framesDisplay_.reset();
    if (auto frame = animator_.stop()) post(*frame);
    events_.invalidate(*port_);
    port_.reset();
    release(pipeline_.reset(), true);
    removeOverlay();
    signals_.send(TapSignal::removed());
}

// A tap that failed to install and is no longer wanted is off, not failed.
void TapHost::forgetFailure() {
    if (!installFailed_) return;
    installFailed_ = false;
    signals_.send(TapSignal::removed());
}

void TapHost::reenable() {
    if (!port_) return;
    events_.enable(*port_, true);
    release(pipeline_.reset(), true);
    signals_.send(TapSignal::reenabled());
}

void TapHost::armWatchdog(Instant at) {
    // A system that tells of every disable is answered in the callback; nothing needs a look.
    if (events_.tellsOfEveryDisable()) return;
    watchdog_ = executor_.schedule(at, [this, at] { watchdog(at); });
}

// Catches what the system did without a notice: a tap it invalidated is made again, one it
// disabled is enabled again.
void TapHost::watchdog(Instant due) {
    if (!port_) return;
    if (!events_.isValid(*port_)) {
        uninstall();
        install();  // arms a watchdog of its own
        return;
    }
    if (!events_.isEnabled(*port_)) reenable();
    armWatchdog(due + watchdogPeriod);
}

void TapHost::updateOverlay() {
    const std::uint64_t flags = heldKeys_.heldFlags();
    if (flags != 0 && !overlay_) {
        auto port = events_.createTap(
            headTap(overlayMask),
            [this](EventType type, Event& event, const std::optional<HIDOrigin>&) {
                return overlayEvent(type, event);
            });
        if (port && events_.attach(*port, executor_)) {
            overlay_ = port;
            overlayOn_ = true;
        } else if (port) {
            events_.invalidate(*port);
        }
    }
    if (overlay_ && (flags != 0) != overlayOn_) {
        overlayOn_ = flags != 0;
        events_.enable(*overlay_, overlayOn_);
    }
}

void TapHost::removeOverlay() {
    if (!overlay_) return;
    events_.detach(*overlay_);
    events_.invalidate(*overlay_);
    overlay_.reset();
    overlayOn_ = false;
}

TapAnswer TapHost::overlayEvent(EventType type, Event& event) {
    if (type == EventType::tapDisabledByUserInput) return TapAnswer::pass;
    if (type == EventType::tapDisabledByTimeout) {
        overlayOn_ = false;
        updateOverlay();  // on again while modifiers are held
        return TapAnswer::pass;
    }
    const std::uint64_t held = heldKeys_.heldFlags();
    if (held != 0 && !event.carriesMarker()) event.flags |= held;
    return TapAnswer::pass;
}

}  // namespace tindlewave
