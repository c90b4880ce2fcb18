#include "Runtime/Tap/TapHost.h"

#include <algorithm>
#include <cassert>
#include <memory>

namespace tindlewave {

namespace {

std::int64_t scrollPhase(HoldScrollFrame::Phase phase) {
    switch (phase) {
        case HoldScrollFrame::Phase::began:
            return 1;
        case HoldScrollFrame::Phase::changed:
            return 2;
        case HoldScrollFrame::Phase::ended:
            return 4;
        default:
            return 0;
    }
}

std::int64_t momentumPhase(HoldScrollFrame::Phase phase) {
    switch (phase) {
        case HoldScrollFrame::Phase::momentumBegan:
            return 1;
        case HoldScrollFrame::Phase::momentumChanged:
            return 2;
        case HoldScrollFrame::Phase::momentumEnded:
            return 3;
        default:
            return 0;
    }
}

}  // namespace

void TapHost::holdScrolled(const HoldScrollEvent& event, std::optional<Event::Location> at) {
    assert(executor_.isCurrent());
    const double time = now();
    holdScroll_.receive(event, time);
    if (is<HoldScrollEvent::Began>(event)) handScrolling_ = true;
    if (is<HoldScrollEvent::Ended>(event)) handScrolling_ = false;
    updateCursor(false);
    if (!holdScroll_.needsFrames()) return;
    bool renew = false;
    if (frames_ && !frames_->isPaused()) {
        if (time - lastFrame_ <= stallSeconds) return;  // the clock is running
        renew = true;
    }
    if (runFrames(at ? *at : events_.cursorLocation(), renew))
        lastFrame_ = time;
    else
        endHoldScroll();
}

bool TapHost::runFrames(Event::Location at, bool renew) {
    assert(executor_.isCurrent());
    const std::optional<DisplayID> display = events_.displayAt(at);
    const bool keep = !renew && frames_ && (!display || framesDisplay_ == display);
    if (!keep) {
        frames_.reset();
        const std::vector<Screen> screens = events_.screens();
        if (screens.empty()) return false;
        auto screen = std::find_if(screens.begin(), screens.end(),
                                   [&](const Screen& s) { return display && s.id == *display; });
        if (screen == screens.end()) screen = screens.begin();
        frames_ = std::make_unique<FrameClock>(executor_, events_, *screen,
                                               [this](double target) { glide(target); });
        framesDisplay_ = screen->id;
        ++framesMade_;
    }
    frames_->setPaused(false);
    return true;
}

void TapHost::glide(double targetTime) {
    assert(executor_.isCurrent());
    lastFrame_ = now();
    if (auto frame = animator_.frame(targetTime)) post(*frame);
    if (auto frame = holdScroll_.frame(targetTime)) post(*frame);
    if (!animator_.needsFrames() && !holdScroll_.needsFrames()) frames_->setPaused(true);
}

void TapHost::endHoldScroll() {
    if (auto frame = holdScroll_.stop()) post(*frame);
    handScrolling_ = false;
    updateCursor(false);
}

void TapHost::post(std::span<const KeyEvent> keys) {
    for (const KeyEvent& key : keys) {
        Event event;
        event.type = key.type;
        event.flags = key.flags;
        event.setInteger(IntegerField::keyCode, key.keyCode.rawValue);
        event.mark();
        events_.post(event, EventLevel::hid);
    }
}

void TapHost::post(const ScrollFrame& frame) {
    const auto phase = static_cast<std::int64_t>(frame.phase);
    Event event;
    event.type = EventType::scrollWheel;
    event.location = events_.cursorLocation();
    event.setInteger(IntegerField::scrollDelta1,
                     wholePoints_.take(frame.points, frame.phase == ScrollFrame::Phase::began));
    event.setFixedPoint(FixedPointField::scrollFixedDelta1, frame.points / 10.0);
    event.setInteger(IntegerField::scrollPhase, phase);
    event.mark();
    events_.post(event, EventLevel::session);
}

void TapHost::post(const HoldScrollFrame& frame) {
    const bool restart = frame.phase == HoldScrollFrame::Phase::began;
    Event event;
    event.type = EventType::scrollWheel;
    event.location = events_.cursorLocation();
    event.setInteger(IntegerField::scrollDelta1, holdPoints_.dy.take(frame.dy, restart));
    event.setInteger(IntegerField::scrollDelta2, holdPoints_.dx.take(frame.dx, restart));
    event.setFixedPoint(FixedPointField::scrollFixedDelta1, frame.dy / 10.0);
    event.setFixedPoint(FixedPointField::scrollFixedDelta2, frame.dx / 10.0);
    event.setInteger(IntegerField::scrollPhase, scrollPhase(frame.phase));
    event.setInteger(IntegerField::momentumPhase, momentumPhase(frame.phase));
    event.mark();
    events_.post(event, EventLevel::session);
}

}  // namespace tindlewave
