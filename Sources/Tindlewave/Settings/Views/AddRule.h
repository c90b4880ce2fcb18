#pragma once

#include <QWidget>
#include <optional>
#include <string>
#include <vector>

#include "Model/Date.h"
#include "Model/Rule.h"
#include "Settings/Model/Buttons/LearnNote.h"
#include "Settings/Model/Devices/SettingsDevice.h"

class QMenu;
class QTimer;
class QToolButton;

namespace tindlewave {

class Clock;
class Explanation;
class RecorderField;
class SettingsModel;

// The countdown shown while the engine gets a mouse ready and listens for a new rule's button:
// a recording field with the prompt and the seconds left, ticking every second from its creation.
class ListenRow final : public QWidget {
  public:
    struct Input {
        std::string device;
        bool thumbWheel = false;
        bool ready = false;
        Date until{};
        bool operator==(const Input&) const = default;
    };
    ListenRow(Input input, const Clock& clock, std::function<void()> cancel, QWidget* parent = nullptr);

    void update(const Input& input);
    void tick();
    RecorderField* field() const { return field_; }

  private:
    Input input_;
    const Clock& clock_;
    RecorderField* field_;
    QTimer* timer_;
};

// Add Rule under the rules of a set-up mouse: a click listens for a press (when listening can
// start), its menu picks a control instead; while the engine listens for a new rule the countdown
// takes its place. The line under it says what is going on.
class AddRule final : public QWidget {
  public:
    struct Input {
        SettingsDevice device;
        std::vector<Control> controls;
        bool thumbWheel = false;
        std::optional<LearnNote> note;
        std::string footer;
    };
    AddRule(SettingsModel& model, const Clock& clock, QWidget* parent = nullptr);

    void update(Input input);

    QToolButton* button() const { return button_; }
    QMenu* menu() const { return menu_; }
    ListenRow* listenRow() const { return listenRow_; }
    Explanation* status() const { return status_; }

  private:
    void fillMenu();

    SettingsModel& model_;
    const Clock& clock_;
    std::optional<Input> input_;
    QToolButton* button_;
    QMenu* menu_;
    ListenRow* listenRow_ = nullptr;
    Explanation* status_;
    QWidget* group_;
};

}  // namespace tindlewave
