#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "Platform/EventSystem.h"
#include "Printing.h"

namespace tindlewave::headless {

// The event system the engine and the performer see: the simulated one, with every post printed
// once it is passed on. The frames of a smooth scroll (session-level wheel events) make one
// line for the whole burst, with its frame count and the points moved, printed when the burst
// is over (endBurst) or another post comes.
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
    bool tellsOfEveryDisable() const override { return inner_.tellsOfEveryDisable(); }
    void post(const Event& event, EventLevel level) override;
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

    // Prints the scroll burst under way, if any; callable from any thread.
    void endBurst();
    // Posts so far, frames included.
    std::uint64_t posts() const { return posts_.load(); }

  private:
    struct Burst {
        int frames = 0;
        std::int64_t vertical = 0;
        std::int64_t horizontal = 0;
    };
    void endBurstLocked();

    EventSystem& inner_;
    Printer& printer_;
    std::atomic<std::uint64_t> posts_{0};
    std::mutex mutex_;
    Burst burst_;
};

}  // namespace tindlewave::headless
