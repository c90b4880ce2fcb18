#include <gtest/gtest.h>

#include <QMenu>

#include "Settings/Views/DeviceControls.h"
#include "ShellWorld.h"

namespace tindlewave {
namespace {

using testkit::ShellWorld;

EngineStatus statusWithNewMouse(const std::string& name) {
    EngineStatus status{.run = RunState::active,
                        .permissions = {PermissionState::Grant::granted, PermissionState::Grant::granted},
                        .tap = TapState::on,
                        .devices = {},
                        .newDevices = {}};
    status.newDevices.push_back(DeviceStatus{.name = name,
                                             .match = DeviceMatch::device(VendorID{0x046D}, ProductID{0xB023}),
                                             .kind = DeviceKind::mouse,
                                             .connectedAt = std::chrono::system_clock::now()});
    return status;
}

TEST(DeviceControls, ThePickerListsANewMouseAndTheButtonSetsItUp) {
    ShellWorld world;
    world.make();
    ASSERT_TRUE(world.start());
    SettingsModel& settings = world.model->settings();
    settings.show(statusWithNewMouse("<b>A</b> & B"));
    ASSERT_EQ(settings.mice().size(), 1u);

    MousePopup popup(settings);
    ASSERT_EQ(popup.count(), 1);
    EXPECT_EQ(popup.itemText(0), "<b>A</b> & B (New)");
    EXPECT_EQ(popup.currentIndex(), 0);

    SetUpButton button(settings, settings.mice()[0]);
    EXPECT_TRUE(button.text().startsWith("Set Up"));
    button.click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return world.configText().find("B023") != std::string::npos ||
                                             world.configText().find("0xB023") != std::string::npos; },
                                10000))
        << world.configText();
    EXPECT_NE(world.configText().find("<b>A</b> & B"), std::string::npos);
}

TEST(DeviceControls, TheSetUpButtonShowsNothingWithoutAConfiguration) {
    ShellWorld world;
    world.make();  // not started: no snapshot yet
    SettingsDevice device{.match = DeviceMatch::device(VendorID{0x046D}, ProductID{0xB023}), .name = "Mouse"};
    QWidget parent;
    auto* button = new SetUpButton(world.model->settings(), device, &parent);
    parent.show();
    EXPECT_FALSE(button->isVisible());
}

}  // namespace
}  // namespace tindlewave
