#include <gtest/gtest.h>

#include <QApplication>
#include <filesystem>
#include <optional>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QTest>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWindow>

#include "Runtime/Stores/Defaults.h"
#include "Runtime/Executors/WorkPool.h"
#include "Settings/Model/Window/PageFit.h"
#include "Settings/Views/SettingsPage.h"
#include "Settings/Views/SettingsTabs.h"
#include "TestKit/TempFolder.h"

namespace tindlewave {
namespace {

// Pages of fixed heights, with a text field on each so that focus can be checked.
struct Tabs {
    testkit::TempFolder folder;
    Defaults defaults{folder.path() / "defaults.json"};
    std::map<SettingsTab, QWidget*> fillers;
    std::vector<SettingsTab> chosen;
    std::vector<SettingsTab> made;
    int closed = 0;
    std::unique_ptr<SettingsTabs> window;

    explicit Tabs(SettingsTab selected, std::map<SettingsTab, int> heights = {}) {
        window = std::make_unique<SettingsTabs>(
            selected,
            [this, heights](SettingsTab tab, PageFit& fit) {
                made.push_back(tab);
                auto* page = new SettingsPage(&fit, nullptr);
                page->content()->addWidget(new QLineEdit);
                auto* filler = new QWidget;
                filler->setFixedHeight(heights.contains(tab) ? heights.at(tab) : 200);
                fillers[tab] = filler;
                page->content()->addWidget(filler);
                return page;
            },
            &defaults);
        window->onSelected = [this](SettingsTab tab) { chosen.push_back(tab); };
        window->onClosed = [this] { ++closed; };
    }

    double pageHeight(SettingsTab tab) { return window->fit(tab).size()->height; }
    int toolBarHeight() { return window->toolBar()->sizeHint().height(); }
};

TEST(SettingsTabs, OpensOnTheGivenTabFittedAndWithNothingFocused) {
    Tabs tabs(SettingsTab::scrolling);
    tabs.window->present();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(tabs.window.get()));
    EXPECT_EQ(tabs.window->selected(), SettingsTab::scrolling);
    EXPECT_EQ(tabs.window->windowTitle(), "Scrolling \u2014 Tindlewave");
    EXPECT_EQ(tabs.window->height(), int(tabs.pageHeight(SettingsTab::scrolling)) + tabs.toolBarHeight());
    QApplication::processEvents();
    QWidget* focused = QApplication::focusWidget();
    EXPECT_TRUE(focused == nullptr || focused == tabs.window.get());
    EXPECT_TRUE(tabs.window->isPageShown(SettingsTab::scrolling));
    // Brought up again from the minimized state (a second start of the program asks so).
    tabs.window->showMinimized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return tabs.window->isMinimized(); }, 5000));
    tabs.window->present();
    EXPECT_FALSE(tabs.window->isMinimized());
}

TEST(SettingsTabs, GrowsToATallerTabWithThePageHiddenUntilTheAnimationEnds) {
    Tabs tabs(SettingsTab::general, {{SettingsTab::general, 100}, {SettingsTab::devices, 400}});
    tabs.window->present();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(tabs.window.get()));
    const QPoint topLeft = tabs.window->frameGeometry().topLeft();
    tabs.window->select(SettingsTab::devices);
    EXPECT_EQ(tabs.chosen, (std::vector<SettingsTab>{SettingsTab::devices}));
    EXPECT_FALSE(tabs.window->isPageShown(SettingsTab::devices));
    ASSERT_TRUE(QTest::qWaitFor([&] { return tabs.window->isAnimating(); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tabs.window->isAnimating(); }, 5000));
    EXPECT_TRUE(tabs.window->isPageShown(SettingsTab::devices));
    EXPECT_EQ(tabs.window->height(), int(tabs.pageHeight(SettingsTab::devices)) + tabs.toolBarHeight());
    EXPECT_EQ(tabs.window->frameGeometry().topLeft(), topLeft);
    EXPECT_EQ(tabs.window->windowTitle(), "Devices \u2014 Tindlewave");
}

TEST(SettingsTabs, CoalescesSizeChangesIntoOneAnimation) {
    Tabs tabs(SettingsTab::general, {{SettingsTab::general, 100}});
    tabs.window->present();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(tabs.window.get()));
    int animations = 0;
    tabs.fillers[SettingsTab::general]->setFixedHeight(150);
    tabs.fillers[SettingsTab::general]->setFixedHeight(250);
    ASSERT_TRUE(QTest::qWaitFor([&] {
        if (tabs.window->isAnimating()) animations = 1;
        return animations == 1 && !tabs.window->isAnimating();
    }, 5000));
    EXPECT_EQ(tabs.window->height(), int(tabs.pageHeight(SettingsTab::general)) + tabs.toolBarHeight());
    EXPECT_GE(tabs.pageHeight(SettingsTab::general), 290);
}

