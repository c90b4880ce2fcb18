#pragma once

#include <QWidget>

#include "Platform/Cancellable.h"

namespace tindlewave {

class FormRow;
class MousePopup;
class ScrollingSettings;
class SettingsModel;
class SettingsPage;

// The Scrolling page: the mouse picker and the chosen mouse's scrolling settings, or the row that
// says no mouse is known. It follows the settings model, refreshing in place once per turn of the
// event loop, and tells the page which mouse it shows.
class ScrollingTab final : public QWidget {
  public:
    ScrollingTab(SettingsModel& model, SettingsPage& page);
    ~ScrollingTab() override;

    void refresh();

    FormRow* noMouse() const { return noMouse_; }
    MousePopup* mousePopup() const { return popup_; }
    ScrollingSettings* settings() const { return settings_; }

  private:
    SettingsModel& model_;
    SettingsPage& page_;
    FormRow* noMouse_;
    QWidget* deviceRows_;
    MousePopup* popup_;
    ScrollingSettings* settings_;
    Subscription observation_;
};

}  // namespace tindlewave
