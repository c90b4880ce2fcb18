// The engine's run: streams, snapshots, permission states, pausing, device events and the
// tap order, on manual executors over the simulated worlds.

#include <gtest/gtest.h>

#include "Runtime/Devices/Slot.h"
#include "Runtime/Tap/TapHost.h"
#include "TestKit/EngineHarness.h"
#include "TindlewaveKit/Runtime/Engine/EngineConfigs.h"

namespace tindlewave {
namespace {

using namespace testkit;
using std::chrono::seconds;

using EngineRunTest = EngineHarness;

TEST_F(EngineRunTest, PublishesAFirstStatusBeforeAnySnapshot) {
    grants.setInputMonitoring(Grant::denied);
    engine = std::make_unique<Engine>(EngineWorld{hid, tap, world, events, grants, defaults,
                                                  journal, hidutil.host(&pool), wakes});
    start();
    ASSERT_EQ(statuses.size(), 1u);
    EXPECT_EQ(latest().run, RunState::active);
    EXPECT_EQ(latest().tap, TapState::off);
    EXPECT_EQ(latest().permissions, (PermissionState{Grant::granted, Grant::denied}));
    EXPECT_TRUE(latest().devices.empty());
    EXPECT_FALSE(engine->isStarted());
}

TEST_F(EngineRunTest, PermissionPollsReconcileOnlyWhenAGrantChanges) {
    start();
    attach(SimulatedDevice::hidppMouse(masterThree(), 0x10));
    send(configWith({masterProfile(), plainMouseProfile()}));
    attach(plainMouse());
    EXPECT_TRUE(engine->sentTapOrder()->install);
    EXPECT_TRUE(engine->tapHost().isInstalled());
    EXPECT_EQ(latest().tap, TapState::on);

    sendPermissions(Grant::granted, Grant::granted);
    sendPermissions(Grant::granted, Grant::granted);
    EXPECT_EQ(countLines("reasons=permissionChanged"), 0u);

    sendPermissions(Grant::denied, Grant::granted);
    EXPECT_EQ(countLines("hidpp #1 MX Master 3 Wireless Mouse reasons=permissionChanged"), 1u);
    EXPECT_FALSE(engine->sentTapOrder()->install);
    EXPECT_FALSE(engine->tapHost().isInstalled());
    EXPECT_EQ(latest().tap, TapState::off);
    EXPECT_EQ(latest().permissions.accessibility, Grant::denied);

    sendPermissions(Grant::granted, Grant::granted);
    EXPECT_EQ(countLines("reasons=permissionChanged"), 2u);
    EXPECT_TRUE(engine->tapHost().isInstalled());
    EXPECT_EQ(latest().tap, TapState::on);
}

TEST_F(EngineRunTest, TheFirstSnapshotStartsDiscoveryEvenWithAnErrorAndNoConfiguration) {
    attach(plainMouse());
    start();
    send(ConfigSnapshot{std::nullopt, ConfigError{"devices", "broken"}});
    EXPECT_TRUE(engine->isStarted());
    EXPECT_EQ(engine->slotCount(), 1u);
    EXPECT_EQ(countLines("present #1 Plain Mouse profile=none"), 1u);
    EXPECT_EQ(latest().configError, (ConfigError{"devices", "broken"}));
    EXPECT_FALSE(latest().configInForce);  // no last good settings to speak of
    // Without a configuration there are no rows at all, not even new devices.
    EXPECT_TRUE(latest().devices.empty());
    EXPECT_TRUE(latest().newDevices.empty());
    EXPECT_FALSE(engine->sentTapOrder()->install);
}

TEST_F(EngineRunTest, AnErrorBesideAnUnchangedConfigurationPublishesWithoutReconciling) {
    attach(SimulatedDevice::hidppMouse(masterThree(), 0x10));
    start();
    const Config config = configWith({masterProfile()});
    send(config);
    const auto applies = countLines("hidpp #1");
    const auto published = statuses.size();
    send(ConfigSnapshot{config, ConfigError{"devices[0].rules", "bad rule"}});
    EXPECT_EQ(countLines("hidpp #1"), applies);
    EXPECT_GT(statuses.size(), published);
    EXPECT_EQ(latest().configError->path, "devices[0].rules");
    EXPECT_TRUE(latest().configInForce);
}

TEST_F(EngineRunTest, PausingTwiceReconcilesOnceAndGivesTheNeutralSetUpEverywhere) {
    const auto master = attach(SimulatedDevice::hidppMouse(masterThree(), 0x10));
    attach(hyperKeyboard());
    attach(plainMouse());
    start();
    send(configWith({masterProfile(), hyperKeyboardProfile(), plainMouseProfile()}));
    settle(seconds(2));
    EXPECT_TRUE(diverted(master, 0x53));
    EXPECT_EQ(mappedPairs(), 1u);
    EXPECT_TRUE(engine->tapHost().isInstalled());

    onHID([&] { engine->setPaused(true); });
    onHID([&] { engine->setPaused(true); });
    settle(seconds(2));
    EXPECT_EQ(countLines("hidpp #1 MX Master 3 Wireless Mouse reasons=pauseChanged"), 1u);
    EXPECT_EQ(countLines("apply #2 Keyboard reasons=pauseChanged"), 1u);
    EXPECT_EQ(latest().run, RunState::paused);
    EXPECT_FALSE(diverted(master, 0x53));
    EXPECT_EQ(mappedPairs(), 0u);
    EXPECT_FALSE(engine->tapHost().isInstalled());
    EXPECT_EQ(latest().tap, TapState::off);

    onHID([&] { engine->setPaused(false); });
    settle(seconds(2));
    EXPECT_TRUE(diverted(master, 0x53));
    EXPECT_EQ(mappedPairs(), 1u);
    EXPECT_TRUE(engine->tapHost().isInstalled());
    EXPECT_EQ(latest().run, RunState::active);
}

TEST_F(EngineRunTest, ADeviceThatAppearsIsTheOnlyOneAskedToApply) {
    attach(SimulatedDevice::hidppMouse(masterThree(), 0x10));
    start();
    send(configWith({masterProfile(), hyperKeyboardProfile()}));
    settle(seconds(2));
    EXPECT_FALSE(latest().lastReconnect.has_value());  // present at launch

    const auto before = countLines("hidpp #1");
    attach(hyperKeyboard());
    settle(seconds(2));
    EXPECT_EQ(countLines("hidpp #1"), before);
    EXPECT_EQ(countLines("apply #2 Keyboard reasons=connected"), 1u);
    EXPECT_EQ(countLines("connect #2 Keyboard profile=Keyboard"), 1u);
    ASSERT_TRUE(latest().lastReconnect.has_value());
    EXPECT_EQ(latest().lastReconnect->device, "Keyboard");
    EXPECT_TRUE(latest().lastReconnect->reapplied);

    // A device without a profile does not count as a reconnect.
    attach(plainMouse());
    EXPECT_EQ(latest().lastReconnect->device, "Keyboard");
}

TEST_F(EngineRunTest, ADisappearanceResendsTheTapOrderAndDropsTheDevice) {
    const auto master = attach(SimulatedDevice::hidppMouse(masterThree(), 0x10));
    const auto keyboard = attach(hyperKeyboard());
    start();
    send(configWith({masterProfile(), hyperKeyboardProfile()}));
    settle(seconds(2));
    ASSERT_TRUE(latest().devices[0].hidpp && latest().devices[0].hidpp->capabilities);

    const auto sent = engine->tapOrdersSent();
    detach(keyboard);
    EXPECT_EQ(engine->tapOrdersSent(), sent + 1);  // re-sent though nothing in it changed
    EXPECT_EQ(engine->slotCount(), 1u);
    EXPECT_EQ(countLines("disconnect #2 Keyboard"), 1u);
    EXPECT_EQ(latest().devices[1].connectedAt, std::nullopt);
    EXPECT_TRUE(is<HyperStatus::Off>(*latest().devices[1].hyper));
    detach(master);
    EXPECT_EQ(engine->slotCount(), 0u);
    EXPECT_FALSE(latest().devices[0].hidpp.has_value());
    EXPECT_FALSE(latest().devices[0].kind.has_value());
    EXPECT_EQ(engine->tapOrdersSent(), sent + 2);
}

TEST_F(EngineRunTest, AChangeWithEqualPropertiesKeepsTheSlot) {
    const auto attached = world.attach(hyperKeyboard(), SimulatedHIDWorld::Publication::later);
    settle();
    start();
    send(configWith({hyperKeyboardProfile()}));
    const Slot* first = engine->slot(DeviceInstanceID{1});
    ASSERT_NE(first, nullptr);
    const auto applies = countLines("apply #1");

    // Its event services are published late: only they change.
    world.publishServices(attached.interfaces[0]);
    settle();
    EXPECT_EQ(countLines("services #1 Keyboard"), 1u);
    EXPECT_EQ(engine->slot(DeviceInstanceID{1}), first);
    EXPECT_EQ(countLines("apply #1"), applies);
    EXPECT_EQ(countLines("connect #1"), 0u);
}

TEST_F(EngineRunTest, ReapplyResendsAnUnchangedTapOrderAndPlainReconcilesDoNot) {
    attach(plainMouse());
    start();
    send(configWith({plainMouseProfile()}));
    const auto order = engine->sentTapOrder();
    ASSERT_TRUE(order && order->install);
    const auto sent = engine->tapOrdersSent();

    // Nothing changed: a wake reconciles without sending; a re-apply sends the same order again.
    wake();
    EXPECT_EQ(engine->tapOrdersSent(), sent);
    EXPECT_TRUE(hasLine("woke from sleep"));
    onHID([&] { engine->reapplyAll(); });
    EXPECT_EQ(engine->tapOrdersSent(), sent + 1);
    EXPECT_EQ(engine->sentTapOrder(), order);
    EXPECT_TRUE(engine->tapHost().isInstalled());
}

TEST_F(EngineRunTest, CancellingTheRunFinishesTheOutputStreamsOnce) {
    start();
    send(configWith({}));
    run.cancel();
    settle();
    EXPECT_TRUE(runEnded);
    EXPECT_TRUE(engine->statuses().isTerminated());
    EXPECT_TRUE(engine->actions().isTerminated());
    EXPECT_TRUE(engine->heard().isTerminated());

    // A second run is refused.
    bool secondEnded = false;
    Cancellable second;
    onHID([&] { second = engine->run(configs, permissionStates, [&] { secondEnded = true; }); });
    EXPECT_FALSE(second.isArmed());
    EXPECT_FALSE(secondEnded);
}

TEST_F(EngineRunTest, TheRunEndsWhenEveryStreamHasFinished) {
    start();
    configs.finish();
    permissionStates.finish();
    wakes.finish();
    settle();
    EXPECT_FALSE(runEnded);  // the engine's own streams still run
    run.cancel();
    settle();
    EXPECT_TRUE(runEnded);
}

TEST_F(EngineRunTest, AFailedTapShowsFailedUntilItInstallsAndAReenableIsJournalled) {
    attach(plainMouse());
    events.setFailsTapCreation(true);
    start();
    send(configWith({plainMouseProfile()}));
    EXPECT_EQ(latest().tap, TapState::failed);

    events.setFailsTapCreation(false);
    onHID([&] { engine->reapplyAll(); });
    ASSERT_EQ(latest().tap, TapState::on);
    const std::size_t published = statuses.size();
    tap.post([&] { events.disableTap(TapPort{1}, SimulatedEventSystem::DisableNotice::timeout); });
    settle();
    EXPECT_TRUE(hasLine("tap re-enabled after the system disabled it"));
    EXPECT_GT(statuses.size(), published);
    EXPECT_EQ(latest().tap, TapState::on);

    // No tap wanted any more: off, not failed, even after a failure.
    events.setFailsTapCreation(true);
    tap.post([&] { events.invalidateTap(TapPort{1}); });
    advance(seconds(5));
    ASSERT_EQ(latest().tap, TapState::failed);
    onHID([&] { engine->setPaused(true); });
    EXPECT_EQ(latest().tap, TapState::off);
}

}  // namespace
}  // namespace tindlewave
