#pragma once

#include <QComboBox>
#include <QToolButton>
#include <vector>

#include "Model/Config.h"
#include "Settings/Model/Edits/ProfileSource.h"
#include "Settings/Model/Devices/SettingsDevice.h"

namespace tindlewave {

class SettingsModel;

// The mouse picker of the Buttons and Scrolling pages: the model's mice by name (" (New)" for one
// not set up), showing the selected mouse; choosing one sets the model's mouse. `refresh` updates
// it in place without sending anything.
class MousePopup final : public QComboBox {
  public:
    explicit MousePopup(SettingsModel& model, QWidget* parent = nullptr);
    void refresh();

  private:
    SettingsModel& model_;
    std::vector<DeviceMatch> matches_;
};

// Sets a new device up: a click uses the suggested source, the menu (when there are other
// sources) offers the others with their help texts. Nothing shows without a configuration; a
// choice made while the file has an error is dropped.
class SetUpButton final : public QToolButton {
  public:
    SetUpButton(SettingsModel& model, SettingsDevice device, QWidget* parent = nullptr);
    void refresh(const SettingsDevice& device);

  private:
    void setUp(const ProfileSource& source);

    SettingsModel& model_;
    SettingsDevice device_;
    ProfileSource suggested_ = ProfileSource::blank();
};

}  // namespace tindlewave
