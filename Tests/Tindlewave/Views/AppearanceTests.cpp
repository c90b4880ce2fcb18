#include <gtest/gtest.h>

#include <QAction>
#include <QToolBar>
#include <QToolButton>

#include "Ink.h"
#include "PageWorld.h"
#include "Settings/Views/CheckBox.h"
#include "Settings/Views/FormBlocks.h"
#include "Settings/Views/SettingsTabs.h"
#include "Settings/Views/WindowPicture.h"

namespace tindlewave {
namespace {

using namespace testkit;

QColor iconInk(const QIcon& icon, const QColor& background) {
    return ink(icon.pixmap(QSize(24, 24)).toImage(), background);
}

// The window's palette changes while it is open (the desktop's appearance, or the screenshot
// mode's dark pass): the tab icons and the menu button's icon are drawn again in its colours.
TEST(Appearance, TabIconsAndTheMenuButtonFollowThePaletteWhileTheWindowIsOpen) {
    ShellWorld world;
    world.make(twoDevicesConfig);
    ASSERT_TRUE(world.start());
    world.model->settings().show(statusWith({}, {}));
    world.menu->show(statusWith({}, {}));
    world.model->settingsWindow();  // made on first use
    SettingsTabs& tabs = world.window->window().tabs();
    world.menu->hangFrom(tabs.toolBar());
    QToolButton* button = world.menu->button();
    ASSERT_NE(button, nullptr);
    tabs.show();

    for (const QPalette& palette : {darkPalette(), lightPalette(), darkPalette()}) {
        tabs.setPalette(palette);
        const QColor window = palette.color(QPalette::Window);
        const QColor text = palette.color(QPalette::WindowText);
        const auto actions = tabs.toolBar()->actions();
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(iconInk(actions[i]->icon(), window), text) << actions[i]->text().toStdString();
            EXPECT_GE(contrast(iconInk(actions[i]->icon(), window), window), 4.5);
        }
        EXPECT_EQ(iconInk(button->icon(), window), text);
    }

    // Without a tray, the button shows what the tray icon would: orange and "needs attention".
    EngineStatus missing = statusWith({}, {});
    missing.permissions.inputMonitoring = PermissionState::Grant::denied;
    world.menu->show(missing);
    EXPECT_EQ(iconInk(button->icon(), darkPalette().color(QPalette::Window)), QColor(0xFF, 0x95, 0x00));
    EXPECT_EQ(button->toolTip(), "Tindlewave, needs attention");
    EXPECT_EQ(button->accessibleName(), "Tindlewave, needs attention");
    world.menu->show(statusWith({}, {}));
    EXPECT_EQ(button->toolTip(), "Tindlewave");
}

// The common style outlines a box in a shade of the window, which a dark window all but hides.
TEST(Appearance, AnUncheckedBoxStandsOutOnADarkOrALightWindow) {
    for (const QPalette& palette : {darkPalette(), lightPalette()}) {
        CheckBox box("Smooth scrolling");
        box.setPalette(palette);
        box.resize(box.sizeHint());
        const QColor window = palette.color(QPalette::Window);
        const QImage picture = box.grab().toImage();
        const QImage indicator = picture.copy(0, 0, picture.height(), picture.height());
        EXPECT_GE(contrast(ink(indicator, window), window), 3.0);
    }
}

// A block that is off (smooth scrolling switched off) reads as off in both appearances: its dimmed
// texts are dimmer still, though the common style's light palette draws both alike.
TEST(Appearance, ADisabledExplanationIsDimmerThanAnEnabledOne) {
    for (const QPalette& palette : {lightPalette(), darkPalette()}) {
        const QColor window = palette.color(QPalette::Window);
        const auto inkContrast = [&](bool enabled) {
            Explanation text("Spin the wheel faster and the page scrolls faster.");
            text.setPalette(palette);
            text.setEnabled(enabled);
            text.resize(text.sizeHint());
            return contrast(ink(text.grab().toImage(), window), window);
        };
        EXPECT_LT(inkContrast(false) * 1.3, inkContrast(true));
    }
}

}  // namespace
}  // namespace tindlewave
