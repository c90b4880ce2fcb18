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
    void snapshot(const std::string& folder, std::function<void()> done) override {
        window_.snapshot(folder, std::move(done));
    }
    SettingsWindow& window() { return window_; }

  private:
    SettingsWindow window_;
};

// A permission guide that shows and writes nothing, for tests of the rest of the program.
class AbsentPermissionGuide final : public PermissionGuideView {
  public:
    void show(Permission) override {}
    void snapshot(const std::string&, std::function<void()> done) override {
        if (done) done();
    }
};

}  // namespace tindlewave
