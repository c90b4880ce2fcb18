#pragma once

#include <memory>

#include "App/AppViews.h"
#include "Settings/Views/SettingsWindow.h"

namespace tindlewave {

// The settings window as the app model asks for it.
class ShellSettingsWindow final : public SettingsWindowView {
  public:
    ShellSettingsWindow(SettingsModel& model, SettingsWindow::Services services)
        : window_(model, std::move(services)) {}

    void show() override { window_.show(); }
    // Pictures of the pages are not taken by this build: nothing is written.
    void snapshot(const std::string&, std::function<void()> done) override {
        if (done) done();
    }
    SettingsWindow& window() { return window_; }

  private:
    SettingsWindow window_;
};

// The permission guide's place until its card is built: nothing floats. (The system's grants
// read as granted here, so the program never asks for one.)
class AbsentPermissionGuide final : public PermissionGuideView {
  public:
    void show(Permission) override {}
    void snapshot(const std::string&, std::function<void()> done) override {
        if (done) done();
    }
};

}  // namespace tindlewave
