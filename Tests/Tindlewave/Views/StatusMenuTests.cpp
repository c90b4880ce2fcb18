#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QAbstractButton>
#include <QAbstractEventDispatcher>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QToolBar>
#include <QToolButton>

#include "Model/EnumText.h"
#include "Runtime/Executors/Actors.h"
#include "Settings/Views/SettingsTabs.h"
#include "Shell/TrayWatch.h"
#include "TestKit/TempFolder.h"
#include "Ink.h"
#include "ShellWorld.h"

namespace tindlewave {
namespace {

using testkit::ShellWorld;

struct Row {
    QString text;
    bool enabled;
    bool checked;
    bool operator==(const Row&) const = default;
};

std::vector<Row> rows(QMenu* menu) {
    std::vector<Row> out;
    for (QAction* action : menu->actions())
        out.push_back({action->isSeparator() ? "---" : action->text(), action->isEnabled(), action->isChecked()});
    return out;
}

QAction* action(QMenu* menu, const QString& text) {
    for (QAction* item : menu->actions())
        if (item->text() == text) return item;
    return nullptr;
}

EngineStatus statusWith(std::string deviceName, std::vector<Permission> missing, RunState run) {
    EngineStatus status{.run = run,
                        .permissions = {PermissionState::Grant::granted, PermissionState::Grant::granted},
                        .tap = TapState::on,
                        .devices = {},
                        .newDevices = {}};
    for (auto permission : missing)
        (permission == Permission::accessibility ? status.permissions.accessibility
                                                 : status.permissions.inputMonitoring) =
            PermissionState::Grant::denied;
    status.devices.push_back(DeviceStatus{.name = std::move(deviceName),
                                          .match = DeviceMatch::device(VendorID{0x046D}, ProductID{0xB023})});
    return status;
}

TEST(StatusMenu, ShowsTheStatusWithPlainDeviceNamesAndTheRightStates) {
    ShellWorld world;
    world.make();
    ASSERT_TRUE(world.start());
    ASSERT_TRUE(world.model->hyperKeyEnabled());
    const bool hyper = *world.model->hyperKeyEnabled();
    world.menu->show(statusWith("<b>A</b> & B", {Permission::inputMonitoring}, RunState::paused));
    EXPECT_EQ(rows(world.menu->menu()),
              (std::vector<Row>{
                  {"Tindlewave\tPaused", false, false},
                  {"Input Monitoring is off", true, false},
                  {"    Mouse buttons need it. Click to allow.", false, false},
                  {"---", true, false},
                  {"Devices", false, false},
                  {"<b>A</b> && B\tNot connected", false, false},
                  {"---", true, false},
                  {"Re-apply Settings Now", true, false},
                  {"Hyper Key", true, hyper},
                  {"Resume Tindlewave", true, false},
                  {"---", true, false},
                  {"Settings\u2026", true, false},
                  {"Open Config File", true, false},
                  {"---", true, false},
                  {"Quit Tindlewave", true, false},
              }));
    EXPECT_EQ(world.menu->accessibilityLabel(), "Tindlewave, needs attention");
    EXPECT_EQ(action(world.menu->menu(), "Quit Tindlewave")->shortcut(), QKeySequence("Ctrl+Q"));
    EXPECT_EQ(action(world.menu->menu(), "Settings\u2026")->shortcut(), QKeySequence("Ctrl+,"));

    action(world.menu->menu(), "Resume Tindlewave")->trigger();
    action(world.menu->menu(), "Re-apply Settings Now")->trigger();
    action(world.menu->menu(), "Quit Tindlewave")->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !world.engine->pauses.empty(); }, 5000));
    EXPECT_EQ(world.engine->pauses, (std::vector<bool>{false}));
    EXPECT_EQ(world.engine->reapplies, 1);
    EXPECT_EQ(world.quits, 1);

    world.menu->show(statusWith("Mouse", {}, RunState::active));
    EXPECT_EQ(world.menu->accessibilityLabel(), "Tindlewave");
    EXPECT_EQ(world.menu->menu()->actions()[0]->text(), "Tindlewave\tActive");
}

