#include <gtest/gtest.h>

#include "App/MenuPresentation.h"
#include "Tindlewave/TestTime.h"

namespace tindlewave {
namespace {

using testing::at;
using testing::clockText;
using Grant = PermissionState::Grant;

const DeviceMatch mouse = DeviceMatch::device(VendorID{0x046D}, ProductID{0xB023});

EngineStatus status(RunState run = RunState::active,
                    PermissionState permissions = {Grant::granted, Grant::granted}) {
    return {run, permissions, std::nullopt, TapState::on, {}, {}, std::nullopt, true};
}

DeviceStatus device(std::string name) {
    DeviceStatus d{std::move(name), mouse};
    d.connectedAt = at(8, 0);
    return d;
}

HIDPPStatus hidpp(HIDPPStatus::Progress progress, std::size_t skipped = 0) {
    const Rule rule{Control::hidpp(CID{0xC4}), Trigger::click(), Action::reverse()};
    return {std::move(progress), std::nullopt, std::nullopt, std::vector<Rule>(skipped, rule)};
}

std::string detailOf(const DeviceStatus& d, RunState run = RunState::active) {
    EngineStatus s = status(run);
    s.devices = {d};
    return MenuPresentation::make(s, clockText).rows.at(0).detail;
}

TEST(MenuPresentation, WithoutAStatusItIsStarting) {
    const MenuPresentation p = MenuPresentation::make(std::nullopt, clockText);
    EXPECT_EQ(p, MenuPresentation{});
    EXPECT_EQ(p.state, "Starting");
    EXPECT_FALSE(p.needsAttention);
    EXPECT_TRUE(p.notices.empty());
    EXPECT_TRUE(p.rows.empty());
    EXPECT_FALSE(p.footnote);
    EXPECT_FALSE(p.paused);
    EXPECT_EQ(p.summary(), "state=Starting notices=[] devices=[]");
}

TEST(MenuPresentation, StatesAndNotices) {
    EXPECT_EQ(MenuPresentation::make(status(), clockText).state, "Active");

    const MenuPresentation paused =
        MenuPresentation::make(status(RunState::paused, {Grant::granted, Grant::denied}), clockText);
    EXPECT_EQ(paused.state, "Paused");
    EXPECT_TRUE(paused.paused);
    EXPECT_TRUE(paused.needsAttention);
    ASSERT_EQ(paused.notices.size(), 1u);
    EXPECT_EQ(paused.notices[0],
              (MenuPresentation::Notice{"Input Monitoring is off", "Mouse buttons need it. Click to allow.",
                                        MenuPresentation::Fix::permission(Permission::inputMonitoring)}));

    EngineStatus troubled = status(RunState::active, {Grant::notDetermined, Grant::denied});
    troubled.configError = ConfigError{"devices[0].name", "must not be empty"};
    troubled.tap = TapState::failed;
    const MenuPresentation p = MenuPresentation::make(troubled, clockText);
    EXPECT_EQ(p.state, "Needs attention");
    EXPECT_EQ(p.notices,
              (std::vector<MenuPresentation::Notice>{
                  {"Accessibility is off", "The hyper key needs it. Click to allow.",
                   MenuPresentation::Fix::permission(Permission::accessibility)},
                  {"Input Monitoring is off", "Mouse buttons need it. Click to allow.",
                   MenuPresentation::Fix::permission(Permission::inputMonitoring)},
                  {"Config file has an error",
                   "devices[0].name: must not be empty. Still using the last good settings.",
                   MenuPresentation::Fix::openConfig()},
                  {"The keyboard tap could not start", "Click to try again.",
                   MenuPresentation::Fix::reapply()},
              }));
    troubled.configError = ConfigError{"", "cannot read the file"};
    EXPECT_EQ(MenuPresentation::make(troubled, clockText).notices[2].detail,
              "cannot read the file. Still using the last good settings.");
    // Without one ever read, there are no last good settings to speak of.
    troubled.configError = ConfigError{"", "cannot create /home/u/.config/tindlewave/config.json: Permission denied"};
    troubled.configInForce = false;
    EXPECT_EQ(MenuPresentation::make(troubled, clockText).notices[2].detail,
              "cannot create /home/u/.config/tindlewave/config.json: Permission denied. No settings are in use yet.");
}

TEST(MenuPresentation, RowDetails) {
    DeviceStatus d = device("MX");
    d.hidpp = hidpp(HIDPPStatus::Progress::setUp(), 2);
    d.hyper = HyperStatus::on();
    DeviceStatus gone = d;
    gone.connectedAt.reset();
    EXPECT_EQ(detailOf(gone), "Not connected");

    d.hyper.reset();
    EXPECT_EQ(detailOf(d), "Connected, 2 rules skipped");
    EXPECT_EQ(detailOf(d, RunState::paused), "Paused");
    d.hidpp = hidpp(HIDPPStatus::Progress::setUp(), 1);
    EXPECT_EQ(detailOf(d), "Connected, 1 rule skipped");
    d.hidpp = hidpp(HIDPPStatus::Progress::setUp());
    EXPECT_EQ(detailOf(d), "Connected");
    d.hidpp = hidpp(HIDPPStatus::Progress::applying());
    d.hyper = HyperStatus::on();
    EXPECT_EQ(detailOf(d), "Applying…");
    d.hidpp = hidpp(HIDPPStatus::Progress::notSetUp("no reply"));
    EXPECT_EQ(detailOf(d), "Connected, not set up");

    // Set up with a hyper-key status, or no HID++ at all: the hyper key's side.
    d.hidpp = hidpp(HIDPPStatus::Progress::setUp(), 3);
    EXPECT_EQ(detailOf(d), "Hyper key on");
    DeviceStatus board = device("Board");
    EXPECT_EQ(detailOf(board), "Connected");
    EXPECT_EQ(detailOf(board, RunState::paused), "Connected");
    board.hyper = HyperStatus::off();
    EXPECT_EQ(detailOf(board), "Hyper key off");
    EXPECT_EQ(detailOf(board, RunState::paused), "Paused");
    board.hyper = HyperStatus::applying();
    EXPECT_EQ(detailOf(board), "Applying…");
    board.hyper = HyperStatus::failed("hidutil failed");
    EXPECT_EQ(detailOf(board), "Not applied: hidutil failed");
}

TEST(MenuPresentation, RowsAreTheConfiguredDevicesOnly) {
    EngineStatus s = status();
    s.devices = {device("One"), device("Two")};
    s.newDevices = {device("New")};
    const MenuPresentation p = MenuPresentation::make(s, clockText);
    EXPECT_EQ(p.rows, (std::vector<MenuPresentation::Row>{{"One", "Connected"}, {"Two", "Connected"}}));
    EXPECT_EQ(p.summary(), "state=Active notices=[] devices=[One=Connected; Two=Connected]");
}

TEST(MenuPresentation, FootnoteAndSummary) {
    EngineStatus s = status(RunState::active, {Grant::denied, Grant::denied});
    s.devices = {device("MX Master 3")};
    s.lastReconnect = Reconnect{"MX Master 3", at(14, 5), true};
    const MenuPresentation p = MenuPresentation::make(s, clockText);
    EXPECT_EQ(p.footnote, "MX Master 3 reconnected at 14:05. Settings re-applied.");
    EXPECT_EQ(p.summary(),
              "state=Needs attention notices=[Accessibility is off; Input Monitoring is off] "
              "devices=[MX Master 3=Connected] footnote=MX Master 3 reconnected at 14:05. Settings "
              "re-applied.");
    s.lastReconnect->reapplied = false;
    EXPECT_EQ(MenuPresentation::make(s, clockText).footnote, "MX Master 3 reconnected at 14:05.");
}

TEST(MenuPresentation, EqualStatusesGiveEqualPresentationsUnlessTheTimeTextDiffers) {
    EngineStatus s = status();
    s.devices = {device("MX")};
    EXPECT_EQ(MenuPresentation::make(s, clockText), MenuPresentation::make(s, clockText));
    s.lastReconnect = Reconnect{"MX", at(14, 5), false};
    const auto otherClock = [](Date) { return std::string("2:05 PM"); };
    EXPECT_NE(MenuPresentation::make(s, clockText), MenuPresentation::make(s, otherClock));
    EngineStatus moved = s;
    moved.lastReconnect->at += std::chrono::seconds(20);  // the same minute
    EXPECT_EQ(MenuPresentation::make(s, clockText), MenuPresentation::make(moved, clockText));
}

}  // namespace
}  // namespace tindlewave
