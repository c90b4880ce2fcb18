// The quit: every device put back, the tap removed, and the record of diverted devices kept
// unless every device settled in time.

#include <algorithm>

#include "Core/Devices/ConfigMatching.h"
#include "Platform/Clock.h"
#include "Platform/Executor.h"
#include "Runtime/Devices/Slot.h"
#include "Runtime/Engine/Engine.h"
#include "Runtime/Tap/TapHost.h"

namespace tindlewave {

struct Engine::Quit {
    std::vector<std::function<void()>> waiting;  // every caller's completion
    Date began;                                  // when the quit began, by the executor's clock
    Instant deadline{};
    TimerHandle poll;
    bool awaitingDevices = false;  // the wait for the devices has begun
    bool checkPosted = false;      // a check is on its way as a job
    bool finished = false;
};

void Engine::shutdown(std::function<void()> done) {
    if (world_.hid.isCurrent()) {
        beginQuit(std::move(done));
        return;
    }
    std::weak_ptr<Engine*> weak = self_;
    world_.hid.post([weak, done = std::move(done)]() mutable {
        if (auto engine = weak.lock()) (*engine)->beginQuit(std::move(done));
    });
}

void Engine::beginQuit(std::function<void()> done) {
    if (quit_) {  // a later call waits for the first one's end
        if (!done) return;
        if (quit_->finished) {
            done();
        } else {
            quit_->waiting.push_back(std::move(done));
        }
        return;
    }
    quit_ = std::make_shared<Quit>();
    if (done) quit_->waiting.push_back(std::move(done));
    quit_->began = now();

    // 1. From now on every compile is neutral; a listen ends as stopped; every slot is asked to
    //    put its device back.
    beginQuitting();
    endListen(std::nullopt, std::nullopt);
    reconcile(ApplyReason::quit, false);

    // 2. The tap host lets go of everything held and removes the tap, directly on its own
    //    executor (not through the tap-order stream), then the wait begins here.
    std::weak_ptr<Engine*> weak = self_;
    TapHost* tapHost = tapHost_.get();
    world_.tap.post([weak, tapHost, &hid = world_.hid] {
        if (!weak.lock()) return;
        tapHost->shutdown();
        hid.post([weak] {
            if (auto engine = weak.lock()) (*engine)->waitForDevices();
        });
    });
}

void Engine::waitForDevices() {
    quit_->deadline = world_.hid.clock().now() + quitDeadline;
    quit_->awaitingDevices = true;
    checkDevices();
}

// The polls alone would end the wait up to one interval after the last device settled; a slot
// reports every apply and key-map pass that ends, so the check follows it at once. The polls stay
// for the deadline and for whatever settles without a report.
void Engine::checkDevicesSoon() {
    if (!quit_ || !quit_->awaitingDevices || quit_->finished || quit_->checkPosted) return;
    quit_->checkPosted = true;
    std::weak_ptr<Engine*> weak = self_;
    world_.hid.post([weak] {
        auto engine = weak.lock();
        if (!engine) return;
        Quit& quit = *(*engine)->quit_;
        quit.checkPosted = false;
        if (!quit.finished) (*engine)->checkDevices();
    });
}

void Engine::checkDevices() {
    std::vector<const Slot*> unsettled;
    for (const auto& [id, slot] : slots_) {
        if (!slot->putBackSince(quit_->began)) unsettled.push_back(slot.get());
    }
    if (unsettled.empty()) {
        // Nothing was examined before the engine started: the record must wait for a run that
        // sees the devices.
        if (started_) latch().clear();
        finishQuit();
        return;
    }
    const Instant now = world_.hid.clock().now();
    if (now >= quit_->deadline) {
        // What could not be put back is undiverted at the next launch, and said now.
        for (const Slot* slot : unsettled) {
            if (slot->hidppWrites().owesNative && slot->hidppInterface()) {
                latch().insert(deviceMatch(slot->device().properties));
                const auto& plan = slot->divertingPlan();
                world_.journal.leftDiverted(slot->device(), plan ? &*plan : nullptr);
            }
        }
        finishQuit();
        return;
    }
    std::weak_ptr<Engine*> weak = self_;
    quit_->poll = world_.hid.schedule(std::min(now + quitPoll, quit_->deadline), [weak] {
        if (auto engine = weak.lock()) (*engine)->checkDevices();
    });
}

void Engine::finishQuit() {
    quit_->finished = true;
    quit_->poll.cancel();
    auto waiting = std::move(quit_->waiting);
    for (auto& done : waiting) done();
}

}  // namespace tindlewave
