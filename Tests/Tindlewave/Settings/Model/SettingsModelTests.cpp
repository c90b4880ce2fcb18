#include <gtest/gtest.h>

#include "Runtime/Stores/ConfigStore.h"
#include "Runtime/Executors/RunLoopExecutor.h"
#include "Settings/Model/ConfigFile.h"
#include "TestKit/Waiter.h"
#include "Tindlewave/Settings/Model/SettingsModelFixture.h"

using namespace tindlewave;
using namespace tindlewave::testkit;

namespace {

ConfigSnapshot clean(Config config) {
    return ConfigSnapshot{std::move(config), std::nullopt};
}

Config withMouse(std::optional<SmoothScroll> smooth) {
    Config config = Config::empty();
    DeviceProfile mouse{.match = mouseMatch(), .name = "MX"};
    if (smooth) mouse.scrolling = ScrollSettings{.smooth = smooth};
    config.devices.push_back(mouse);
    return config;
}

}  // namespace

TEST_F(SettingsModelTest, EditsAreWrittenOneAtATimeAndTheirOutcomeShownAndLogged) {
    make();
    auto add = SettingsEdit::addDevice(mouseMatch(), "MX", ProfileSource::blank());
    auto rename = SettingsEdit::rename(mouseMatch(), "Renamed");
    // The sender of a refused edit hears of it once the refusal shows.
    std::vector<std::string> refused;
    auto refusal = [&](std::string name) {
        return [&, name] { refused.push_back(name + ": " + model->saveError().value_or("")); };
    };
    model->send(add, refusal("add"));
    model->send(rename, refusal("rename"));
    ASSERT_EQ(store.updates.size(), 1u);  // the second waits for the first

    store.finishUpdate(ConfigError{"", "cannot write /x: No space left on device"});
    EXPECT_EQ(store.updates.size(), 0u);  // the outcome comes back on the main executor first
    EXPECT_TRUE(refused.empty());
    scheduler.runReady();
    EXPECT_EQ(model->saveError(), "cannot write /x: No space left on device");
    EXPECT_EQ(refused, (std::vector<std::string>{"add: cannot write /x: No space left on device"}));
    ASSERT_EQ(store.updates.size(), 1u);

    store.finishUpdate();  // the rename, against a file without the device: refused, still saved
    scheduler.runReady();
    EXPECT_EQ(model->saveError(), std::nullopt);
    EXPECT_EQ(store.file, Config::empty());
    EXPECT_EQ(refused.size(), 1u);
    EXPECT_EQ(model->refusals(), 1u);

    // Refused twice with the same text: the text is told once, each refusal every time, so
    // every page shows the stored values again after each.
    model->send(add, refusal("again"));
    model->send(add);
    for (int i = 0; i < 2; ++i) {
        store.finishUpdate(ConfigError{"devices[0].name", "must not be empty"});
        scheduler.runReady();
    }
    EXPECT_EQ(model->saveError(), "devices[0].name: must not be empty");
    EXPECT_EQ(refused.back(), "again: devices[0].name: must not be empty");
    EXPECT_EQ(refused.size(), 2u);
    EXPECT_EQ(logLines(), (std::vector<std::string>{
                              "error: not saved " + add.logDescription() +
                                  ": cannot write /x: No space left on device",
                              "saved " + rename.logDescription(),
                              "error: not saved " + add.logDescription() +
                                  ": devices[0].name: must not be empty",
                              "error: not saved " + add.logDescription() +
                                  ": devices[0].name: must not be empty",
                          }));
    EXPECT_EQ(std::count(told.begin(), told.end(), SettingsField::saveError), 3);
    EXPECT_EQ(std::count(told.begin(), told.end(), SettingsField::refusals), 3);
    EXPECT_EQ(model->refusals(), 3u);
}

TEST_F(SettingsModelTest, AnUpdateThatFinishesAfterTheModelIsGoneTellsNoOneAndTheRestIsDropped) {
    make();
    model->send(SettingsEdit::hyperEnabled(false));
    model->send(SettingsEdit::hyperEnabled(true));
    model.reset();
    store.finishUpdate();
    scheduler.runReady();
    EXPECT_TRUE(store.updates.empty());
    EXPECT_FALSE(store.file.hyper.enabled);  // the edit already taken was applied
    EXPECT_TRUE(logLines().empty());
}

