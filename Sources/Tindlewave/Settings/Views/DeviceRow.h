#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

#include "Settings/Model/Devices/SettingsDevice.h"
#include "Settings/Model/Edits/SettingsEdit.h"

class QComboBox;
class QLabel;
class QMessageBox;
class QPushButton;
class QVBoxLayout;

namespace tindlewave {

class ConnectionDot;
class Explanation;
class NameField;
class SetUpButton;
class SettingsModel;

// One device on the Devices page. A configured device has its name field, kind picker and
// "Forget…"; a new one its name, the "New" badge, the set-up button and "Ignore". Below both,
// the status card. Updated in place; a row whose device changes between new and configured is
// made again by its list.
class DeviceRow final : public QWidget {
  public:
    DeviceRow(SettingsModel& model, const SettingsDevice& device, QWidget* parent = nullptr);

    void refresh(const SettingsDevice& device, bool paused);
    const SettingsDevice& device() const { return device_; }
    // The kind picker of a configured device; none for a new one.
    QComboBox* kindPicker() const { return kind_; }
    // The open forget confirmation, if any.
    QMessageBox* confirmation() const;

  private:
    void confirmForget();
    // Sends while the settings can be edited; `refused` runs when the edit is refused, by the
    // store or because nothing can be saved now.
    void send(SettingsEdit edit, std::function<void()> refused = nullptr);

    SettingsModel& model_;
    SettingsDevice device_;
    ConnectionDot* dot_;
    NameField* name_ = nullptr;
    QComboBox* kind_ = nullptr;
    QLabel* newName_ = nullptr;
    Explanation* card_;
    SetUpButton* setUp_ = nullptr;
    // Weak: the box is a child that may outlive neither the row nor its own close, and a handler
    // on its destruction would run while the row itself is being destroyed.
    QPointer<QMessageBox> confirmation_;
};

// The rows of one kind of device, in the model's order, or the `none` text when there is none.
class DeviceList final : public QWidget {
  public:
    DeviceList(SettingsModel& model, const QString& none, QWidget* parent = nullptr);

    void refresh(const std::vector<SettingsDevice>& devices, bool paused);
    const std::vector<DeviceRow*>& rows() const { return rows_; }
    QLabel* none() const { return none_; }

  private:
    SettingsModel& model_;
    QLabel* none_;
    QVBoxLayout* layout_;
    std::vector<DeviceRow*> rows_;  // in the order shown
};

}  // namespace tindlewave