// The information rows are read, not chosen: their left column in the text colour, their right
// one (and a notice's detail) in the secondary colour, neither in the disabled one.
TEST(StatusMenu, InformationRowsAreDrawnInTheTextAndSecondaryColours) {
    ShellWorld world;
    world.make();
    ASSERT_TRUE(world.start());
    world.menu->show(statusWith("Desk mouse", {Permission::inputMonitoring}, RunState::active));
    QMenu* menu = world.menu->menu();
    menu->adjustSize();
    const QImage picture = menu->grab().toImage();
    const double scale = picture.devicePixelRatio();
    const QColor background = menu->palette().color(QPalette::Window);
    // The colour that stands out most in a part of a row, from `from` to `to` of its width.
    const auto inkOf = [&](QAction* row, double from, double to) {
        const QRect area = menu->actionGeometry(row);
        const QRect part(int((area.left() + area.width() * from) * scale), int(area.top() * scale),
                         int(area.width() * (to - from) * scale), int(area.height() * scale));
        return testkit::ink(picture.copy(part), background);
    };
    const auto actions = menu->actions();
    const QColor text = menu->palette().color(QPalette::Active, QPalette::Text);
    const QColor disabled = menu->palette().color(QPalette::Disabled, QPalette::Text);
    ASSERT_GT(testkit::contrast(text, disabled), 1.5);
    for (QAction* row : {actions[0], action(menu, "Desk mouse\tNot connected")}) {  // the state, the mouse
        ASSERT_NE(row, nullptr);
        const QColor left = inkOf(row, 0, 0.5), right = inkOf(row, 0.6, 1);
        EXPECT_LT(testkit::contrast(left, text), 1.2) << row->text().toStdString();
        EXPECT_GT(testkit::contrast(left, right), 1.5) << row->text().toStdString();
        EXPECT_GT(testkit::contrast(right, background), testkit::contrast(disabled, background) * 1.2)
            << row->text().toStdString();
    }
    const QColor detail = inkOf(actions[2], 0, 1);  // the notice's second line
    EXPECT_GT(testkit::contrast(detail, text), 1.5);
    EXPECT_GT(testkit::contrast(detail, background), testkit::contrast(disabled, background) * 1.2);
}

// A long device name, state or error is cut short so that the menu stays within the free area
// of the screen it opens on (here the tests' smaller second one), its whole text a hover away.
TEST(StatusMenu, LongNamesAndErrorsAreCutShortToKeepTheMenuOnItsScreen) {
    ShellWorld world;
    world.make();
    ASSERT_TRUE(world.start());
    const std::string name = "Desk mouse " + std::string(300, 'm');
    const std::string reason = "the key map was refused " + std::string(300, 'r');
    EngineStatus status = statusWith(name, {}, RunState::active);
    status.configError = ConfigError{"devices[1]", "unknown action " + std::string(300, 'a')};
    status.configInForce = true;
    status.devices.push_back(DeviceStatus{.name = "Keyboard",
                                          .match = DeviceMatch::builtIn(),
                                          .connectedAt = Date{},
                                          .hyper = HyperStatus{HyperStatus::Failed{reason}}});
    const QScreen* side = QGuiApplication::screens().value(1);
    ASSERT_NE(side, nullptr);
    const QRect area = side->availableGeometry();
    QCursor::setPos(area.center());
    QMenu* menu = world.menu->menu();
    menu->popup(area.topLeft() + QPoint(20, 20));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
    world.menu->show(status);
    menu->adjustSize();
    // No wider than half the screen's free width, or 480 points where the screen has them.
    EXPECT_LE(menu->sizeHint().width(), std::max(area.width() / 2, 480));
    EXPECT_TRUE(area.contains(menu->geometry())) << menu->geometry().width();
    const auto rowWith = [&](const QString& start) -> QAction* {
        for (QAction* row : menu->actions())
            if (row->text().trimmed().startsWith(start)) return row;
        return nullptr;
    };
    QAction* mouse = rowWith("Desk mouse");
    ASSERT_NE(mouse, nullptr);
    EXPECT_TRUE(mouse->text().endsWith("\u2026\tNot connected")) << mouse->text().toStdString();
    EXPECT_EQ(mouse->toolTip(), QString::fromStdString(name + "\nNot connected"));
    QAction* keyboard = rowWith("Keyboard");
    ASSERT_NE(keyboard, nullptr);
    EXPECT_TRUE(keyboard->text().startsWith("Keyboard\tNot applied: "))
        << keyboard->text().toStdString();
    EXPECT_TRUE(keyboard->text().endsWith("\u2026"));
    EXPECT_EQ(keyboard->toolTip(), QString::fromStdString("Keyboard\nNot applied: " + reason));
    QAction* error = rowWith("devices[1]: unknown action");
    ASSERT_NE(error, nullptr);
    EXPECT_TRUE(error->text().endsWith("\u2026"));
    EXPECT_TRUE(
        error->toolTip().endsWith(QString(300, 'a') + ". Still using the last good settings."));
    EXPECT_TRUE(menu->toolTipsVisible());
    menu->hide();
}

