#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "App/AppViews.h"
#include "App/MenuPresentation.h"
#include "Model/Rule.h"
#include "Settings/Model/ConfigFile.h"
#include "Settings/Model/EngineControl.h"
#include "Settings/Model/SettingsModel.h"
#include "Settings/Model/General/Updates.h"

namespace tindlewave {

class Defaults;
class Executor;
class LoginItemService;
class LogStore;
class Permissions;
class Workspace;

// The root of the program's face: owns the config store, the engine's controls, the updates
// wrapper, the settings model, the status menu and the settings window, and carries the engine's
// and the store's streams to them (the engine's assembly performs its actions). Qt-free: the menu, the window and the guide come in
// through the views' interfaces. Main executor only.
class AppModel {
  public:
    // What the app model is built from. The shell passes the real ones, tests fakes; the
    // references outlive the model.
    struct Parts {
        Executor& main;
        std::unique_ptr<ConfigFile> store;
        std::unique_ptr<EngineControl> engine;
        Defaults& defaults;
        const Permissions& permissions;
        LogStore& log;
        LoginItemService& loginItem;
        Workspace& workspace;
        PermissionGuideView& guide;
        std::optional<std::string> updateFeed;  // updateFeedURL() in the program; none: off
        Updates::MakeBackend makeUpdater;
        std::function<std::unique_ptr<StatusMenuView>(AppModel&)> makeMenu;
        std::function<std::unique_ptr<SettingsWindowView>(SettingsModel&)> makeSettingsWindow;
        // The engine's run over the store's snapshots when the shell began it (and started the
        // store) before the model was made: taken over, not begun again.
        Cancellable engineRun = {};
    };

    // Builds the updates wrapper and the settings model; no file or device work yet.
    explicit AppModel(Parts parts);
    ~AppModel();
    AppModel(const AppModel&) = delete;
    AppModel& operator=(const AppModel&) = delete;

    ConfigFile& store() const { return *store_; }
    EngineControl& engine() const { return *engine_; }
    Updates& updates() const { return *updates_; }
    SettingsModel& settings() const { return *settings_; }
    // The settings window, made on first use.
    SettingsWindowView& settingsWindow();
    // The status menu, once started.
    StatusMenuView* menu() const { return menu_.get(); }
    // Whether the engine's run is going (started and not cancelled).
    bool isEngineRunning() const { return engineRun_.isArmed(); }

    // Starts the updater, makes the status menu and starts the four loops: the store and then
    // the engine over its snapshots (unless the shell began that run); statuses to the menu and then the settings model; snapshots
    // to the settings model; heard presses to the settings model. Called once.
    void start();

    // Ends the engine's run (the last step of quitting, after the engine's shutdown); a run that
    // has not started yet never starts.
    void cancelEngineRun();

    // Fire and forget: the results come back only as later statuses.
    void reapplyAll();
    void setPaused(bool paused);
    // The hyper-key switch of the configuration in force (the last good one); none before the
    // first configuration.
    std::optional<bool> hyperKeyEnabled() const;
    // Carries out what a menu notice offers.
    void fix(const MenuPresentation::Fix& fix);
    // Writes pictures of every settings page and of the guide into `folder`; `done` is called
    // once the last one is written.
    void snapshotSettings(const std::string& folder, std::function<void()> done = nullptr);

  private:
    void startEngine();

    Executor& main_;
    const Permissions& permissions_;
    Workspace& workspace_;
    PermissionGuideView& guide_;
    std::function<std::unique_ptr<StatusMenuView>(AppModel&)> makeMenu_;
    std::function<std::unique_ptr<SettingsWindowView>(SettingsModel&)> makeSettingsWindow_;

    std::unique_ptr<ConfigFile> store_;
    std::unique_ptr<EngineControl> engine_;
    std::unique_ptr<Updates> updates_;
    std::unique_ptr<SettingsModel> settings_;
    std::unique_ptr<SettingsWindowView> settingsWindow_;
    std::unique_ptr<StatusMenuView> menu_;
    Cancellable engineRun_;
    bool runCancelled_ = false;
    bool started_ = false;
    // The three loops besides the engine's run. They are kept for the program's life: dropping a
    // subscription would end its stream.
    Subscription statuses_;
    Subscription snapshots_;
    Subscription heard_;
    std::shared_ptr<AppModel*> self_;  // what the store's answer holds weakly
};

}  // namespace tindlewave
