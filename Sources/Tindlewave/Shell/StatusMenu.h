#pragma once

#include <QObject>
#include <QPointer>
#include <memory>
#include <vector>

#include "App/AppViews.h"
#include "App/MenuItems.h"
#include "App/MenuPresentation.h"
#include "Runtime/Stores/LogStore.h"

class QMenu;
class QAction;
class QSystemTrayIcon;
class QToolBar;
class QToolButton;

namespace tindlewave {

class AppModel;

// The program's menu: the engine's state, the notices with their fixes, one line per configured
// device and the commands. It lives in the system tray when there is one; the menu itself can
// also hang from a button (the settings window's, without a tray), which shows the state the tray
// icon would: orange and "needs attention" while the program needs it. Rebuilt from the
// presentation after every status that changes its items, and each time it opens. Every text
// from the configuration or a device goes in with "&" doubled. Main thread only.
class StatusMenu final : public QObject, public StatusMenuView {
  public:
    // `quit` is the program's quit path; `openSettings` shows the settings window; the menu's
    // log lines go to `log`.
    StatusMenu(AppModel& model, bool useTray, std::function<void()> openSettings,
               std::function<void()> quit, LogStore& log = LogStore::shared());
    ~StatusMenu() override;

    void show(const EngineStatus& status) override;
    // Replaces every item, changed or not.
    void rebuild();

    QMenu* menu() const { return menu_.get(); }
    QSystemTrayIcon* tray() const { return tray_; }
    // Hangs the menu from a button at the right end of `bar` (once), out of the tray if it was there
    // (the tray went away); the button's icon follows the bar's palette.
    void hangFrom(QToolBar* bar);
    QToolButton* button() const;
    // Moves the menu into the system tray (one appeared after the start, or came back): the tray
    // icon shows and the button, if any, goes.
    void moveToTray();
    const MenuPresentation& presentation() const { return presentation_; }
    // What the icon says to assistive technology (its tool tip).
    QString accessibilityLabel() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void run(const MenuCommand& command);
    void updateIcon();
    std::vector<MenuItem> buildItems() const;
    void place(std::vector<MenuItem> items);
    // Keeps the menu within the free area of the screen it opens on: rows too wide for it are cut
    // short with "…", their whole texts in their tool tips.
    void fitToScreen();

    AppModel& model_;
    std::function<void()> openSettings_;
    std::function<void()> quit_;
    std::unique_ptr<QMenu> menu_;
    QSystemTrayIcon* tray_ = nullptr;
    QPointer<QToolButton> button_;
    QObject* watched_ = nullptr;  // the button whose palette changes are followed, as an object
                                  // (it may be a half-destroyed widget when an event comes)
    QPointer<QAction> buttonAction_;  // the button's and the spacer's place in the tool bar
    QPointer<QAction> spacerAction_;
    MenuPresentation presentation_;
    std::vector<MenuItem> placed_;  // what the menu holds
    Logger log_;
};

// The menu-bar icon: the cursor with rays, in `color` (the text colour, or orange while the
// program needs attention).
QIcon menuBarIcon(const QColor& color);

}  // namespace tindlewave
