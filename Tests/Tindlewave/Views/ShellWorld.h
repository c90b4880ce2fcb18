#pragma once

// A whole program's user interface over fakes: the real config store on a temporary folder, an
// engine that records what it is asked (or one the test brings), the app model, the status menu
// (without a tray) and the settings window, all on the main executor of the test's thread.

#include <QTest>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "App/AppModel.h"
#include "Platform/Clock.h"
#include "Platform/Linux/Desktop/XdgAutostart.h"
#include "Platform/Simulated/Permissions/SimulatedPermissionGrants.h"
#include "Runtime/Executors/ThreadPool.h"
#include "Runtime/Permissions.h"
#include "Runtime/Stores/Defaults.h"
#include "Runtime/Stores/LogStore.h"
#include "Settings/Model/ConfigFile.h"
#include "Settings/Model/SettingsModel.h"
#include "Settings/Model/Workspace.h"
#include "Shell/QtMainExecutor.h"
#include "Shell/ShellViews.h"
#include "Shell/StatusMenu.h"
#include "TestKit/TempFolder.h"

namespace tindlewave::testkit {

class RecordingEngine final : public EngineControl {
  public:
    Cancellable run(Channel<ConfigSnapshot>) override { return Cancellable([] {}); }
    Channel<EngineStatus> statuses() override { return statuses_; }
    Channel<LearnedPress> heard() override { return heard_; }
    void reapplyAll() override { ++reapplies; }
    void setPaused(bool paused) override { pauses.push_back(paused); }
    void listen(DeviceMatch match) override { listens.push_back(match); }
    void stopListening() override { ++stops; }
    void shutdown(std::function<void()> done) override { done(); }

    int reapplies = 0;
    int stops = 0;
    std::vector<bool> pauses;
    std::vector<DeviceMatch> listens;

  private:
    Channel<EngineStatus> statuses_{Buffering::newest};
    Channel<LearnedPress> heard_{Buffering::unbounded};
};

class RecordingWorkspace final : public Workspace {
  public:
    void open(const std::string& url) override { opened.push_back(url); }
    void reveal(const std::string& path) override { revealed.push_back(path); }
    std::vector<std::string> opened, revealed;
};

// The real store, whose writes fail while `refusing` is set, as they do on a file made immutable
// (which binds root too): the update is refused with the store's own text and the file is left
// as it is.
class RefusingStoreFile final : public ConfigFile {
  public:
    RefusingStoreFile(std::string path, const bool& refusing)
        : store_(std::move(path)), refusing_(refusing) {}

    const std::string& url() const override { return store_.url(); }
    void start(std::function<void()> done) override { store_.start(std::move(done)); }
    Channel<ConfigSnapshot> snapshots() override { return store_.snapshots(); }
    void update(std::function<Config(const Config&)> transform,
                std::function<void(std::optional<ConfigError>)> done) override {
        if (refusing_)
            done(ConfigError{"", "cannot write " + url() + ": Operation not permitted"});
        else
            store_.update(std::move(transform), std::move(done));
    }

  private:
    ConfigStoreFile store_;
    const bool& refusing_;
};

struct ShellWorld {
    TempFolder folder;
    std::filesystem::path configFolder = folder.path() / "config";
    QtMainExecutor main{SystemClock::shared()};
    QtMainExecutor::Entered entered{main};
    Defaults defaults{folder.path() / "state" / "defaults.json"};
    LogStore log{folder.path() / "log", false, SystemClock::shared()};
    SimulatedPermissionGrants grants;
    Permissions permissions{grants};
    XdgAutostart autostart{folder.path() / "autostart", std::string("/usr/bin/tindlewave")};
    RecordingWorkspace workspace;
    AbsentPermissionGuide guide;
    RecordingEngine* engine = nullptr;
    StatusMenu* menu = nullptr;
    ShellSettingsWindow* window = nullptr;
    int quits = 0;
    // The updater, when a test gives one before make(): the feed's address and its maker.
    std::optional<std::string> updateFeed;
    Updates::MakeBackend makeUpdater;
    // While set, every save is refused (RefusingStoreFile).
    bool refuseWrites = false;
    std::unique_ptr<AppModel> model;

    // Call before start(); `config` is written first when given. Without `realEngine` the
    // engine is a recording one (`engine`).
    void make(const std::optional<std::string>& config = std::nullopt,
              std::unique_ptr<EngineControl> realEngine = nullptr) {
        std::filesystem::create_directories(configFolder);
        if (config) TempFolder::write((configFolder / "config.json").string(), *config);
        if (!realEngine) {
            auto recording = std::make_unique<RecordingEngine>();
            engine = recording.get();
            realEngine = std::move(recording);
        }
        model = std::make_unique<AppModel>(AppModel::Parts{
            .main = main,
            .store = std::make_unique<RefusingStoreFile>((configFolder / "config.json").string(),
                                                          refuseWrites),
            .engine = std::move(realEngine),
            .defaults = defaults,
            .permissions = permissions,
            .log = log,
            .loginItem = autostart,
            .workspace = workspace,
            .guide = guide,
            .updateFeed = updateFeed,
            .makeUpdater = makeUpdater,
            .makeMenu =
                [this](AppModel& app) {
                    auto made = std::make_unique<StatusMenu>(
                        app, false, [&app] { app.settingsWindow().show(); }, [this] { ++quits; }, log);
                    menu = made.get();
                    return made;
                },
            .makeSettingsWindow =
                [this](SettingsModel& settings) {
                    auto made = std::make_unique<ShellSettingsWindow>(
                        settings, SettingsWindow::Services{
                                      .main = main,
                                      .pool = ThreadPool::shared(),
                                      .defaults = defaults,
                                      .general = {},
                                      .onClosed = nullptr,
                                  });
                    window = made.get();
                    return made;
                },
        });
    }

    // Starts and waits for the first snapshot.
    bool start() {
        model->start();
        return QTest::qWaitFor([&] { return model->settings().snapshot().has_value(); }, 10000);
    }

    std::string configText() { return TempFolder::read((configFolder / "config.json").string()); }
};

}  // namespace tindlewave::testkit
