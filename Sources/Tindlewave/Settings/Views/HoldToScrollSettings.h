#pragma once

#include <QWidget>
#include <functional>

#include "Settings/Model/Devices/SettingsDevice.h"
#include "Settings/Model/Edits/SettingsEdit.h"

class QCheckBox;
class QComboBox;

namespace tindlewave {

class Explanation;
class KnobRow;
class SettingsModel;

// The hold-to-scroll group of the Scrolling page: which buttons scroll, the speed, the direction
// and momentum. Every edit carries all three settings. Updated in place by `refresh`, which
// sends nothing; disabled while the settings cannot be edited or the mouse is not set up.
class HoldToScrollSettings final : public QWidget {
  public:
    explicit HoldToScrollSettings(SettingsModel& model, QWidget* parent = nullptr);

    void refresh(const SettingsDevice& device);

    const Explanation* explanation() const { return explanation_; }
    KnobRow* speed() const { return speed_; }
    QComboBox* direction() const { return direction_; }
    QCheckBox* momentum() const { return momentum_; }

  private:
    // Sends while the settings can be edited; `refused` runs when the edit is refused, by the
    // store or because nothing can be saved now.
    void send(const SettingsEdit& edit, std::function<void()> refused = nullptr);

    SettingsModel& model_;
    SettingsDevice device_;
    Explanation* explanation_;
    KnobRow* speed_;
    QComboBox* direction_;
    QCheckBox* momentum_;
};

}  // namespace tindlewave