TEST(SettingsTabs, CapsAPageTallerThanTheScreenAndLetsItScroll) {
    Tabs tabs(SettingsTab::buttons, {{SettingsTab::buttons, 3000}});
    tabs.window->present();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(tabs.window.get()));
    const QRect available = tabs.window->screen()->availableGeometry();
    EXPECT_EQ(tabs.window->frameGeometry().height(), available.height());
    EXPECT_EQ(tabs.window->frameGeometry().bottom(), available.bottom());
    EXPECT_TRUE(tabs.window->fit(SettingsTab::buttons).scrolls());
    // The window keeps its width: the page's content gives up the scroll bar's room.
    EXPECT_EQ(tabs.window->page(SettingsTab::buttons)->width(), SettingsPage::pageWidth);
    EXPECT_EQ(tabs.window->width(), SettingsPage::pageWidth);

    // An X11 window manager frames a window only after it shows, moving it: the window fits the
    // free area again, frame and all (offscreen, a window that loses its frameless flag gets a
    // frame at its next move).
    Tabs late(SettingsTab::buttons, {{SettingsTab::buttons, 3000}});
    late.window->setWindowFlag(Qt::FramelessWindowHint);
    late.window->present();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(late.window.get()));
    ASSERT_EQ(late.window->frameGeometry(), late.window->geometry());
    QWindow* handle = late.window->windowHandle();
    handle->setFlags(handle->flags() & ~Qt::FramelessWindowHint);
    handle->setFramePosition(handle->framePosition());
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return late.window->frameGeometry() != late.window->geometry(); }));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return !late.window->isAnimating() &&
                   late.window->frameGeometry().height() == available.height();
        },
        5000));
    EXPECT_TRUE(available.contains(late.window->frameGeometry()))
        << late.window->frameGeometry().bottom();
}

TEST(SettingsTabs, ClosingHidesTheWindowAndTellsTheOwnerAndTheFrameIsKept) {
    Tabs tabs(SettingsTab::general);
    tabs.window->present();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(tabs.window.get()));
    tabs.window->move(100, 120);
    tabs.window->close();
    EXPECT_EQ(tabs.closed, 1);
    EXPECT_FALSE(tabs.window->isVisible());
    ASSERT_TRUE(tabs.defaults.string(SettingsTabs::frameKey));
    // A window made later (as after a relaunch) keeps that position.
    Defaults reread(tabs.defaults.file());
    SettingsTabs restored(SettingsTab::general, [](SettingsTab, PageFit& fit) {
        return new SettingsPage(&fit, nullptr);
    }, &reread);
    restored.present();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&restored));
    EXPECT_EQ(restored.frameGeometry().topLeft(), QPoint(100, 120));
}