// Started before the panel, the program finds a tray later: the menu leaves the window's button;
// when that tray goes away, the menu leaves it for the button again, and so on.
TEST(StatusMenu, MovingBetweenATrayAndTheWindowsButtonLeavesTheMenuInOnePlace) {
    ShellWorld world;
    world.make();
    ASSERT_TRUE(world.start());
    world.model->settingsWindow();
    QToolBar* bar = world.window->window().tabs().toolBar();
    const auto before = bar->actions().size();
    world.menu->hangFrom(bar);
    ASSERT_NE(world.menu->button(), nullptr);
    EXPECT_EQ(world.menu->button()->menu(), world.menu->menu());
    EXPECT_EQ(world.menu->tray(), nullptr);

    world.menu->moveToTray();
    ASSERT_NE(world.menu->tray(), nullptr);
    EXPECT_EQ(world.menu->tray()->contextMenu(), world.menu->menu());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(world.menu->button(), nullptr);
    EXPECT_EQ(bar->actions().size(), before);

    world.menu->hangFrom(bar);
    world.menu->hangFrom(bar);  // once
    EXPECT_EQ(world.menu->tray(), nullptr);
    ASSERT_NE(world.menu->button(), nullptr);
    EXPECT_EQ(world.menu->button()->menu(), world.menu->menu());
    EXPECT_EQ(bar->actions().size(), before + 2);  // the spacer and the button
    // Back and forth within one turn of the event loop, before anything deferred is deleted.
    world.menu->moveToTray();
    world.menu->hangFrom(bar);
    ASSERT_NE(world.menu->button(), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(world.menu->tray(), nullptr);
    ASSERT_NE(world.menu->button(), nullptr);
    EXPECT_EQ(bar->actions().size(), before + 2);
}

// Where nothing announces a tray, it asks on a timer while there is none, for its time, and again
// for its time once a tray it had went away.
TEST(TrayWatch, AsksOnATimerWhileThereIsNoTrayForItsTime) {
    using namespace std::chrono_literals;
    int asked = 0;
    bool there = false;
    std::vector<bool> changes;
    TrayWatch watch({.every = 10ms, .lookFor = 5s, .available = [&] { return ++asked >= 3 && there; }, .announced = false, .bus = {}},
                    false, [&](bool now) { changes.push_back(now); });
    EXPECT_TRUE(watch.isAsking());
    ASSERT_TRUE(QTest::qWaitFor([&] { return asked >= 3; }, 5000));
    there = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !changes.empty(); }, 5000));
    EXPECT_FALSE(watch.isAsking());
    const int askedThen = asked;
    QTest::qWait(50);
    EXPECT_EQ(asked, askedThen);
    EXPECT_EQ(changes, (std::vector<bool>{true}));
    there = false;
    watch.look();  // as when the tray's service went away
    EXPECT_EQ(changes, (std::vector<bool>{true, false}));
    EXPECT_TRUE(watch.isAsking());

    int looks = 0;
    TrayWatch none({.every = 10ms, .lookFor = 50ms, .available = [&] { return ++looks, false; }, .announced = false, .bus = {}},
                   false, [&](bool now) { changes.push_back(now); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !none.isAsking(); }, 5000));
    QTest::qWait(50);
    EXPECT_EQ(looks, 5);
    // With a tray at the start, it does not ask.
    TrayWatch had({.every = 10ms, .lookFor = 50ms, .available = [&] { return true; }, .announced = false, .bus = {}}, true, nullptr);
    EXPECT_FALSE(had.isAsking());
}

// Over X11's announcements: no look on a timer, one after each client message (a tray taken) and
// each window destroyed (the tray's going), for good, whether there is a tray or not.
TEST(TrayWatch, FollowsX11sAnnouncementsOfATrayComingAndGoing) {
    using namespace std::chrono_literals;
    int heard = 0;
    bool there = false;
    std::vector<bool> changes;
    TrayWatch watch({.every = 10ms, .lookFor = 50ms, .available = [&] { return ++heard, there; }, .announced = true, .bus = {}},
                    false, [&](bool now) { changes.push_back(now); });
    QTest::qWait(100);
    EXPECT_EQ(heard, 0);
    EXPECT_FALSE(watch.isAsking());
    auto hear = [](std::uint8_t kind) {
        xcb_generic_event_t event{};
        event.response_type = kind | 0x80;  // as sent by another client
        qintptr result = 0;
        QAbstractEventDispatcher::instance()->filterNativeEvent("xcb_generic_event_t", &event, &result);
    };
    hear(XCB_CLIENT_MESSAGE);
    ASSERT_TRUE(QTest::qWaitFor([&] { return heard == 1; }, 5000));
    hear(XCB_PROPERTY_NOTIFY);  // nothing to do with a tray
    there = true;
    hear(XCB_CLIENT_MESSAGE);
    ASSERT_TRUE(QTest::qWaitFor([&] { return changes.size() == 1; }, 5000));
    EXPECT_EQ(heard, 2);
    there = false;
    hear(XCB_DESTROY_NOTIFY);
    ASSERT_TRUE(QTest::qWaitFor([&] { return changes.size() == 2; }, 5000));
    there = true;
    hear(XCB_CLIENT_MESSAGE);
    ASSERT_TRUE(QTest::qWaitFor([&] { return changes.size() == 3; }, 5000));
    EXPECT_EQ(changes, (std::vector<bool>{true, false, true}));
    EXPECT_FALSE(watch.isAsking());
}

