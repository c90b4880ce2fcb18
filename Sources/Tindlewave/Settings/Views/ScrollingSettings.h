#pragma once

#include <QWidget>
#include <array>
#include <functional>

#include "Settings/Model/Devices/SettingsDevice.h"
#include "Settings/Model/Edits/SettingsEdit.h"
#include "Settings/Model/Edits/SmoothKnob.h"

class QCheckBox;
class QPushButton;

namespace tindlewave {

class Explanation;
class FormRow;
class HoldToScrollSettings;
class KnobRow;
class SetUpButton;
class SettingsModel;
class SpeedGraph;
class StutterWarning;

// Everything of the Scrolling page below the mouse picker: smooth scrolling on or off, the speed
// curve and the three glide knobs with the stutter warning and the reset, hold-to-scroll, and the
// rows of features not offered yet. Built once and updated in place by `refresh` (which sends
// nothing), so the knobs and the graph keep what the user is doing across new snapshots.
class ScrollingSettings final : public QWidget {
  public:
    explicit ScrollingSettings(SettingsModel& model, QWidget* parent = nullptr);

    void refresh(const SettingsDevice& device);

    QCheckBox* smoothSwitch() const { return switch_; }
    SpeedGraph* graph() const { return graph_; }
    KnobRow* knob(SmoothKnob knob) const { return knobs_[std::size_t(knob)]; }
    StutterWarning* stutterWarning() const { return stutter_; }
    QPushButton* resetButton() const { return reset_; }
    HoldToScrollSettings* holdToScroll() const { return hold_; }
    // Shown only while the mouse is not set up.
    QWidget* setUp() const { return setUp_; }
    FormRow* hiResRow() const { return hiRes_; }

  private:
    // Sends while the settings can be edited; `refused` runs when the edit is refused, by the
    // store or because nothing can be saved now.
    void send(const SettingsEdit& edit, std::function<void()> refused = nullptr);
    void setUpButton(const SettingsDevice& device);

    SettingsModel& model_;
    SettingsDevice device_;
    FormRow* smoothRow_;
    QCheckBox* switch_;
    QWidget* setUp_;
    SetUpButton* setUpButton_ = nullptr;
    QWidget* block_;
    QWidget* heading_;
    SpeedGraph* graph_;
    std::array<KnobRow*, 3> knobs_{};
    StutterWarning* stutter_;
    FormRow* resetRow_;
    QPushButton* reset_;
    HoldToScrollSettings* hold_;
    FormRow* hiRes_;
};

}  // namespace tindlewave
