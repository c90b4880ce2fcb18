#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "Platform/Simulated/Input/SimulatedEventSystem.h"
#include "Platform/Simulated/Permissions/SimulatedPermissionGrants.h"
#include "Runtime/Executors/RunLoopExecutor.h"
#include "Runtime/Tap/TapHost.h"
#include "TestKit/Waiter.h"

using namespace tindlewave;
using namespace tindlewave::testkit;

namespace {

// The host on a tap thread of its own, fed from other threads as the system and the engine do (the
// engine's run delivers its orders and key holds on the tap executor).
TEST(TapHostOnItsThread, FollowsOrdersAndEventsFromOtherThreads) {
    constexpr SenderID keyboard{0x2000};
    SimulatedPermissionGrants grants;
    RunLoopExecutor tap("test.tap");
    SimulatedEventSystem events(tap, grants);
    Channel<TapSignal> signals(Buffering::unbounded);
    Channel<Action> actions(Buffering::unbounded);
    Channel<TapOrder> orders(Buffering::newest);
    Channel<KeyHoldEvent> keyHolds(Buffering::unbounded);
    auto host = std::make_unique<TapHost>(events, tap, signals, actions);
    Subscription ordered = orders.subscribe(tap, [&](TapOrder order) { host->follow(order); });
    Subscription held = keyHolds.subscribe(tap, [&](KeyHoldEvent event) { host->receive(event); });

    Waiter waiter;
    int installed = 0;
    int performed = 0;
    RunLoopExecutor engine("test.engine");
    Subscription onSignal = signals.subscribe(engine, [&](TapSignal signal) {
        waiter.update([&] { installed += is<TapSignal::Installed>(signal) ? 1 : 0; });
    });
    Subscription onAction =
        actions.subscribe(engine, [&](Action) { waiter.update([&] { ++performed; }); });

    TapRules rules;
    rules.carriers.emplace(KeyCode{105},
                           CarrierMeaning::press(Action::system(SystemAction::missionControl)));
    orders.send(TapOrder{true, rules});
    ASSERT_TRUE(waiter.waitFor([&] { return installed == 1; }));

    Event press;
    press.type = EventType::keyDown;
    press.setInteger(IntegerField::keyCode, 105);
    std::vector<std::thread> devices;
    for (int t = 0; t < 3; ++t)
        devices.emplace_back([&] {
            for (int i = 0; i < 20; ++i) events.inject(press, HIDOrigin{keyboard, 0});
        });
    keyHolds.send(KeyHoldEvent::press(KeyHolder::control(DeviceInstanceID{1}, CID{0xC3}),
                                      KeyHold{{HeldModifier::leftShift}, {}}));
    for (auto& device : devices) device.join();
    EXPECT_TRUE(waiter.waitFor([&] { return performed == 60; }));

    // Gone on its own thread: its taps go with it and its held Shift is let go.
    Waiter gone;
    bool destroyed = false;
    tap.post([&] {
        ordered.cancel();
        held.cancel();
        host.reset();
        gone.update([&] { destroyed = true; });
    });
    ASSERT_TRUE(gone.waitFor([&] { return destroyed; }));
    tap.stop();
    tap.join();
    engine.stop();
    engine.join();
    const auto posted = events.posted();
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted.back().event.flags & 0x20002, 0u);
}

}  // namespace
