#include <gtest/gtest.h>

#include <chrono>

#include "Model/EngineStatus.h"

namespace tindlewave {
namespace {

using Grant = PermissionState::Grant;
using namespace std::chrono_literals;

const Date noon = Date{} + 1'700'000'000s;

EngineStatus calmStatus() {
    return EngineStatus{
        RunState::active, {Grant::granted, Grant::granted}, std::nullopt, TapState::on, {}, {},
        std::nullopt, true};
}

DeviceStatus mouseStatus() {
    return DeviceStatus{
        .name = "Mouse",
        .match = DeviceMatch::device(VendorID::logitech, ProductID{0xB023}),
        .kind = DeviceKind::mouse,
        .transport = "Bluetooth Low Energy",
        .connectedAt = noon,
        .hidpp = HIDPPStatus{HIDPPStatus::Progress::setUp(), noon, std::nullopt, {}},
    };
}

TEST(EngineStatusAttention, NothingWhenAllIsWell) {
    EngineStatus status = calmStatus();
    EXPECT_TRUE(status.attention().empty());
    status.tap = TapState::off;
    status.run = RunState::paused;
    status.devices = {mouseStatus()};
    status.lastReconnect = Reconnect{"Mouse", noon, false};
    EXPECT_TRUE(status.attention().empty());
}

TEST(EngineStatusAttention, ListsPermissionsThenErrorThenTap) {
    const ConfigError error{"version", "version 2 is not supported"};
    EngineStatus status{
        RunState::active, {Grant::notDetermined, Grant::denied}, error, TapState::failed, {}, {},
        std::nullopt, true};
    EXPECT_EQ(status.attention(), (std::vector<Attention>{
                                      Attention::permission(Permission::accessibility),
                                      Attention::permission(Permission::inputMonitoring),
                                      Attention::config(error, true),
                                      Attention::tapFailed(),
                                  }));
    // An error from the start: no good configuration is in force beside it.
    status.configInForce = false;
    EXPECT_EQ(status.attention()[2], Attention::config(error, false));

    EngineStatus onlyInputMonitoring = calmStatus();
    onlyInputMonitoring.permissions.inputMonitoring = Grant::notDetermined;
    EXPECT_EQ(onlyInputMonitoring.attention(),
              std::vector<Attention>{Attention::permission(Permission::inputMonitoring)});
}

TEST(EngineStatusEquality, EveryFieldCountsDatesExactly) {
    EngineStatus a = calmStatus();
    a.devices = {mouseStatus()};
    a.lastReconnect = Reconnect{"Mouse", noon, false};
    EngineStatus b = a;
    EXPECT_EQ(a, b);

    b.devices[0].connectedAt = noon + 1ns;
    EXPECT_NE(a, b);

    b = a;
    b.lastReconnect->reapplied = true;
    EXPECT_NE(a, b);

    b = a;
    b.devices[0].hidpp->lastApply = std::nullopt;
    EXPECT_NE(a, b);

    b = a;
    b.devices[0].hidpp->skippedRules = {
        Rule{Control::thumbWheel(), Trigger::scroll(), Action::reverse()}};
    EXPECT_NE(a, b);

    b = a;
    b.newDevices = a.devices;
    EXPECT_NE(a, b);
}

TEST(StatusEnumerations, CompareCaseThenPayload) {
    EXPECT_NE(ListenStatus::listening(noon), ListenStatus::listening(noon + 1s));
    EXPECT_NE(ListenStatus::gettingReady(noon), ListenStatus::listening(noon));
    EXPECT_EQ(ListenStatus::ended(ListenEnd::slept), ListenStatus::ended(ListenEnd::slept));
    EXPECT_NE(ListenStatus::ended(ListenEnd::slept), ListenStatus::ended(ListenEnd::paused));
    EXPECT_EQ(ListenStatus::timeout, 10s);

    EXPECT_NE(HyperStatus::failed("no keyboard"), HyperStatus::failed("busy"));
    EXPECT_NE(HyperStatus::on(), HyperStatus::off());
    EXPECT_NE(HIDPPStatus::Progress::notSetUp("a"), HIDPPStatus::Progress::notSetUp("b"));
    EXPECT_NE(HIDPPStatus::Progress::applying(), HIDPPStatus::Progress::setUp());

    const DeviceMatch mouse = DeviceMatch::device(VendorID::logitech, ProductID{0xB023});
    EXPECT_EQ((LearnedPress{mouse, Heard::control(Control::button(3))}),
              (LearnedPress{mouse, Heard::control(Control::button(3))}));
    EXPECT_NE((LearnedPress{mouse, Heard::control(Control::button(3))}),
              (LearnedPress{mouse, Heard::control(Control::button(4))}));
    EXPECT_NE((LearnedPress{mouse, Heard::unnamed()}),
              (LearnedPress{DeviceMatch::builtIn(), Heard::unnamed()}));
}

}  // namespace
}  // namespace tindlewave
