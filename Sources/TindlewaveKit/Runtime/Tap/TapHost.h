#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "Core/Keys/HeldKeys.h"
#include "Core/Scrolling/HoldScroll.h"
#include "Core/Scrolling/ScrollAnimator.h"
#include "Core/Scrolling/WholePoints.h"
#include "Core/Tap/TapPipeline.h"
#include "Model/Rule.h"
#include "Platform/EventSystem.h"
#include "Runtime/Executors/Channel.h"
#include "Runtime/Tap/FrameClock.h"
#include "Runtime/Tap/TapOrder.h"

namespace tindlewave {

class Executor;

// The program's event-tap I/O. It owns the event tap that sees mouse buttons, keys and the
// wheel, the overlay tap that adds held modifiers to every event while keys are held, a
// watchdog timer (only over a system that may turn a tap off without telling it) and a frame clock for smooth scrolling and hold-to-scroll. It runs the tap
// pipeline on every tapped event and carries out the verdicts: posting events, feeding the
// animators, holding keys, sending actions and signals to the engine.
//
// Threads: everything here runs on the executor given at construction (the tap executor): the
// engine's stream deliveries, both tap callbacks, the watchdog and the frames. Call every member
// function there. The engine's run hands it orders, key holds and hold-scroll events from its
// streams and, at quit, calls shutdown().
//
// Lifetime: destroying the host (on its executor, or after it stopped) removes both taps and the
// frame clock from the event system, lets go of held keys and gives the cursor back, so nothing
// calls into a destroyed host and nothing stays held.
class TapHost {
  public:
    // The overlay tap's types: every mouse button's down, up and drag, mouse moves, the wheel,
    // key downs and ups and modifier changes.
    static constexpr std::uint64_t overlayMask = 0x0E401CFE;
    static constexpr double watchdogSeconds = 5.0;
    // A running frame clock that has not framed for longer than this has stalled.
    static constexpr double stallSeconds = 0.1;

    // `signals` and `actions` are the input ends of the engine's streams.
    TapHost(EventSystem& events, Executor& executor, Channel<TapSignal> signals,
            Channel<Action> actions);
    ~TapHost();
    TapHost(const TapHost&) = delete;
    TapHost& operator=(const TapHost&) = delete;

    // Follows one order: held carriers forgotten, the button stage reset and what it held
    // released (everything, when the tap is to go), the stages rebuilt from the rules (the
    // learn stage keeps what it heard), then the tap installed or uninstalled.
    void follow(const TapOrder& order);
    // One press or release of keys held by a HID++ control.
    void receive(const KeyHoldEvent& event);
    // One hold-scroll event, from a HID++ control (no point: frames start at the cursor) or from
    // the tap's own verdict (the event's location).
    void holdScrolled(const HoldScrollEvent& event, std::optional<Event::Location> at);
    // The quit: held carriers forgotten, everything held released, the rules emptied (the learn
    // stage kept), the tap uninstalled.
    void shutdown();

    // One tapped event and its origin: whether it passes (possibly changed) or is swallowed.
    TapAnswer handle(EventType type, Event& event, const std::optional<HIDOrigin>& origin);
    // Starts (or keeps) frames on the display under `at`; false when there is no screen at all.
    // `renew` replaces a running clock that has stalled.
    bool runFrames(Event::Location at, bool renew);

    // What the host holds, for the engine's status and for tests.
    bool isInstalled() const { return port_.has_value(); }
    bool hasOverlay() const { return overlay_.has_value(); }
    bool isCursorFrozen() const { return cursorFrozen_; }
    const TapPipeline& pipeline() const { return pipeline_; }
    const HeldKeys& heldKeys() const { return heldKeys_; }
    const FrameClock* frames() const { return frames_.get(); }
    // Frame clocks made so far (a kept clock is not counted again).
    int framesMade() const { return framesMade_; }

  private:
    struct HoldPoints {
        WholePoints dx;
        WholePoints dy;
    };

    // Tap lifecycle (TapHost.cpp).
    void install();
    void uninstall();
    void reenable();
    void forgetFailure();
    void armWatchdog(Instant at);
    void watchdog(Instant due);
    void updateOverlay();
    void removeOverlay();
    TapAnswer overlayEvent(EventType type, Event& event);

    // Verdicts, releases and the cursor (TapHostEvents.cpp).
    TapAnswer carryOut(const TapVerdict& verdict, Event& event);
    TapAnswer scrolled(const ScrollTick& tick, const Event& event);
    void release(const TapPipeline::Release& held, bool endingEverything);
    void updateCursor(bool force);
    bool holdsScrollingButton() const;

    // Frames and posting (TapHostFrames.cpp).
    void glide(double targetTime);
    void endHoldScroll();
    void post(std::span<const KeyEvent> keys);
    void post(const ScrollFrame& frame);
    void post(const HoldScrollFrame& frame);
    double now() const;

    EventSystem& events_;
    Executor& executor_;

    TapPipeline pipeline_;
    ScrollAnimator animator_;
    WholePoints wholePoints_;
    HoldScrollAnimator holdScroll_;
    HoldPoints holdPoints_;
    bool cursorFrozen_ = false;
    HeldKeys heldKeys_;
    std::optional<TapPort> overlay_;
    bool overlayOn_ = false;
    bool handScrolling_ = false;
    std::optional<TapPort> port_;
    bool installFailed_ = false;  // the last install failed and no order since asked for none
    TimerHandle watchdog_;
    std::unique_ptr<FrameClock> frames_;
    std::optional<DisplayID> framesDisplay_;
    double lastFrame_ = 0;
    int framesMade_ = 0;
    Channel<TapSignal> signals_;
    Channel<Action> actions_;
};

}  // namespace tindlewave
