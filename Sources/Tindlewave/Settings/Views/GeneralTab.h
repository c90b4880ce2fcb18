#pragma once

#include <QWidget>
#include <functional>
#include <string>

#include "Model/EngineStatus.h"
#include "Platform/Cancellable.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace tindlewave {

class Explanation;
class FormRow;
class SettingsModel;
class SettingsPage;

// What the General page does outside the settings model: the desktop's handlers and the log.
struct GeneralActions {
    std::function<void(Permission)> allow;  // ask where the world can, then guide the user
    std::function<void(const std::string& url)> open;
    std::function<void(const std::string& path)> reveal;
    std::function<void()> showLog;
};

// The General page: start at login, the two permissions (with the how-to while one is missing),
// the config file, the log and, when an updater runs, the update settings. It sends no edit;
// its widgets are updated in place from the settings model, with their signals blocked.
class GeneralTab final : public QWidget {
  public:
    GeneralTab(SettingsModel& model, GeneralActions actions, SettingsPage& page);
    ~GeneralTab() override;

    // Brings every row up to date with the model.
    void refresh();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    struct PermissionWidgets {
        FormRow* row;
        QLabel* mark;  // the check mark before "Granted"
        QLabel* state;
        QPushButton* button;
    };
    PermissionWidgets permissionRow(const char* label, const char* detail, Permission permission);
    void buildUpdates();

    SettingsModel& model_;
    GeneralActions actions_;
    SettingsPage& page_;
    QCheckBox* loginSwitch_;
    QPushButton* loginItems_;
    FormRow* startup_;
    QWidget* howTo_;
    QLabel* howToFirst_;  // the first step, which names the uinput module while it is missing
    QLabel* howToLast_;   // the last step, which names the grants left
    PermissionWidgets accessibility_;
    PermissionWidgets inputMonitoring_;
    Explanation* loadDetail_;
    QWidget* updatesDivider_ = nullptr;
    FormRow* updates_ = nullptr;
    QCheckBox* autoCheck_ = nullptr;
    QCheckBox* autoDownload_ = nullptr;
    QCheckBox* beta_ = nullptr;
    QPushButton* checkNow_ = nullptr;
    QWidget* newer_ = nullptr;  // a newer version's line, shown while there is one
    QLabel* newerVersion_ = nullptr;
    QPushButton* downloadPage_ = nullptr;
    Subscription observation_;
    Subscription updatesObservation_;
};

}  // namespace tindlewave
