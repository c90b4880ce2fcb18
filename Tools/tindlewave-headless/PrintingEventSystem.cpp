#include "PrintingEventSystem.h"

#include <fmt/format.h>

namespace tindlewave::headless {

void PrintingEventSystem::post(const Event& event, EventLevel level) {
    // Passed on first: the line costs the event nothing.
    inner_.post(event, level);
    const bool frame = event.type == EventType::scrollWheel && level == EventLevel::session;
    std::lock_guard lock(mutex_);
    ++posts_;
    if (frame) {
        ++burst_.frames;
        burst_.vertical += event.integer(IntegerField::scrollDelta1);
        burst_.horizontal += event.integer(IntegerField::scrollDelta2);
    } else {
        endBurstLocked();
        printer_.line(postedLine(event, level));
    }
}

void PrintingEventSystem::endBurst() {
    std::lock_guard lock(mutex_);
    endBurstLocked();
}

void PrintingEventSystem::endBurstLocked() {
    if (burst_.frames == 0) return;
    printer_.line(fmt::format("posted (session): scroll of {} frames, {} {} points", burst_.frames,
                              burst_.vertical, burst_.horizontal));
    burst_ = {};
}

}  // namespace tindlewave::headless
