// The engine's status: rows per profile and per new model, the hyper and HID++ sides, the last
// reconnect and the run state.

#include <gtest/gtest.h>

#include "TestKit/EngineHarness.h"
#include "TindlewaveKit/Runtime/Engine/EngineConfigs.h"

namespace tindlewave {
namespace {

using namespace testkit;
using std::chrono::seconds;

using EnginePublishTest = EngineHarness;

TEST_F(EnginePublishTest, TwoConnectionsOfOneUnconfiguredModelGiveOneNewDeviceRow) {
    start();
    send(configWith({hyperKeyboardProfile()}));
    attach(plainMouse(0x201));
    const Date first = scheduler.clock().date();
    advance(seconds(3));
    attach(plainMouse(0x202));
    ASSERT_EQ(latest().newDevices.size(), 1u);
    const DeviceStatus& row = latest().newDevices[0];
    EXPECT_EQ(row.name, "Plain Mouse");
    EXPECT_EQ(row.match, plainMouseMatch);
    EXPECT_EQ(row.kind, DeviceKind::mouse);
    EXPECT_EQ(row.connectedAt, first);
    EXPECT_FALSE(row.hidpp || row.hyper || row.listen);

    // An unconnected keyboard profile: hyper off, no kind although the profile names one.
    ASSERT_EQ(latest().devices.size(), 1u);
    EXPECT_EQ(latest().devices[0].hyper, HyperStatus::off());
    EXPECT_FALSE(latest().devices[0].kind.has_value());
    EXPECT_FALSE(latest().devices[0].connectedAt.has_value());
}

TEST_F(EnginePublishTest, ADeviceWithoutANameIsAnUnknownDevice) {
    start();
    send(configWith({}));
    attach(SimulatedDevice::plainMouse(0x4321, 2, std::nullopt, 0x300));
    ASSERT_EQ(latest().newDevices.size(), 1u);
    EXPECT_EQ(latest().newDevices[0].name, "Unknown device");
}

TEST_F(EnginePublishTest, TheHyperSideFollowsTheKeyMap) {
    attach(hyperKeyboard());
    start();
    send(configWith({hyperKeyboardProfile()}));
    EXPECT_EQ(latest().devices[0].hyper, HyperStatus::on());
    EXPECT_EQ(latest().devices[0].kind, DeviceKind::keyboard);

    hidutil.change([](nlohmann::json& state) { state["exitStatus"] = 2; });
    onHID([&] { engine->reapplyAll(); });
    const auto& hyper = latest().devices[0].hyper;
    ASSERT_TRUE(hyper && is<HyperStatus::Failed>(*hyper));
    EXPECT_EQ(as<HyperStatus::Failed>(*hyper)->reason.rfind("hidutil exited 2: ", 0), 0u);
}

TEST_F(EnginePublishTest, TheHIDPPSideShowsNothingBeforeTheFirstApplyAndApplyingWhileItRuns) {
    attach(SimulatedDevice::hidppMouse(masterThree(), 0x10));
    start();
    send(configWith({}));
    ASSERT_EQ(latest().newDevices.size(), 1u);
    EXPECT_FALSE(latest().newDevices[0].hidpp.has_value());

    configs.send(ConfigSnapshot{configWith({masterProfile()}), std::nullopt});
    // Run only the jobs, not the mouse's replies: the apply is under way.
    scheduler.runReady();
    ASSERT_TRUE(latest().devices[0].hidpp.has_value());
    EXPECT_TRUE(is<HIDPPStatus::Progress::Applying>(latest().devices[0].hidpp->progress));
    settle(seconds(2));
    EXPECT_TRUE(is<HIDPPStatus::Progress::SetUp>(latest().devices[0].hidpp->progress));
    EXPECT_TRUE(latest().devices[0].hidpp->lastApply.has_value());
    EXPECT_TRUE(latest().devices[0].hidpp->capabilities.has_value());
}

TEST_F(EnginePublishTest, TheLastReconnectIsNoLongerReappliedOnceTheDeviceLeaves) {
    start();
    send(configWith({hyperKeyboardProfile()}));
    const auto keyboard = attach(hyperKeyboard());
    ASSERT_TRUE(latest().lastReconnect.has_value());
    EXPECT_TRUE(latest().lastReconnect->reapplied);
    detach(keyboard);
    ASSERT_TRUE(latest().lastReconnect.has_value());
    EXPECT_FALSE(latest().lastReconnect->reapplied);
}

TEST_F(EnginePublishTest, PausedShowsPausedAndQuittingStillShowsActive) {
    start();
    send(configWith({}));
    onHID([&] {
        engine->beginQuitting();
        engine->reapplyAll();
    });
    EXPECT_EQ(latest().run, RunState::active);
    onHID([&] { engine->setPaused(true); });
    EXPECT_EQ(latest().run, RunState::paused);
}

}  // namespace
}  // namespace tindlewave
