#include <gtest/gtest.h>

#include "Settings/Model/Devices/SettingsDevice.h"
#include "Tindlewave/TestTime.h"

namespace tindlewave {
namespace {

using testing::at;
using testing::clockText;

const DeviceMatch master = DeviceMatch::device(VendorID{0x046D}, ProductID{0xB023});
const DeviceMatch plainMouse = DeviceMatch::device(VendorID{0x1234}, ProductID{0x0001});
const DeviceMatch stranger = DeviceMatch::device(VendorID{0x2222}, ProductID{0x0002});
const DeviceMatch keyboard = DeviceMatch::builtIn();

const PermissionState granted{PermissionState::Grant::granted, PermissionState::Grant::granted};
const PermissionState noAccessibility{PermissionState::Grant::notDetermined,
                                      PermissionState::Grant::granted};

DeviceStatus connected(DeviceMatch match, std::string name) {
    DeviceStatus status{std::move(name), match};
    status.connectedAt = at(9, 30);
    return status;
}

HIDPPStatus hidpp(HIDPPStatus::Progress progress) {
    return {std::move(progress), std::nullopt, std::nullopt, {}};
}

EngineStatus engine(std::vector<DeviceStatus> devices, std::vector<DeviceStatus> newDevices) {
    return {RunState::active, granted, std::nullopt, TapState::on, std::move(devices),
            std::move(newDevices)};
}

TEST(SettingsDevice, RowsMergeProfilesThenNewDevices) {
    Config config = Config::empty();
    config.devices.push_back({plainMouse, "Desk"});
    config.devices.push_back({keyboard, "Laptop"});
    config.ignored.push_back(stranger);
    DeviceStatus desk = connected(plainMouse, "USB Mouse");
    desk.kind = DeviceKind::keyboard;
    const DeviceStatus fresh = connected(master, "MX");
    const EngineStatus status = engine({desk}, {connected(plainMouse, "again"),
                                                connected(stranger, "ignored"), fresh});

    const auto rows = SettingsDevice::all(config, status);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (SettingsDevice{plainMouse, "Desk", DeviceKind::keyboard, config.devices[0], desk}));
    EXPECT_EQ(rows[1], (SettingsDevice{keyboard, "Laptop", DeviceKind::keyboard, config.devices[1]}));
    EXPECT_EQ(rows[2], (SettingsDevice{master, "MX", DeviceKind::mouse, std::nullopt, fresh}));
    EXPECT_FALSE(rows[0].isNew());
    EXPECT_TRUE(rows[2].isNew());
    EXPECT_TRUE(rows[0].connected());
    EXPECT_FALSE(rows[1].connected());

    // Without a configuration, nothing is ignored; without a status, nothing is new or connected.
    EXPECT_EQ(SettingsDevice::all(std::nullopt, status).size(), 3u);
    const auto offline = SettingsDevice::all(config, std::nullopt);
    ASSERT_EQ(offline.size(), 2u);
    EXPECT_FALSE(offline[0].status);
    EXPECT_TRUE(SettingsDevice::all(std::nullopt, std::nullopt).empty());
}

// Rows and pickers show a name on one line: control characters from the file or the device are
// spaces, and the rest of the name (valid or not) stays as it is.
TEST(SettingsDevice, ControlCharactersInNamesShowAsSpaces) {
    Config config = Config::empty();
    config.devices.push_back({plainMouse, "Desk\tmouse\r\n\x7f\u0085\u2029é"});
    const EngineStatus status = engine({}, {connected(master, "MX\x1b[2J\xff")});
    const auto rows = SettingsDevice::all(config, status);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].name, "Desk mouse     é");
    EXPECT_EQ(rows[1].name, "MX [2J\xff");
}

TEST(SettingsDevice, KindOfAProfileWithoutOne) {
    DeviceProfile withSwitch{plainMouse, "Board"};
    withSwitch.hyper = false;
    EXPECT_EQ(SettingsDevice::profileKind(withSwitch), DeviceKind::keyboard);
    EXPECT_EQ(SettingsDevice::profileKind({keyboard, "Laptop"}), DeviceKind::keyboard);
    EXPECT_EQ(SettingsDevice::profileKind({plainMouse, "Mouse"}), DeviceKind::mouse);
    DeviceProfile told{keyboard, "Odd"};
    told.kind = DeviceKind::mouse;
    EXPECT_EQ(SettingsDevice::profileKind(told), DeviceKind::mouse);

    // A new device's own kind, else a mouse.
    DeviceStatus board = connected(stranger, "Board");
    board.kind = DeviceKind::keyboard;
    const auto rows = SettingsDevice::all(std::nullopt, engine({}, {board, connected(master, "MX")}));
    EXPECT_EQ(rows[0].kind, DeviceKind::keyboard);
    EXPECT_EQ(rows[1].kind, DeviceKind::mouse);
}

