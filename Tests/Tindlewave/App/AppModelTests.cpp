#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "App/AppModel.h"
#include "App/QuitSequence.h"
#include "Platform/PermissionGrants.h"
#include "Runtime/Stores/Defaults.h"
#include "Runtime/Stores/LogStore.h"
#include "Runtime/Permissions.h"
#include "Settings/Model/Workspace.h"
#include "TestKit/ManualExecutor.h"
#include "TestKit/TempFolder.h"
#include "Tindlewave/Fakes/FakeConfigFile.h"
#include "Tindlewave/Fakes/FakeEngine.h"
#include "Platform/Simulated/Desktop/SimulatedLoginItem.h"

using namespace tindlewave;
using namespace tindlewave::testkit;

namespace {

using Events = std::vector<std::string>;

struct RecordingGrants final : PermissionGrants {
    Events& events;
    explicit RecordingGrants(Events& e) : events(e) {}
    PermissionState::Grant inputMonitoring() override { return PermissionState::Grant::granted; }
    PermissionState::Grant accessibility() override { return PermissionState::Grant::granted; }
    void request(Permission p) override {
        events.push_back(p == Permission::accessibility ? "request accessibility"
                                                        : "request inputMonitoring");
    }
};

struct RecordingWorkspace final : Workspace {
    Events& events;
    explicit RecordingWorkspace(Events& e) : events(e) {}
    void open(const std::string& url) override { events.push_back("open " + url); }
    void reveal(const std::string& path) override { events.push_back("reveal " + path); }
};

struct RecordingGuide final : PermissionGuideView {
    Events& events;
    explicit RecordingGuide(Events& e) : events(e) {}
    void show(Permission p) override {
        events.push_back(p == Permission::accessibility ? "guide accessibility"
                                                        : "guide inputMonitoring");
    }
    void snapshot(const std::string& folder, std::function<void()> done) override {
        events.push_back("guide pictures in " + folder);
        if (done) done();
    }
};

struct RecordingWindow final : SettingsWindowView {
    Events& events;
    explicit RecordingWindow(Events& e) : events(e) {}
    void show() override { events.push_back("window shown"); }
    void snapshot(const std::string& folder, std::function<void()> done) override {
        events.push_back("window pictures in " + folder);
        done();
    }
};

// Records each status and whether the settings model had it already.
struct RecordingMenu final : StatusMenuView {
    AppModel& model;
    Events& events;
    RecordingMenu(AppModel& m, Events& e) : model(m), events(e) {}
    void show(const EngineStatus& status) override {
        bool settingsHadIt = model.settings().status() == status;
        events.push_back(settingsHadIt ? "menu after settings" : "menu first");
    }
};

DeviceMatch plainMouse() {
    return DeviceMatch::device(VendorID{0x1234}, ProductID{0x0001});
}

EngineStatus statusWith(RunState run) {
    return EngineStatus{
        .run = run, .permissions = {}, .tap = TapState::on, .devices = {}, .newDevices = {}};
}

struct AppModelTest : ::testing::Test {
    TempFolder folder;
    ManualScheduler scheduler;
    ManualExecutor main{scheduler, "main"};
    Events events;
    Defaults defaults{folder.path() / "defaults.json"};
    LogStore log{folder.path() / "log", false, scheduler.clock()};
    SimulatedLoginItem loginItem;
    RecordingGrants grants{events};
    Permissions permissions{grants};
    RecordingWorkspace workspace{events};
    RecordingGuide guide{events};
    int windowsMade = 0;
    FakeConfigFile* store = nullptr;
    FakeEngine* engine = nullptr;
    std::unique_ptr<AppModel> model;

    AppModel& make() {
        auto file = std::make_unique<FakeConfigFile>();
        auto fakeEngine = std::make_unique<FakeEngine>();
        store = file.get();
        engine = fakeEngine.get();
        engine->runExecutor = &main;
        model = std::make_unique<AppModel>(AppModel::Parts{
            .main = main,
            .store = std::move(file),
            .engine = std::move(fakeEngine),
            .defaults = defaults,
            .permissions = permissions,
            .log = log,
            .loginItem = loginItem,
            .workspace = workspace,
            .guide = guide,
            .updateFeed = std::nullopt,
            .makeUpdater = nullptr,
            .makeMenu = [this](AppModel& m) { return std::make_unique<RecordingMenu>(m, events); },
            .makeSettingsWindow =
                [this](SettingsModel&) {
                    ++windowsMade;
                    return std::make_unique<RecordingWindow>(events);
                },
        });
        return *model;
    }

    // Started, with the store's start finished and the engine running.
    AppModel& started() {
        make().start();
        store->startDone();
        scheduler.runReady();
        return *model;
    }

    void showConfig(ConfigSnapshot snapshot) {
        store->publish(snapshot);
        scheduler.runReady();
    }
};

Config withPlainMouse() {
    Config config = Config::empty();
    config.devices.push_back(
        DeviceProfile{.match = plainMouse(), .name = "Desk mouse", .kind = DeviceKind::mouse});
    return config;
}

}  // namespace

