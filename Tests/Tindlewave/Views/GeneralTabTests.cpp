#include <gtest/gtest.h>

#include <algorithm>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include "PageWorld.h"
#include "Settings/Model/General/Updates.h"
#include "Settings/Views/FormBlocks.h"
#include "Settings/Views/GeneralTab.h"
#include "Settings/Views/SettingsPage.h"

namespace tindlewave {
namespace {

using namespace testkit;

// An updater that records what the page asks of it.
struct RecordingUpdater final : UpdaterBackend {
    void start(UpdaterDelegate& delegate) override {
        told = &delegate;
        delegate.settingsChanged();
    }
    UpdaterSettings settings() const override { return current; }
    std::optional<Date> lastUpdateCheckDate() const override { return std::nullopt; }
    void setAutomaticallyChecks(bool on) override { calls.push_back(on ? "checks on" : "checks off"); }
    void setAutomaticallyDownloads(bool on) override { calls.push_back(on ? "downloads on" : "downloads off"); }
    void checkForUpdates() override { calls.push_back("check now"); }

    UpdaterSettings current{.canCheck = true, .automaticallyChecks = true,
                            .automaticallyDownloads = false, .allowsAutomaticDownloads = true};
    std::vector<std::string> calls;
    UpdaterDelegate* told = nullptr;
};

// What the page asked of the desktop, one line per call.
struct GeneralPage {
    explicit GeneralPage(SettingsModel& model)
        : tab(new GeneralTab(model,
                             GeneralActions{
                                 .allow = [this](Permission p) { calls.push_back("allow " + name(p)); },
                                 .open = [this](const std::string& url) { calls.push_back("open " + url); },
                                 .reveal = [this](const std::string& path) { calls.push_back("reveal " + path); },
                                 .showLog = [this] { calls.push_back("show log"); },
                             },
                             page)) {
        page.content()->addWidget(tab);
        page.show();
    }
    static std::string name(Permission p) {
        return p == Permission::accessibility ? "accessibility" : "input monitoring";
    }
    QPushButton* button(const QString& text) {
        for (auto* candidate : page.findChildren<QPushButton*>())
            if (candidate->text() == text && candidate->isVisibleTo(&page)) return candidate;
        return nullptr;
    }
    QCheckBox* box(const QString& text) {
        for (auto* candidate : page.findChildren<QCheckBox*>())
            if (candidate->text() == text) return candidate;
        return nullptr;
    }
    // The buttons of the two permission rows, in order.
    std::vector<QPushButton*> permissionButtons() {
        std::vector<QPushButton*> found;
        for (auto* widget : page.findChildren<QWidget*>())  // FormRow has no meta-object of its own
            if (auto* row = dynamic_cast<FormRow*>(widget); row && (row->label()->text() == "Accessibility:" || row->label()->text() == "Input Monitoring:"))
                found.push_back(row->findChild<QPushButton*>());
        return found;
    }

