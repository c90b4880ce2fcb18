#pragma once

#include <atomic>

#include "Platform/EventSystem.h"
#include "Printing.h"

namespace tindlewave::headless {

// The event system the engine and the performer see: the simulated one, with every post printed
// before it is passed on.
class PrintingEventSystem final : public EventSystem {
  public:
    PrintingEventSystem(EventSystem& inner, Printer& printer) : inner_(inner), printer_(printer) {}

    std::optional<TapPort> createTap(const TapSpec& spec, TapCallback callback) override {
        return inner_.createTap(spec, std::move(callback));
    }
    bool attach(TapPort port, Executor& executor) override { return inner_.attach(port, executor); }
    void detach(TapPort port) override { inner_.detach(port); }
    void enable(TapPort port, bool enabled) override { inner_.enable(port, enabled); }
    bool isEnabled(TapPort port) const override { return inner_.isEnabled(port); }
    bool isValid(TapPort port) const override { return inner_.isValid(port); }
    void invalidate(TapPort port) override { inner_.invalidate(port); }
    std::optional<HIDOrigin> origin(const Event& event) const override {
        return inner_.origin(event);
    }
    void post(const Event& event, EventLevel level) override {
        // Frames of smooth scrolling come at the display's rate; only their first is worth a line.
        const bool frame = event.type == EventType::scrollWheel && level == EventLevel::session;
        if (!frame || !lastWasFrame_) printer_.line(postedLine(event, level));
        lastWasFrame_ = frame;
        inner_.post(event, level);
    }
    std::uint64_t flagsState() const override { return inner_.flagsState(); }
    Event::Location cursorLocation() const override { return inner_.cursorLocation(); }
    void associateMouseAndCursor(bool associated) override {
        inner_.associateMouseAndCursor(associated);
    }
    std::optional<DisplayID> displayAt(Event::Location point) const override {
        return inner_.displayAt(point);
    }
    std::vector<Screen> screens() const override { return inner_.screens(); }
    bool isRefreshing(DisplayID display) const override { return inner_.isRefreshing(display); }

  private:
    EventSystem& inner_;
    Printer& printer_;
    std::atomic<bool> lastWasFrame_{false};
};

}  // namespace tindlewave::headless
