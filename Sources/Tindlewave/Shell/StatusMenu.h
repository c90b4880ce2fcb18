#pragma once

#include <QObject>
#include <memory>
#include <vector>

#include "App/AppViews.h"
#include "App/MenuItems.h"
#include "App/MenuPresentation.h"
#include "Runtime/LogStore.h"

class QMenu;
class QAction;
class QSystemTrayIcon;

namespace tindlewave {

class AppModel;

// The program's menu: the engine's state, the notices with their fixes, one line per configured
// device and the commands. It lives in the system tray when there is one; the menu itself can
// also hang from another button (the settings window's, without a tray). Rebuilt from the
// presentation after every status and each time it opens. Every text from the configuration or a
// device goes in with "&" doubled. Main thread only.
class StatusMenu final : public QObject, public StatusMenuView {
  public:
    // `quit` is the program's quit path; `openSettings` shows the settings window; the menu's
    // log lines go to `log`.
    StatusMenu(AppModel& model, bool useTray, std::function<void()> openSettings,
               std::function<void()> quit, LogStore& log = LogStore::shared());
    ~StatusMenu() override;

    void show(const EngineStatus& status) override;
    void rebuild();

    QMenu* menu() const { return menu_.get(); }
    QSystemTrayIcon* tray() const { return tray_; }
    const MenuPresentation& presentation() const { return presentation_; }
    // What the icon says to assistive technology (its tool tip).
    QString accessibilityLabel() const;

  private:
    void run(const MenuCommand& command);
    void updateIcon();

    AppModel& model_;
    std::function<void()> openSettings_;
    std::function<void()> quit_;
    std::unique_ptr<QMenu> menu_;
    QSystemTrayIcon* tray_ = nullptr;
    MenuPresentation presentation_;
    Logger log_;
};

// The menu-bar icon: the cursor with rays, in `color` (the text colour, or orange while the
// program needs attention).
QIcon menuBarIcon(const QColor& color);

}  // namespace tindlewave