    SettingsPage page{nullptr, {}};
    std::vector<std::string> calls;
    GeneralTab* tab;
};

TEST(GeneralTab, EachPermissionButtonActsOnItsOwnPermissionByItsGrant) {
    ShellWorld world;
    world.make(twoDevicesConfig);
    ASSERT_TRUE(world.start());
    SettingsModel& settings = world.model->settings();
    settings.setSnapshotPermissions(PermissionState{PermissionState::Grant::denied, PermissionState::Grant::granted});
    GeneralPage general(settings);
    general.tab->refresh();

    const auto buttons = general.permissionButtons();
    ASSERT_EQ(buttons.size(), 2u);
    EXPECT_EQ(buttons[0]->text(), "Allow\u2026");
    // A granted row has no pane to show, so no button.
    EXPECT_FALSE(buttons[1]->isVisibleTo(&general.page));
    buttons[0]->click();
    EXPECT_EQ(general.calls, (std::vector<std::string>{"allow accessibility"}));
    // "Granted" comes with its check mark; a missing permission has none.
    const auto mark = [&](QPushButton* button) {
        for (auto* label : button->parentWidget()->findChildren<QLabel*>())
            if (label->accessibleName() == "Granted") return label;
        return static_cast<QLabel*>(nullptr);
    };
    ASSERT_TRUE(mark(buttons[0]) && mark(buttons[1]));
    EXPECT_FALSE(mark(buttons[0])->isVisibleTo(&general.page));
    EXPECT_TRUE(mark(buttons[1])->isVisibleTo(&general.page));
    EXPECT_FALSE(mark(buttons[1])->pixmap().isNull());

    // The other way round: the rows follow their own grants.
    settings.setSnapshotPermissions(PermissionState{PermissionState::Grant::granted, PermissionState::Grant::notDetermined});
    general.tab->refresh();
    general.calls.clear();
    buttons[0]->click();
    buttons[1]->click();
    EXPECT_EQ(general.calls, (std::vector<std::string>{"allow input monitoring"}));

    // The first step's button opens no desktop pane: it guides to the grant still missing, so the
    // card does not close at once over a grant that is already there.
    general.calls.clear();
    general.button("Open System Settings")->click();
    EXPECT_EQ(general.calls, (std::vector<std::string>{"allow input monitoring"}));
    EXPECT_EQ(linesBeforeMarker(world), 0);  // the page sends no edit
}

// Plain mice alone leave nothing to grant for Input Monitoring: its row says so without a warning,
// a check mark or a button, and no how-to asks for anything. A grant held back by a missing
// module names the module, and its button still shows what to do.
TEST(GeneralTab, ARowWithNothingToGrantAsksNothingAndAMissingModuleIsNamed) {
    using Grant = PermissionState::Grant;
    ShellWorld world;
    world.make(twoDevicesConfig);
    ASSERT_TRUE(world.start());
    SettingsModel& settings = world.model->settings();
    world.grants.setCause(Permission::inputMonitoring, GrantCause::noDevice);
    settings.show(statusWith({}, {}));
    GeneralPage general(settings);
    general.tab->refresh();

    const auto buttons = general.permissionButtons();
    ASSERT_EQ(buttons.size(), 2u);
    const auto labels = [&](QPushButton* button) {
        std::vector<QLabel*> found;  // the check mark, then the state
        for (auto* label : button->parentWidget()->findChildren<QLabel*>()) found.push_back(label);
        return found;
    };
    ASSERT_EQ(labels(buttons[1]).size(), 2u);
    EXPECT_EQ(labels(buttons[1])[1]->text(), "No HID++ mouse connected");
    EXPECT_FALSE(labels(buttons[1])[0]->isVisibleTo(&general.page)) << "no check mark";
    EXPECT_FALSE(buttons[1]->isVisibleTo(&general.page));
    EXPECT_NE(labels(buttons[1])[1]->palette().color(QPalette::WindowText), QColor(0xE0, 0x7B, 0x00));
    EXPECT_EQ(labels(buttons[0])[1]->text(), "Granted");
    EXPECT_EQ(general.button("Open System Settings"), nullptr) << "the how-to shows";

    world.grants.setCause(Permission::accessibility, GrantCause::moduleMissing);
    auto status = statusWith({}, {});
    status.permissions.accessibility = Grant::denied;
    settings.show(status);
    general.tab->refresh();
    EXPECT_EQ(labels(buttons[0])[1]->text(), "No uinput module loaded");
    EXPECT_EQ(labels(buttons[0])[1]->palette().color(QPalette::WindowText), QColor(0xE0, 0x7B, 0x00));
    EXPECT_EQ(buttons[0]->text(), "Allow\u2026");
    EXPECT_TRUE(buttons[0]->isVisibleTo(&general.page));
    EXPECT_NE(general.button("Open System Settings"), nullptr);
    // The how-to asks only for what can come: Input Monitoring has nothing to grant.
    const auto shows = [](GeneralPage& page, const QString& text) {
        for (auto* label : page.page.findChildren<QLabel*>())
            if (label->text() == text) return true;
        return false;
    };
    EXPECT_TRUE(shows(general, "Check that Accessibility says Granted below, or click Allow\u2026 to be asked"));

    // Over Linux devices the first step names the module: installing the rule alone cannot help.
    LinuxDeviceTexts texts;
    GeneralPage overLinux(settings);
    overLinux.tab->refresh();
    EXPECT_TRUE(shows(overLinux, "Load the uinput module and install Tindlewave's device rule (once, as an administrator)"));
    world.grants.setCause(Permission::accessibility, GrantCause::none);
    overLinux.tab->refresh();
    EXPECT_TRUE(shows(overLinux, "Install Tindlewave's device rule (once, as an administrator)"));
}

TEST(GeneralTab, TheFileButtonsRevealAndOpenTheConfigFileAndShowLogShowsIt) {
    ShellWorld world;
    world.make(twoDevicesConfig);
    ASSERT_TRUE(world.start());
    GeneralPage general(world.model->settings());
    const std::string file = world.model->settings().configURL();

    general.button("Show in Folder")->click();
    general.button("Open in Editor")->click();
    general.button("Show Log")->click();
    EXPECT_EQ(general.calls, (std::vector<std::string>{"reveal " + file, "open " + file, "show log"}));
}

TEST(GeneralTab, TheLoginSwitchWritesAndRemovesTheAutostartEntry) {
    ShellWorld world;
    world.make(twoDevicesConfig);
    ASSERT_TRUE(world.start());
    GeneralPage general(world.model->settings());
    QCheckBox* login = general.box("Open Tindlewave at login");
    ASSERT_NE(login, nullptr);
    EXPECT_FALSE(login->isChecked());
    EXPECT_EQ(general.button("Open Login Items Settings"), nullptr);

    login->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(world.autostart.file()); }, 10000));
    EXPECT_EQ(world.autostart.status(), LoginItemState::on);
    ASSERT_TRUE(QTest::qWaitFor([&] { return login->isChecked(); }, 10000));

    login->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !std::filesystem::exists(world.autostart.file()); }, 10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !login->isChecked(); }, 10000));
    EXPECT_TRUE(general.calls.empty());
}