TEST(SettingsDevice, SpeaksHIDPPInOrder) {
    SettingsDevice row{plainMouse, "Desk", DeviceKind::mouse, DeviceProfile{plainMouse, "Desk"}};
    EXPECT_FALSE(row.speaksHIDPP());
    row.profile->rules = std::vector<Rule>{
        {Control::button(3), Trigger::click(), Action::reverse()},
        {Control::key(*HIDUsage::named("escape")), Trigger::hold(),
         Action::modifier(HeldModifier::leftShift)}};
    EXPECT_FALSE(row.speaksHIDPP());
    row.profile->rules->push_back({Control::thumbWheel(), Trigger::scroll(), Action::reverse()});
    EXPECT_TRUE(row.speaksHIDPP());
    row.profile->rules->pop_back();
    row.status = connected(plainMouse, "Desk");
    row.status->hidpp = hidpp(HIDPPStatus::Progress::applying());
    EXPECT_TRUE(row.speaksHIDPP());
    EXPECT_TRUE((SettingsDevice{master, "MX"}.speaksHIDPP()));
    EXPECT_FALSE((SettingsDevice{keyboard, "Laptop"}.speaksHIDPP()));
}

TEST(SettingsDevice, CannotListenFirstReasonWins) {
    SettingsDevice row{plainMouse, "Desk", DeviceKind::mouse, DeviceProfile{plainMouse, "Desk"}};
    EXPECT_EQ(row.cannotListen(true, noAccessibility),
              "Connect Desk to add a rule by pressing its button.");
    row.status = connected(plainMouse, "Desk");
    EXPECT_EQ(row.cannotListen(true, noAccessibility),
              "Resume Tindlewave to add a rule by pressing a button.");
    EXPECT_EQ(row.cannotListen(false, noAccessibility),
              "Tindlewave needs Accessibility to hear this mouse's buttons.");
    EXPECT_EQ(row.cannotListen(false, granted), std::nullopt);
    row.status->hidpp = hidpp(HIDPPStatus::Progress::setUp());
    EXPECT_EQ(row.cannotListen(false, noAccessibility), std::nullopt);
}

TEST(SettingsDevice, CardTitles) {
    const SettingsDevice offline{plainMouse, "Desk", DeviceKind::mouse, DeviceProfile{plainMouse, "Desk"}};
    EXPECT_EQ(offline.card(false, clockText),
              (StatusCard{"Not connected", "Tindlewave applies this profile as soon as it connects.", false}));
    SettingsDevice row = offline;
    row.status = DeviceStatus{"Desk", plainMouse};  // listed, but without a connection time
    EXPECT_FALSE(row.card(false, clockText).connected);

    row.status = connected(plainMouse, "Desk");
    const std::pair<std::optional<std::string>, std::string> transports[] = {
        {std::nullopt, "Connected"},
        {"USB", "Connected over USB"},
        {"Bluetooth Low Energy", "Connected over Bluetooth"},
        {"USB over Bluetooth", "Connected over Bluetooth"},
        {"usb", "Connected"},
        {"SPI", "Connected"},
    };
    for (const auto& [transport, title] : transports) {
        row.status->transport = transport;
        EXPECT_EQ(row.card(false, clockText).title, title);
        EXPECT_TRUE(row.card(false, clockText).connected);
    }
    SettingsDevice builtIn{keyboard, "Laptop", DeviceKind::keyboard, DeviceProfile{keyboard, "Laptop"},
                           connected(keyboard, "Laptop")};
    builtIn.status->transport = "USB";
    EXPECT_EQ(builtIn.card(false, clockText).title, "Built into this computer");
}

TEST(SettingsDevice, CardDetails) {
    SettingsDevice fresh{master, "MX", DeviceKind::mouse, std::nullopt, connected(master, "MX")};
    fresh.status->hidpp = hidpp(HIDPPStatus::Progress::setUp());
    EXPECT_EQ(fresh.card(true, clockText).detail,
              "First seen at 09:30. Tindlewave changes nothing on it until you set it up.");

    SettingsDevice row{master, "MX", DeviceKind::mouse, DeviceProfile{master, "MX"}, connected(master, "MX")};
    EXPECT_EQ(row.card(false, clockText).detail, "Connected at 09:30.");
    const Rule skipped{Control::hidpp(CID{0xC4}), Trigger::click(), Action::reverse()};
    row.status->hidpp = HIDPPStatus{HIDPPStatus::Progress::setUp(), at(9, 31), std::nullopt,
                                    {skipped, skipped}};
    row.status->hyper = HyperStatus::failed("hidutil exited with status 1");
    EXPECT_EQ(row.card(false, clockText).detail,
              "Connected at 09:30. Settings applied at 09:31. 2 rules are skipped because this "
              "mouse cannot do them. Hyper key not applied: hidutil exited with status 1.");
    EXPECT_EQ(row.card(true, clockText).detail,
              "Connected at 09:30. Tindlewave is paused, so it works as the system has it.");

    row.status->hidpp->skippedRules = {skipped};
    row.status->hidpp->lastApply.reset();
    row.status->hyper = HyperStatus::on();
    EXPECT_EQ(row.card(false, clockText).detail,
              "Connected at 09:30. Settings applied. 1 rule is skipped because this mouse cannot "
              "do it. Hyper key on.");

    // Skipped rules are told only once the settings are applied.
    row.status->hidpp->progress = HIDPPStatus::Progress::applying();
    row.status->hyper = HyperStatus::applying();
    EXPECT_EQ(row.card(false, clockText).detail,
              "Connected at 09:30. Applying settings… Turning on the hyper key…");
    row.status->hidpp->progress = HIDPPStatus::Progress::notSetUp("no reply");
    row.status->hyper = HyperStatus::off();
    EXPECT_EQ(row.card(false, clockText).detail,
              "Connected at 09:30. Settings not applied: no reply. Hyper key off.");
}

}  // namespace
}  // namespace tindlewave