// The keyboard alone chooses the pages: Ctrl+Tab and Ctrl+PageDown the next, Ctrl+Shift+Tab and
// Ctrl+PageUp the previous, wrapping around, from wherever the focus is; the selected page's button
// is the row's one Tab stop, and on it the arrows, Home and End choose pages, Space and Enter the
// one it shows.
TEST(SettingsTabs, ThePagesAreChosenAndReachedFromTheKeyboard) {
    Tabs tabs(SettingsTab::general);
    tabs.window->present();
    ASSERT_TRUE(QTest::qWaitForWindowActive(tabs.window.get()));
    auto press = [&](Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* focused = QApplication::focusWidget();
        QTest::keyClick(focused ? focused : tabs.window.get(), key, modifiers);
    };
    auto focusedButton = [&]() -> std::optional<SettingsTab> {
        for (SettingsTab tab : allCases<SettingsTab>())
            if (tabs.window->pageButton(tab)->hasFocus()) return tab;
        return std::nullopt;
    };
    const auto ctrl = Qt::ControlModifier;
    press(Qt::Key_Tab, ctrl);
    EXPECT_EQ(tabs.window->selected(), SettingsTab::hyperKey);
    press(Qt::Key_PageDown, ctrl);
    EXPECT_EQ(tabs.window->selected(), SettingsTab::buttons);
    press(Qt::Key_Backtab, ctrl | Qt::ShiftModifier);  // Shift+Tab as X11 sends it
    EXPECT_EQ(tabs.window->selected(), SettingsTab::hyperKey);
    press(Qt::Key_Tab, ctrl | Qt::ShiftModifier);
    EXPECT_EQ(tabs.window->selected(), SettingsTab::general);
    press(Qt::Key_PageUp, ctrl);
    EXPECT_EQ(tabs.window->selected(), SettingsTab::devices);
    press(Qt::Key_PageDown, ctrl);
    EXPECT_EQ(tabs.window->selected(), SettingsTab::general);
    EXPECT_EQ(focusedButton(), SettingsTab::general);  // the switch left no control focused
    EXPECT_TRUE(tabs.window->testAttribute(Qt::WA_KeyboardFocusChange));  // its focus frame drawn

    // Tab leaves the row for the page, and Shift+Tab comes back to the selected page's button.
    press(Qt::Key_Tab);
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    EXPECT_TRUE(tabs.window->page(SettingsTab::general)->isAncestorOf(QApplication::focusWidget()));
    press(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(focusedButton(), SettingsTab::general);
    for (SettingsTab tab : allCases<SettingsTab>())
        EXPECT_EQ(tabs.window->pageButton(tab)->focusPolicy(), tab == SettingsTab::general ? Qt::TabFocus : Qt::NoFocus);

    press(Qt::Key_Right);
    EXPECT_EQ(tabs.window->selected(), SettingsTab::hyperKey);
    EXPECT_EQ(focusedButton(), SettingsTab::hyperKey);
    press(Qt::Key_Down);
    press(Qt::Key_Left);
    press(Qt::Key_Up);
    EXPECT_EQ(tabs.window->selected(), SettingsTab::general);
    press(Qt::Key_Left);
    EXPECT_EQ(tabs.window->selected(), SettingsTab::devices);
    press(Qt::Key_Home);
    EXPECT_EQ(tabs.window->selected(), SettingsTab::general);
    press(Qt::Key_End);
    EXPECT_EQ(tabs.window->selected(), SettingsTab::devices);
    EXPECT_EQ(focusedButton(), SettingsTab::devices);
    tabs.chosen.clear();
    press(Qt::Key_Space);
    press(Qt::Key_Return);
    EXPECT_EQ(tabs.chosen, (std::vector<SettingsTab>{SettingsTab::devices, SettingsTab::devices}));
    EXPECT_EQ(focusedButton(), SettingsTab::devices);

    // From a control on the page, the shortcuts switch too; the focus goes to the new page's button.
    QWidget* field = tabs.window->page(SettingsTab::devices)->findChild<QLineEdit*>();
    field->setFocus(Qt::TabFocusReason);
    press(Qt::Key_PageDown, ctrl);
    EXPECT_EQ(tabs.window->selected(), SettingsTab::general);
    EXPECT_EQ(focusedButton(), SettingsTab::general);
}

// Work handed to the pool, run when the test says.
struct HeldPool final : WorkPool {
    void submit(Work work) override { held.push_back(std::move(work)); }
    std::vector<Work> held;
};

// A first show fits the window twice; the frame is written once, after it settled, off the GUI
// thread; a frame that settles again unchanged is not written again.
TEST(SettingsTabs, TheFrameIsWrittenOnceAfterTheWindowSettlesOnTheWriter) {
    testkit::TempFolder folder;
    Defaults defaults(folder.path() / "defaults.json");
    HeldPool pool;
    SettingsTabs window(SettingsTab::general, [](SettingsTab, PageFit& fit) { return new SettingsPage(&fit, nullptr); },
                        &defaults, nullptr, &pool);
    window.present();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(100);
    EXPECT_TRUE(pool.held.empty());
    EXPECT_FALSE(std::filesystem::exists(defaults.file()));

    ASSERT_TRUE(QTest::qWaitFor([&] { return !pool.held.empty(); }, 5000));
    QTest::qWait(int(SettingsTabs::frameSettle.count()) + 200);
    ASSERT_EQ(pool.held.size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(defaults.file()));
    pool.held[0]();
    const QRect frame = window.frameGeometry();
    EXPECT_EQ(Defaults(defaults.file()).string(SettingsTabs::frameKey),
              QString("%1 %2 %3 %4").arg(frame.x()).arg(frame.y()).arg(frame.width()).arg(frame.height()).toStdString());

    window.fitWindow(false);  // the same frame again
    QTest::qWait(int(SettingsTabs::frameSettle.count()) + 200);
    EXPECT_EQ(pool.held.size(), 1u);
}

TEST(SettingsTabs, MakesEachPageOnceWhenFirstNeeded) {
    Tabs tabs(SettingsTab::devices, {{SettingsTab::devices, 100}, {SettingsTab::buttons, 300}});
    tabs.window->present();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(tabs.window.get()));
    EXPECT_EQ(tabs.made, (std::vector<SettingsTab>{SettingsTab::devices}));
    EXPECT_FALSE(tabs.window->isPageMade(SettingsTab::general));

    tabs.window->select(SettingsTab::buttons);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !tabs.window->isAnimating() && tabs.window->isPageShown(SettingsTab::buttons); }, 5000));
    EXPECT_EQ(tabs.window->height(), int(tabs.pageHeight(SettingsTab::buttons)) + tabs.toolBarHeight());
    EXPECT_TRUE(tabs.fillers[SettingsTab::buttons]->isVisible());
    tabs.window->select(SettingsTab::devices);
    tabs.window->select(SettingsTab::buttons);
    EXPECT_NE(tabs.window->page(SettingsTab::general), nullptr);  // asked for: made
    EXPECT_EQ(tabs.made, (std::vector<SettingsTab>{SettingsTab::devices, SettingsTab::buttons, SettingsTab::general}));
    EXPECT_EQ(tabs.window->selected(), SettingsTab::buttons);
}

}  // namespace
}  // namespace tindlewave
