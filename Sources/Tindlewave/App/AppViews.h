#pragma once

#include <functional>
#include <string>

#include "Model/EngineStatus.h"

namespace tindlewave {

// The status-bar menu, as the app model feeds it.
class StatusMenuView {
  public:
    virtual ~StatusMenuView() = default;
    // Every engine status, before the settings model sees it.
    virtual void show(const EngineStatus& status) = 0;
};

// The settings window, made on first use.
class SettingsWindowView {
  public:
    virtual ~SettingsWindowView() = default;
    virtual void show() = 0;
    // Writes pictures of every settings page into `folder`, then runs `done`.
    virtual void snapshot(const std::string& folder, std::function<void()> done) = 0;
};

// The floating card that guides the user to a permission; one for the program.
class PermissionGuideView {
  public:
    virtual ~PermissionGuideView() = default;
    virtual void show(Permission permission) = 0;
    // Writes pictures of the card into `folder`, then runs `done`.
    virtual void snapshot(const std::string& folder, std::function<void()> done) = 0;
};

}  // namespace tindlewave