// A tray of status notifiers is a service on the session bus (here a bus of the test's own): its
// coming and going are looked at as they happen.
TEST(TrayWatch, LooksWhenTheStatusNotifierServiceComesAndGoes) {
    using namespace std::chrono_literals;
    testkit::TempFolder folder;
    QProcess daemon;
    daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address",
                                 "--address=unix:path=" + QString::fromStdString((folder.path() / "bus").string())});
    if (!daemon.waitForStarted(10000)) GTEST_SKIP() << "no dbus-daemon";
    ASSERT_TRUE(QTest::qWaitFor([&] { return daemon.canReadLine(); }, 10000));
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
    QDBusConnection watcherSide = QDBusConnection::connectToBus(address, "tray-watch-test");
    QDBusConnection traySide = QDBusConnection::connectToBus(address, "tray-watch-test-tray");
    ASSERT_TRUE(watcherSide.isConnected() && traySide.isConnected());
    bool there = false;
    std::vector<bool> changes;
    {
        TrayWatch watch({.every = 10s, .lookFor = 10s, .available = [&] { return there; }, .announced = true,
                         .bus = "tray-watch-test"},
                        false, [&](bool now) { changes.push_back(now); });
        // A call on the watch's connection is answered once the bus has the watch's match rule,
        // which went out before it.
        ASSERT_TRUE(watcherSide.interface()->isServiceRegistered("org.freedesktop.DBus").isValid());
        there = true;
        ASSERT_TRUE(traySide.registerService("org.kde.StatusNotifierWatcher"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return changes.size() == 1; }, 10000));
        there = false;
        ASSERT_TRUE(traySide.unregisterService("org.kde.StatusNotifierWatcher"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return changes.size() == 2; }, 10000));
        EXPECT_EQ(changes, (std::vector<bool>{true, false}));
    }
    QDBusConnection::disconnectFromBus("tray-watch-test");
    QDBusConnection::disconnectFromBus("tray-watch-test-tray");
    daemon.terminate();
    daemon.waitForFinished(10000);
}

// A status that changes nothing shown is neither logged nor put into the menu again (a menu of
// many devices takes long to fill).
TEST(StatusMenu, LogsAChangedPresentationOnceAndLeavesAnUnchangedMenuAsItIs) {
    ShellWorld world;
    world.make();
    ASSERT_TRUE(world.start());
    world.menu->show(statusWith("Mouse", {}, RunState::active));
    const QList<QAction*> placed = world.menu->menu()->actions();
    world.menu->show(statusWith("Mouse", {}, RunState::active));
    EXPECT_EQ(world.menu->menu()->actions(), placed);
    auto entries = world.log.entries(std::string(bundleIdentifier));
    ASSERT_TRUE(entries);
    int menuLines = 0;
    for (const auto& entry : *entries)
        if (entry.category == "menu") {
            ++menuLines;
            EXPECT_EQ(entry.message, "state=Active notices=[] devices=[Mouse=Not connected]");
        }
    EXPECT_EQ(menuLines, 1);
}

