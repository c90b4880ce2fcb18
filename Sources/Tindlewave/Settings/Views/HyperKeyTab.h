#pragma once

#include <QWidget>
#include <vector>

#include "Model/Keys.h"
#include "Platform/Cancellable.h"
#include "Settings/Model/Devices/SettingsDevice.h"

class QCheckBox;
class QComboBox;

namespace tindlewave {

class Explanation;
class SettingsModel;
class SettingsPage;

// One keyboard on the Hyper Key page: its switch, named by the device, and its status line.
class KeyboardToggle final : public QWidget {
  public:
    KeyboardToggle(SettingsModel& model, const SettingsDevice& keyboard, QWidget* parent = nullptr);
    void refresh(const SettingsDevice& keyboard);
    const SettingsDevice& keyboard() const { return keyboard_; }
    QCheckBox* box() const { return box_; }
    Explanation* detail() const { return detail_; }

  private:
    SettingsModel& model_;
    SettingsDevice keyboard_;
    QCheckBox* box_;
    Explanation* detail_;
};

// The Hyper Key page: the master switch, the key, what holding and tapping it do, one switch per
// keyboard with its status line, and how it works. Nothing shows without a configuration. Edits
// go out only from the user's clicks and choices, and only while the model is editable.
class HyperKeyTab final : public QWidget {
  public:
    HyperKeyTab(SettingsModel& model, SettingsPage& page);
    ~HyperKeyTab() override;

    void refresh();

    QCheckBox* masterSwitch() const { return master_; }
    QComboBox* keyPicker() const { return key_; }
    QWidget* group() const { return group_; }
    const std::vector<KeyboardToggle*>& keyboards() const { return keyboards_; }

  private:
    void refreshKeyboards();

    SettingsModel& model_;
    QWidget* body_;
    QWidget* editableColumn_;
    QCheckBox* master_;
    QWidget* group_;
    QComboBox* key_;
    std::vector<HIDUsage> keysShown_;
    QWidget* keyboardList_;
    std::vector<KeyboardToggle*> keyboards_;
    Subscription observation_;
};

}  // namespace tindlewave
