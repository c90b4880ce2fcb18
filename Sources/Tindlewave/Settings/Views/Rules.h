#pragma once

#include <QWidget>
#include <optional>
#include <unordered_map>

#include "Settings/Model/Edits/RuleKey.h"
#include "Settings/Model/Devices/SettingsDevice.h"

class QLabel;
class QVBoxLayout;

namespace tindlewave {

class AddRule;
class Clock;
class Explanation;
class RuleRow;
class SetUpButton;
class SettingsModel;

// The rules section of the Buttons page: the heading with the count, the set-up prompt, the note
// that there are no rules or one row per rule (kept by its rule's control and trigger across
// refreshes), and Add Rule. At most one row records a shortcut at a time.
class Rules final : public QWidget {
  public:
    Rules(SettingsModel& model, const Clock& clock, QWidget* parent = nullptr);
    ~Rules() override;

    void update(const SettingsDevice& device);

    QLabel* count() const { return count_; }
    RuleRow* row(const RuleKey& key) const;
    std::size_t rowCount() const { return rows_.size(); }
    AddRule* addRule() const { return addRule_; }
    SetUpButton* setUpButton() const { return setUp_; }
    Explanation* setUpText() const { return setUpText_; }
    Explanation* footer() const { return footer_; }

  private:
    void setRecordingShortcut(const RuleKey& key, bool on);

    SettingsModel& model_;
    std::optional<SettingsDevice> device_;
    std::optional<RuleKey> recordingShortcut_;
    QLabel* count_;
    SetUpButton* setUp_ = nullptr;
    Explanation* setUpText_;
    QLabel* empty_;
    QWidget* header_;
    QVBoxLayout* rowsLayout_;
    std::unordered_map<RuleKey, RuleRow*> rows_;
    Explanation* footer_;
    AddRule* addRule_;
};

}  // namespace tindlewave