TEST(StatusMenu, HyperKeyChosenWhileTheFileIsBrokenSendsNothing) {
    ShellWorld world;
    world.make(R"({"version":1,"hyper":{"key":"capsLock","onTap":"nothing"},"devices":[],"ignored":[]})");
    ASSERT_TRUE(world.start());
    ASSERT_TRUE(world.model->settings().editable()) << world.configText();
    world.menu->rebuild();
    QAction* hyper = action(world.menu->menu(), "Hyper Key");
    ASSERT_NE(hyper, nullptr);
    EXPECT_TRUE(hyper->isEnabled());

    const std::string broken = "{ not json";
    testkit::TempFolder::write((world.configFolder / "config.json").string(), broken);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !world.model->settings().editable(); }, 10000));
    const bool shownOn = hyper->isChecked();
    hyper->trigger();  // the item of a menu built while the file was good
    EXPECT_EQ(hyper->isChecked(), shownOn);  // nothing changed: the switch still says so
    // A marker edit behind it: the queue answers in order, so once the marker's line is logged,
    // anything the menu had sent would have been logged before it.
    world.model->settings().send(SettingsEdit::hyperEnabled(false));
    auto settingsLines = [&] {
        int count = 0;
        if (auto entries = world.log.entries(std::string(bundleIdentifier)))
            for (const auto& entry : *entries) count += entry.category == "settings";
        return count;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return settingsLines() > 0; }, 10000));
    EXPECT_EQ(settingsLines(), 1);
    EXPECT_EQ(world.configText(), broken);
    world.menu->rebuild();
    QAction* shown = action(world.menu->menu(), "Hyper Key");
    ASSERT_NE(shown, nullptr);  // the last good configuration's switch
    EXPECT_FALSE(shown->isEnabled());
}

TEST(SettingsWindowInShell, OpensOnTheSavedTabAndClosingStopsListening) {
    ShellWorld world;
    world.defaults.set("settingsTab", "devices");
    world.make();
    ASSERT_TRUE(world.start());
    world.model->settingsWindow().show();
    SettingsTabs& tabs = world.window->window().tabs();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&tabs));
    EXPECT_EQ(tabs.selected(), SettingsTab::devices);
    const int before = world.engine->stops;
    tabs.close();
    EXPECT_GT(world.engine->stops, before);
    EXPECT_FALSE(tabs.isVisible());
}

TEST(SettingsWindowInShell, LeavesOnlyTheConfigFileInTheSettingsFolder) {
    ShellWorld world;
    world.make();
    ASSERT_TRUE(world.start());
    world.model->settingsWindow().show();
    SettingsTabs& tabs = world.window->window().tabs();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&tabs));
    tabs.select(SettingsTab::buttons);
    tabs.move(tabs.pos() + QPoint(40, 30));
    tabs.close();
    QTest::qWait(0);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(world.configFolder))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{"config.json"}));
    EXPECT_EQ(world.defaults.string("settingsTab"), "buttons");
}

TEST(SettingsWindowInShell, APageMadeWhenFirstChosenShowsTheConfigErrorToo) {
    ShellWorld world;
    world.make("{ not json");
    ASSERT_TRUE(world.start());
    world.model->settingsWindow().show();
    SettingsTabs& tabs = world.window->window().tabs();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&tabs));
    auto errorText = [&](SettingsTab tab) -> QString {
        auto* label = tabs.page(tab)->findChild<QLabel*>("configErrorText");
        return label ? label->text() : QString();
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return !errorText(SettingsTab::general).isEmpty(); }, 10000));
    EXPECT_FALSE(tabs.isPageMade(SettingsTab::hyperKey));
    tabs.select(SettingsTab::hyperKey);
    EXPECT_TRUE(tabs.isPageMade(SettingsTab::hyperKey));
    EXPECT_EQ(errorText(SettingsTab::hyperKey), errorText(SettingsTab::general));
}

TEST(SettingsWindowInShell, NoTextOnAnyPageOrInTheMenuNamesTheOtherDesktopSystem) {
    ShellWorld world;
    world.make(R"({"version":1,"hyper":{"key":"capsLock","onTap":"nothing"},"devices":[
      {"match":{"vendor":"0x046D","product":"0xB023"},"name":"MX Master 3"},
      {"match":{"builtIn":true},"name":"Keyboard"}],"ignored":[]})");
    ASSERT_TRUE(world.start());
    world.model->settingsWindow().show();
    SettingsTabs& tabs = world.window->window().tabs();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&tabs));
    const QRegularExpression otherSystem("\\b(macOS|Mac|Finder|Dock)\\b");
    QStringList texts;
    for (SettingsTab tab : allCases<SettingsTab>()) {
        QWidget* page = tabs.page(tab);
        for (auto* label : page->findChildren<QLabel*>()) texts << label->text() << label->toolTip();
        for (auto* button : page->findChildren<QAbstractButton*>()) texts << button->text() << button->toolTip();
    }
    world.menu->rebuild();
    for (auto* item : world.menu->menu()->actions()) texts << item->text() << item->toolTip();
    ASSERT_GT(texts.size(), 40);
    for (const QString& text : texts) EXPECT_FALSE(otherSystem.match(text).hasMatch()) << text.toStdString();
    EXPECT_TRUE(texts.contains("Show in Folder"));
}

}  // namespace
}  // namespace tindlewave
