#pragma once

#include <QObject>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "Model/Config.h"
#include "Settings/Model/Window/SettingsTab.h"

namespace tindlewave {

class SettingsModel;
class SettingsTabs;

// One run of pictures of the settings window: every page (Buttons and Scrolling once per mouse),
// light then dark, the General page also with a missing permission, and a second picture scrolled
// to the end of a page taller than the window. It waits on the event loop between steps so the
// pages settle, restores the tab, mouse and appearance at the end, then runs `done` and deletes
// itself. Failures are silent: fewer files.
class SettingsSnapshot final : public QObject {
  public:
    // Timings of the run, in milliseconds.
    struct Pace {
        int poll = 100;        // between looks for the first snapshot and status
        int polls = 50;
        int settle = 2000;     // once they are there (or not)
        int page = 800;        // after a page is selected
        int scrolled = 400;    // after a page is scrolled to its end
    };

    SettingsSnapshot(SettingsModel& model, SettingsTabs& window, std::string folder, std::function<void()> done,
                     Pace pace);
    SettingsSnapshot(SettingsModel& model, SettingsTabs& window, std::string folder, std::function<void()> done);

    void start();

  private:
    using Step = std::function<void()>;
    void after(int milliseconds, Step step);
    void next();
    void waitForData(int left);
    void plan();
    void shoot(const std::string& stem);
    void finish();

    SettingsModel& model_;
    SettingsTabs& window_;
    std::string folder_;
    std::function<void()> done_;
    Pace pace_;
    std::deque<std::pair<int, Step>> steps_;
    SettingsTab rememberedTab_ = SettingsTab::general;
    std::optional<DeviceMatch> rememberedMouse_;
};

}  // namespace tindlewave
