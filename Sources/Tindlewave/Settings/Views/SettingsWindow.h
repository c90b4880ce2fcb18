#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Platform/Cancellable.h"
#include "Settings/Views/GeneralTab.h"

namespace tindlewave {

class Defaults;
class Executor;
class SettingsModel;
class SettingsPage;
class SettingsTabs;
class WorkPool;

// The program's one settings window over the settings model: made on first use (each page when
// first shown), hidden (not destroyed) when closed, which stops listening. It opens on the tab the
// model keeps, stores the tab chosen, and shows the model's warnings on every page.
class SettingsWindow {
  public:
    struct Services {
        Executor& main;
        WorkPool& pool;
        Defaults& defaults;
        GeneralActions general;  // `showLog` is filled in by the window
        std::function<void()> onClosed;  // besides stopping listening
    };

    SettingsWindow(SettingsModel& model, Services services);
    ~SettingsWindow();
    SettingsWindow(const SettingsWindow&) = delete;
    SettingsWindow& operator=(const SettingsWindow&) = delete;

    // Brings the window up: the login item read again, fitted, in front, nothing focused.
    void show();
    // The window, made on first use.
    SettingsTabs& tabs();
    // Shows the window, then writes pictures of every page into `folder` (file names in
    // Settings/Model/Window/SnapshotShots.h) and runs `done`; the window stays open.
    void snapshot(const std::string& folder, std::function<void()> done);
    // Opens the log sheet over the window.
    void showLog();

  private:
    void showWarnings();
    void showWarnings(SettingsPage& page);

    SettingsModel& model_;
    Services services_;
    std::unique_ptr<SettingsTabs> tabs_;
    std::vector<SettingsPage*> pages_;
    Subscription observation_;
};

}  // namespace tindlewave