TEST_F(AppModelTest, StartsTheStoreFirstThenTheEngineOverItsOwnSubscription) {
    make();
    EXPECT_EQ(store->starts, 0);  // nothing before start
    EXPECT_EQ(model->menu(), nullptr);
    model->start();
    EXPECT_NE(model->menu(), nullptr);
    EXPECT_EQ(store->starts, 1);
    EXPECT_EQ(store->subscribers.size(), 1u);  // the settings model's
    ConfigSnapshot loaded{Config::empty(), std::nullopt};
    store->publish(loaded);  // the store's first load, before its start has answered
    scheduler.runReady();
    EXPECT_TRUE(engine->calls.empty());  // the engine waits for the store
    EXPECT_FALSE(model->isEngineRunning());
    EXPECT_EQ(model->settings().snapshot(), loaded);

    store->startDone();  // on the store's executor: the engine starts on the main one
    EXPECT_TRUE(engine->calls.empty());
    scheduler.runReady();
    EXPECT_EQ(engine->calls, std::vector<std::string>{"run"});
    EXPECT_TRUE(model->isEngineRunning());
    EXPECT_EQ(store->subscribers.size(), 2u);

    // Each subscription starts with the current snapshot and then gets every later one.
    EXPECT_EQ(engine->configsSeen, std::vector{loaded});
    Config off = Config::empty();
    off.hyper.enabled = false;
    ConfigSnapshot next{off, std::nullopt};
    showConfig(next);
    EXPECT_EQ(engine->configsSeen, (std::vector{loaded, next}));
    EXPECT_EQ(model->settings().snapshot(), next);
}

TEST_F(AppModelTest, AStatusReachesTheMenuBeforeTheSettingsModelAndEveryLoopKeepsGoing) {
    started();
    engine->statusChannel.send(statusWith(RunState::active));
    scheduler.runReady();
    engine->statusChannel.send(statusWith(RunState::paused));
    scheduler.runReady();
    EXPECT_EQ(events, (Events{"menu first", "menu first"}));
    EXPECT_EQ(model->settings().status(), statusWith(RunState::paused));
    EXPECT_FALSE(engine->statusChannel.isTerminated());
    EXPECT_FALSE(engine->heardChannel.isTerminated());
}

TEST_F(AppModelTest, ALearnedPressUsesThePurposeCurrentWhenItArrives) {
    started();
    showConfig(ConfigSnapshot{withPlainMouse(), std::nullopt});
    auto device = model->settings().devices().at(0);
    auto vanished = ListenPurpose::replaceRule(RuleKey{Control::button(9), Trigger::click()});

    model->settings().listen(device, ListenPurpose::addRule());
    engine->heardChannel.send(LearnedPress{plainMouse(), Heard::control(Control::button(4))});
    model->settings().listen(device, vanished);  // before the press is delivered
    scheduler.runReady();
    EXPECT_TRUE(store->updates.empty());

    engine->heardChannel.send(LearnedPress{plainMouse(), Heard::control(Control::button(4))});
    model->settings().listen(device, ListenPurpose::addRule());
    scheduler.runReady();
    EXPECT_EQ(store->updates.size(), 1u);
}

TEST_F(AppModelTest, TheHyperKeySwitchIsTheLastGoodConfigurations) {
    started();
    EXPECT_EQ(model->hyperKeyEnabled(), std::nullopt);
    Config off = Config::empty();
    off.hyper.enabled = false;
    showConfig(ConfigSnapshot{off, std::nullopt});
    EXPECT_EQ(model->hyperKeyEnabled(), false);
    showConfig(ConfigSnapshot{off, ConfigError{"hyper", "broken"}});
    EXPECT_EQ(model->hyperKeyEnabled(), false);
    showConfig(ConfigSnapshot{Config::empty(), std::nullopt});
    EXPECT_EQ(model->hyperKeyEnabled(), true);
}

TEST_F(AppModelTest, FixesRequestThenGuideOrOpenTheFileOrReapplyOnce) {
    started();
    model->fix(MenuPresentation::Fix::permission(Permission::inputMonitoring));
    EXPECT_EQ(events, (Events{
                          "request inputMonitoring",
                          "guide inputMonitoring",
                      }));
    events.clear();
    model->fix(MenuPresentation::Fix::openConfig());
    EXPECT_EQ(events, Events{"open " + store->path});

    engine->calls.clear();
    model->fix(MenuPresentation::Fix::reapply());
    model->reapplyAll();
    model->setPaused(true);
    EXPECT_EQ(engine->calls, (std::vector<std::string>{"reapplyAll", "reapplyAll", "setPaused"}));
    EXPECT_EQ(engine->paused, std::vector{true});
}

TEST_F(AppModelTest, TheWindowIsMadeOnceAndScreenshotsTakeThePagesThenTheGuide) {
    make();
    EXPECT_EQ(windowsMade, 0);
    model->settingsWindow().show();
    model->snapshotSettings("/tmp/shots");
    EXPECT_EQ(windowsMade, 1);
    EXPECT_EQ(events, (Events{"window shown", "window pictures in /tmp/shots",
                              "guide pictures in /tmp/shots"}));
}

TEST_F(AppModelTest, QuittingCancelsTheRunOnlyAfterShutdownAndARunNotYetStartedNeverStarts) {
    started();
    int ended = 0;
    QuitSequence quit(
        main, model->engine(), [&] { model->cancelEngineRun(); }, [&] { ++ended; });
    quit.request();
    scheduler.runReady();
    EXPECT_TRUE(model->isEngineRunning());
    EXPECT_EQ(engine->runsCancelled, 0);
    engine->shutdownDone();
    scheduler.runReady();
    EXPECT_EQ(engine->calls, (std::vector<std::string>{"run", "shutdown", "run cancelled"}));
    EXPECT_FALSE(model->isEngineRunning());
    EXPECT_EQ(ended, 1);

    make().start();  // a quit before the store has started
    model->cancelEngineRun();
    store->startDone();
    scheduler.runReady();
    EXPECT_TRUE(engine->calls.empty());
}