TEST(SettingsModelOnTheRealStore, TwoEditsInARowAreWrittenInOrderTheSecondOnTheFirstsResult) {
    TempFolder folder;
    RunLoopExecutor main("test.main");
    FakeEngine engine;
    Defaults defaults(folder.path() / "defaults.json");
    SimulatedLoginItem loginItem;
    SimulatedPermissionGrants grants;
    Permissions permissions(grants);
    LogStore log(folder.path() / "log", false, main.clock());
    ConfigStoreFile store(folder / "config/config.json");
    Waiter waiter;
    std::optional<Config> last;
    std::unique_ptr<SettingsModel> model;
    Subscription snapshots;

    store.start([] {});
    main.post([&] {
        model = std::make_unique<SettingsModel>(SettingsModel::Services{
            main, store, engine, nullptr, defaults, loginItem, permissions, log});
        snapshots = store.snapshots().subscribe(main, [&](ConfigSnapshot s) {
            model->show(s);
            waiter.update([&] { last = s.config; });
        });
        model->send(SettingsEdit::addDevice(mouseMatch(), "MX", ProfileSource::blank()));
        model->send(SettingsEdit::rename(mouseMatch(), "Renamed"));
        model->send(SettingsEdit::ignore(mouseMatch(), true));  // refused: the device is configured
        model->send(SettingsEdit::hyperEnabled(false));
    });
    // Once the last edit's file is published, the ones before it have been logged.
    ASSERT_TRUE(waiter.waitFor([&] { return last && !last->hyper.enabled; }));
    EXPECT_EQ(last->devices.at(0).name, "Renamed");
    EXPECT_TRUE(last->ignored.empty());
    // The refused edit still went through the store and is logged as saved.
    auto entries = log.entries("app.tindlewave");
    ASSERT_TRUE(entries && entries->size() >= 3);
    EXPECT_EQ((*entries)[0].message.rfind("saved devices += ", 0), 0u) << (*entries)[0].message;
    EXPECT_EQ((*entries)[1].message.rfind("saved devices[", 0), 0u) << (*entries)[1].message;
    EXPECT_EQ((*entries)[2].message.rfind("saved ignored += ", 0), 0u) << (*entries)[2].message;
    main.post([&] {
        snapshots.cancel();
        model.reset();
        waiter.update([&] { last.reset(); });
    });
    ASSERT_TRUE(waiter.waitFor([&] { return !last; }));
    main.stop();
    main.join();
}

TEST_F(SettingsModelTest, SnapshotsWithAnErrorKeepTheLoadTimeAndTheLastSmoothSettings) {
    make();
    EXPECT_FALSE(model->editable());
    EXPECT_EQ(model->smoothWhenOn(mouseMatch()), SmoothScroll::defaults());

    SmoothScroll slow = SmoothScroll::defaults();
    slow.duration = 12;
    model->show(clean(withMouse(slow)));
    EXPECT_TRUE(model->editable());
    auto loaded = model->loadedAt();
    EXPECT_EQ(loaded, scheduler.clock().date());
    EXPECT_EQ(model->smoothWhenOn(mouseMatch()), slow);

    scheduler.advance(std::chrono::seconds(5));
    SmoothScroll other = slow;
    other.brake = 7;
    model->show(ConfigSnapshot{withMouse(other), ConfigError{"devices", "broken"}});
    EXPECT_FALSE(model->editable());
    EXPECT_EQ(model->loadedAt(), loaded);
    EXPECT_EQ(model->smoothWhenOn(mouseMatch()), slow);

    model->show(ConfigSnapshot{std::nullopt, ConfigError{"", "unreadable"}});
    EXPECT_FALSE(model->editable());
    model->show(clean(withMouse(std::nullopt)));  // smooth scrolling off: the last values stay
    EXPECT_TRUE(model->editable());
    EXPECT_EQ(model->loadedAt(), scheduler.clock().date());
    EXPECT_EQ(model->smoothWhenOn(mouseMatch()), slow);

    told.clear();
    model->show(clean(withMouse(std::nullopt)));  // the same snapshot, the same instant
    EXPECT_TRUE(told.empty());

    // Each new error of the file is logged once, in the store's words.
    model->show(ConfigSnapshot{withMouse(std::nullopt), ConfigError{"", "unreadable"}});
    std::vector<std::string> logged;
    if (auto entries = log.entries("app.tindlewave"))
        for (const auto& entry : *entries)
            if (entry.category == "config" && entry.level == LogLevel::error)
                logged.push_back(entry.message);
    EXPECT_EQ(logged, (std::vector<std::string>{"config file: devices: broken", "config file: unreadable",
                                                "config file: unreadable"}));
}

