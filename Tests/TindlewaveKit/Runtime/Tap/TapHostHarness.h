#pragma once

// A tap host on a manual tap executor over the simulated event system, with the engine's side of
// its streams collected on a manual engine executor.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "Platform/Simulated/Input/SimulatedEventSystem.h"
#include "Platform/Simulated/Permissions/SimulatedPermissionGrants.h"
#include "Runtime/Tap/TapHost.h"
#include "TestKit/ManualExecutor.h"

namespace tindlewave::testkit {

inline constexpr SenderID tapMouse{0x1000};
inline constexpr SenderID tapKeyboard{0x2000};

struct TapHostHarness : ::testing::Test {
    ManualScheduler scheduler;
    ManualExecutor tap{scheduler, "tap"};
    ManualExecutor engine{scheduler, "engine"};
    SimulatedPermissionGrants grants;
    SimulatedEventSystem events{tap, grants};
    Channel<TapSignal> signalChannel{Buffering::unbounded};
    Channel<Action> actionChannel{Buffering::unbounded};
    std::vector<TapSignal> signals;
    std::vector<Action> actions;
    Subscription signalSubscription = signalChannel.subscribe(
        engine, [this](TapSignal signal) { signals.push_back(std::move(signal)); });
    Subscription actionSubscription =
        actionChannel.subscribe(engine, [this](Action action) { actions.push_back(action); });
    std::unique_ptr<TapHost> host =
        std::make_unique<TapHost>(events, tap, signalChannel, actionChannel);

    // Runs `job` as a job of the tap executor, and everything ready after it.
    void onTap(std::function<void()> job) {
        tap.post(std::move(job));
        scheduler.runReady();
    }
    void follow(const TapRules& rules, bool install = true) {
        onTap([&] { host->follow(TapOrder{install, rules}); });
    }
    void inject(const Event& event, SenderID sender = tapMouse, double detents = 1) {
        events.inject(event, HIDOrigin{sender, detents});
        scheduler.runReady();
    }
    void advance(double seconds) {
        scheduler.advance(std::chrono::duration_cast<Duration>(
            std::chrono::duration<double>(seconds)));
    }

    static Event button(EventType type, std::int64_t number, Event::Location at = {500, 500}) {
        Event event;
        event.type = type;
        event.location = at;
        event.setInteger(IntegerField::buttonNumber, number);
        return event;
    }
    static Event key(EventType type, std::int64_t code, std::uint64_t flags = 0) {
        Event event;
        event.type = type;
        event.flags = flags;
        event.setInteger(IntegerField::keyCode, code);
        return event;
    }
    static Event wheel(Event::Location at = {500, 500}, std::int64_t lines = 1) {
        Event event;
        event.type = EventType::scrollWheel;
        event.location = at;
        event.setInteger(IntegerField::scrollDelta1, lines);
        return event;
    }

    // The posted events of one type.
    std::vector<SimulatedEventSystem::Posted> postedOf(EventType type) const {
        std::vector<SimulatedEventSystem::Posted> found;
        for (const auto& posted : events.posted())
            if (posted.event.type == type) found.push_back(posted);
        return found;
    }
    std::size_t countSignals(const std::function<bool(const TapSignal&)>& which) const {
        std::size_t n = 0;
        for (const auto& signal : signals) n += which(signal) ? 1 : 0;
        return n;
    }
};

}  // namespace tindlewave::testkit
