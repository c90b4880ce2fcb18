#pragma once

#include <QWidget>
#include <vector>

#include "Platform/Cancellable.h"
#include "Settings/Model/Edits/IgnoredDevice.h"

class QLabel;
class QVBoxLayout;

namespace tindlewave {

class DeviceList;
class FormRow;
class SettingsModel;
class SettingsPage;

// The Devices page: every mouse and keyboard the configuration knows or the engine has seen.
// Configured devices are renamed, given a kind or forgotten; new ones are set up or ignored; the
// ignored ones can be listed again. Rows are kept by match and updated in place; each edit is
// sent only while the model is editable.
class DevicesTab final : public QWidget {
  public:
    DevicesTab(SettingsModel& model, SettingsPage& page);
    ~DevicesTab() override;

    // Brings every row up to date with the model.
    void refresh();

    DeviceList* mice() const { return mice_; }
    DeviceList* keyboards() const { return keyboards_; }

  private:
    void refreshIgnored();

    SettingsModel& model_;
    DeviceList* mice_;
    DeviceList* keyboards_;
    QWidget* ignoredDivider_;
    FormRow* ignoredRow_;
    QVBoxLayout* ignoredLines_;
    std::vector<IgnoredDevice> ignoredShown_;
    Subscription observation_;
};

}  // namespace tindlewave
