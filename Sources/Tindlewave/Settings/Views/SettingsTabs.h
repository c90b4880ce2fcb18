#pragma once

#include <QWidget>
#include <array>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include "Settings/Model/Window/SettingsTab.h"
#include "Settings/Model/Window/WindowFitMachine.h"

class QActionGroup;
class QStackedWidget;
class QTimer;
class QToolBar;
class QVariantAnimation;

namespace tindlewave {

class Defaults;
class PageFit;
class WorkPool;

// The settings window itself: a tool bar of the five tabs above a stack of pages. The user cannot
// resize it: its height follows the selected page's measured size, growing or shrinking in 0.18 s
// while it keeps its left and top edges, staying on the screen's available area, and letting a
// page that cannot fit scroll. Size changes within one turn of the event loop lead to one fit.
// From the keyboard, Ctrl+Tab and Ctrl+PageDown go to the next page, Ctrl+Shift+Tab and
// Ctrl+PageUp to the previous one, wrapping around; the selected page's button is in the Tab
// order (one stop for the row, as a tab bar is), and the arrow keys, Home and End on it choose
// another page, Space and Enter the one it shows.
// Its frame is kept in the defaults under "TindlewavePreferences": written once the window has
// kept a frame for `frameSettle` (a first show fits it twice), on `writer` when there is one (the
// write syncs the file), and at once when the window closes. Main thread only.
class SettingsTabs final : public QWidget {
  public:
    // Makes the page of a tab; the page reports its size to `fit`. Kept by the window, which makes
    // the first page at once and each other page when it is first needed.
    using PageFactory = std::function<QWidget*(SettingsTab tab, PageFit& fit)>;
    static constexpr const char* frameKey = "TindlewavePreferences";

    static constexpr std::chrono::milliseconds frameSettle{1000};

    SettingsTabs(SettingsTab selected, const PageFactory& makePage, Defaults* defaults,
                 QWidget* parent = nullptr, WorkPool* writer = nullptr);
    ~SettingsTabs() override;

    // The user chose a tab (also when chosen again); the window closed.
    std::function<void(SettingsTab)> onSelected;
    std::function<void()> onClosed;
    // Extra tool-bar widgets at the right end (the menu button when there is no tray).
    QToolBar* toolBar() const { return toolBar_; }

    SettingsTab selected() const { return selected_; }
    void select(SettingsTab tab);
    // The page `steps` away from the selected one, wrapping around, as the keyboard chooses it:
    // the focus goes to its button unless a control keeps it.
    void selectBeside(int steps);
    // The tool-bar button of a tab's page.
    QWidget* pageButton(SettingsTab tab) const;
    // A tab's page, made on first use (the window makes only its first page at once).
    QWidget* page(SettingsTab tab);
    bool isPageMade(SettingsTab tab) const;
    PageFit& fit(SettingsTab tab) const;
    bool isPageShown(SettingsTab tab) const;
    bool isAnimating() const;

    // Sizes the window to the selected page now; asks for one animated fit on the next turn.
    void fitWindow(bool animated);
    void fitSoon();
    // Brings the window up: fitted without animation, in front (not minimized), with no control
    // focused.
    void present();

  protected:
    void closeEvent(QCloseEvent* event) override;
    // The tab icons follow the window's palette, also when it changes while the window is open.
    void changeEvent(QEvent* event) override;
    // The keys on the page buttons.
    bool eventFilter(QObject* watched, QEvent* event) override;
    // A window manager's frame that comes after the fit (X11's) is fitted to as well.
    void moveEvent(QMoveEvent* event) override;

  private:
    void tintTabIcons();
    void takeTabStop();
    void resized(SettingsTab tab, bool replaced);
    void setPageShown(SettingsTab tab, bool shown);
    void applyFrame(const ScreenRect& frame);
    // Asks for the frame to be written once it has settled.
    void saveFrame();
    void writeFrame(bool now);
    std::optional<QRect> savedFrame() const;
    struct Target;
    Target target() const;
    // What the window manager adds around the window (nothing while it is not known).
    FrameMargins decoration() const;

    PageFactory makePage_;
    std::array<bool, 5> made_{};
    Defaults* defaults_;
    SettingsTab selected_;
    QToolBar* toolBar_;
    QActionGroup* actions_;
    QStackedWidget* stack_;
    std::array<std::unique_ptr<PageFit>, 5> fits_;
    WindowFitMachine machine_;
    FrameMargins fittedDecoration_;  // the decoration the last fit counted with
    QTimer* nextFit_;
    QVariantAnimation* animation_;
    WorkPool* writer_;
    QTimer* frameSettled_;
    std::string frameWritten_;           // the frame text the defaults hold, as far as known
    std::future<void> writing_;          // the last write handed to `writer_`
};


}  // namespace tindlewave