TEST(GeneralTab, EachUpdateControlReachesItsOwnSetting) {
    ShellWorld world;
    RecordingUpdater* updater = nullptr;
    world.updateFeed = "https://updates.example.org/feed.json";
    world.makeUpdater = [&](const std::string&) {
        auto made = std::make_unique<RecordingUpdater>();
        updater = made.get();
        return made;
    };
    world.make(twoDevicesConfig);
    ASSERT_TRUE(world.start());
    ASSERT_NE(updater, nullptr);
    Updates& updates = world.model->updates();
    GeneralPage general(world.model->settings());
    QCheckBox* checks = general.box("Check for updates automatically");
    QCheckBox* downloads = general.box("Download and install them automatically");
    QCheckBox* beta = general.box("Include beta versions");
    ASSERT_TRUE(checks && downloads && beta);
    EXPECT_TRUE(checks->isChecked());
    EXPECT_FALSE(downloads->isChecked());
    EXPECT_FALSE(beta->isChecked());

    checks->click();
    downloads->click();
    general.button("Check Now")->click();
    EXPECT_EQ(updater->calls, (std::vector<std::string>{"checks off", "downloads on", "check now"}));
    EXPECT_FALSE(updates.beta());
    beta->click();
    EXPECT_TRUE(updates.beta());
    EXPECT_EQ(world.defaults.boolean("betaUpdates"), true);
    EXPECT_EQ(updater->calls.size(), 3u);  // the beta switch is the wrapper's, not the updater's
    beta->click();
    EXPECT_FALSE(updates.beta());
    EXPECT_TRUE(general.calls.empty());

    // A check that found a newer version says which, with its page a click away (no browser may
    // have opened it), until a check finds none newer.
    EXPECT_EQ(general.button("Open Download Page"), nullptr);
    updater->told->checked(AvailableUpdate{"9.1", "https://updates.example.org/9.1"});
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return general.button("Open Download Page") != nullptr; }, 5000));
    const auto labels = general.page.findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [&](QLabel* label) {
        return label->text() == "Tindlewave 9.1 is out." && label->isVisibleTo(&general.page);
    }));
    general.button("Open Download Page")->click();
    EXPECT_EQ(general.calls, (std::vector<std::string>{"open https://updates.example.org/9.1"}));
    updater->told->checked(std::nullopt);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return general.button("Open Download Page") == nullptr; }, 5000));
}

}  // namespace
}  // namespace tindlewave
