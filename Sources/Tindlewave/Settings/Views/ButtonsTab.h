#pragma once

#include <QWidget>
#include <functional>
#include <optional>

#include "Model/Config.h"
#include "Platform/Cancellable.h"
#include "Settings/Model/Devices/StatusCard.h"

class QButtonGroup;
class QLabel;
class QPushButton;

namespace tindlewave {

class Clock;
class ConnectionDot;
class Explanation;
class FormRow;
class KnobRow;
class MousePopup;
class Rules;
class SettingsModel;
class SettingsPage;

// How the mouse shown is connected and applied, with "Re-apply" for a configured, connected one.
class StatusLine final : public QWidget {
  public:
    explicit StatusLine(QWidget* parent = nullptr);
    // `reapply` empty: no button.
    void update(const StatusCard& card, std::function<void()> reapply);
    QPushButton* reapplyButton() const { return reapply_; }
    QLabel* title() const { return title_; }

  private:
    ConnectionDot* dot_;
    QLabel* title_;
    Explanation* detail_;
    QPushButton* reapply_;
    std::function<void()> action_;
};

// The Buttons page: the mouse shown with its status, its rules, and for a set-up HID++ mouse when
// hold-and-move rules fire and after
// what distance. It keeps nothing of its own: it follows the settings model and every
// change leaves as an edit.
class ButtonsTab final : public QWidget {
  public:
    ButtonsTab(SettingsModel& model, const Clock& clock, SettingsPage& page);
    ~ButtonsTab() override;

    void refresh();

    MousePopup* mousePopup() const { return popup_; }
    StatusLine* statusLine() const { return status_; }
    Rules* rules() const { return rules_; }
    QWidget* gestures() const { return gestures_; }
    QButtonGroup* firePicker() const { return fire_; }
    KnobRow* distanceKnob() const { return distance_; }

  private:
    SettingsModel& model_;
    SettingsPage& page_;
    FormRow* noMouse_;
    QWidget* mouse_;
    MousePopup* popup_;
    StatusLine* status_;
    Rules* rules_;
    QWidget* gestures_;
    QButtonGroup* fire_;
    KnobRow* distance_;
    std::optional<DeviceMatch> knobMouse_;  // whose distance the knob shows
    Subscription observation_;
};

}  // namespace tindlewave