TEST_F(SettingsModelTest, TheTabComesFromTheDefaultsAndLeavingButtonsStopsListening) {
    make();
    EXPECT_EQ(model->tab(), SettingsTab::general);  // nothing stored
    defaults.set("settingsTab", "Buttons");
    EXPECT_EQ(make().tab(), SettingsTab::general);  // names no page
    defaults.set("settingsTab", "scrolling");
    EXPECT_EQ(make().tab(), SettingsTab::scrolling);

    model->setTab(SettingsTab::buttons);
    EXPECT_EQ(defaults.string("settingsTab"), "buttons");
    EXPECT_TRUE(engine.calls.empty());  // choosing buttons keeps a listen
    model->setTab(SettingsTab::general);
    EXPECT_EQ(engine.calls, std::vector<std::string>{"stopListening"});
    defaults.remove("settingsTab");
    model->setTab(SettingsTab::general);  // again: still stored, still stops
    EXPECT_EQ(defaults.string("settingsTab"), "general");
    EXPECT_EQ(engine.calls.size(), 2u);
    EXPECT_EQ(std::count(told.begin(), told.end(), SettingsField::tab), 2);
}

TEST_F(SettingsModelTest, OnlyAChangedMouseStopsListening) {
    make();
    model->setMouse(mouseMatch());
    EXPECT_EQ(engine.calls, std::vector<std::string>{"stopListening"});
    model->setMouse(mouseMatch());
    EXPECT_EQ(engine.calls.size(), 1u);
    model->setMouse(std::nullopt);
    EXPECT_EQ(engine.calls.size(), 2u);
}

TEST_F(SettingsModelTest, TheLoginItemIsReadAtStartAndAfterEveryChange) {
    loginItem.set(LoginItemState::on);
    make();
    EXPECT_EQ(model->loginItem(), LoginItemState::on);
    loginItem.failNextChange("cannot write /a/tindlewave.desktop: Read-only file system");
    model->setLoginItem(false);
    EXPECT_EQ(model->loginItemError(), "cannot write /a/tindlewave.desktop: Read-only file system");
    EXPECT_EQ(model->loginItem(), LoginItemState::on);
    model->setLoginItem(false);
    EXPECT_EQ(model->loginItemError(), std::nullopt);
    EXPECT_EQ(model->loginItem(), LoginItemState::off);

    loginItem.set(LoginItemState::needsApproval);  // changed elsewhere
    told.clear();
    model->refreshLoginItem();
    model->refreshLoginItem();
    EXPECT_EQ(told, std::vector{SettingsField::loginItem});
}

TEST_F(SettingsModelTest, PermissionsAreTheForcedStateElseTheStatussElseTheGrantsNow) {
    using Grant = PermissionState::Grant;
    grants.setAccessibility(Grant::denied);
    make();
    EXPECT_EQ(model->permissions(), (PermissionState{Grant::denied, Grant::granted}));
    EngineStatus status{.run = RunState::active,
                        .permissions = {Grant::granted, Grant::notDetermined},
                        .tap = TapState::on,
                        .devices = {},
                        .newDevices = {}};
    model->show(status);
    EXPECT_EQ(model->permissions(), status.permissions);
    model->setSnapshotPermissions(PermissionState{Grant::notDetermined, Grant::denied});
    EXPECT_EQ(model->permissions(), (PermissionState{Grant::notDetermined, Grant::denied}));
    model->setSnapshotPermissions(std::nullopt);
    EXPECT_EQ(model->permissions(), status.permissions);
}
