#pragma once

#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Model/EngineStatus.h"
#include "Model/Rule.h"
#include "Settings/Model/Buttons/RuleChoices.h"
#include "Settings/Model/Buttons/RuleRowValues.h"

class QActionGroup;
class QComboBox;
class QLabel;
class QMenu;
class QToolButton;
class QVariantAnimation;

namespace tindlewave {

class RecorderField;
class ShortcutField;

// One rule of the Buttons page in three columns, Button, When and Do, with its mark and a remove
// button. Every change leaves as one new rule or a removal; the row is updated in place (its
// pickers send nothing while they are brought up to date).
class RuleRow final : public QWidget {
  public:
    struct Input {
        Rule rule;
        RuleChoices choices;
        bool skipped = false;
        std::optional<std::string> explanation;
        bool highlighted = false;
        std::optional<ListenStatus> listen;  // only while this row's button is listened for
        std::optional<std::string> cannotListen;
        std::string device;
        bool recordingShortcut = false;
    };
    struct Actions {
        std::function<void()> startListening;
        std::function<void()> stopListening;
        std::function<void(const Rule&)> replace;
        std::function<void()> remove;
        std::function<void(bool)> setRecordingShortcut;
    };

    RuleRow(Input input, Actions actions, QWidget* parent = nullptr);
    ~RuleRow() override;

    void update(Input input);
    const Input& input() const { return input_; }

    RecorderField* buttonField() const { return buttonField_; }
    QToolButton* chevron() const { return chevron_; }
    // The chevron's menu of controls.
    QMenu* controlMenu() const { return controlMenu_; }
    QComboBox* whenPicker() const { return when_; }
    QComboBox* doPicker() const { return do_; }
    QLabel* mark() const { return mark_; }
    QToolButton* removeButton() const { return remove_; }
    ShortcutField* shortcutField() const { return shortcut_; }
    double highlight() const { return highlight_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    RuleRowValues values() const { return {input_.rule, input_.choices, input_.listen}; }
    void refresh(bool highlightChanged);
    void fillPickers();
    void showRuleAction();
    void change(const Rule& rule);
    void pickControl(const Control& control);
    void pickTrigger(int index);
    void pickAction(int index);

    Input input_;
    Actions actions_;
    RecorderField* buttonField_;
    QWidget* buttonColumn_;
    QToolButton* chevron_;
    QMenu* controlMenu_;
    QActionGroup* controlGroup_ = nullptr;
    QComboBox* when_;
    QComboBox* do_;
    QLabel* mark_;
    QToolButton* remove_;
    ShortcutField* shortcut_ = nullptr;
    std::vector<Control> controls_;
    std::vector<Trigger> triggers_;
    std::vector<ActionChoice> actionChoices_;
    double highlight_ = 0;
    QVariantAnimation* highlightAnimation_;
};

}  // namespace tindlewave
