#include <gtest/gtest.h>

#include "Settings/Model/Window/PageFit.h"
#include "Settings/Model/Window/PopupPlace.h"
#include "Settings/Model/Window/WindowFit.h"
#include "Settings/Model/Window/WindowFitMachine.h"

namespace tindlewave {
namespace {

const ScreenRect screen{0, 25, 1440, 875};  // below a 25-point panel
const FrameMargins decoration{1, 30, 1, 1};

TEST(WindowFit, RoundsTheContentHeightUpAndKeepsTheLeftAndTopEdges) {
    const ScreenRect current{200, 100, 642, 300};
    auto fit = WindowFit::target({640, 480.3}, current, decoration, screen);
    EXPECT_EQ(fit.frame, (ScreenRect{200, 100, 642, 481 + 31}));
    EXPECT_FALSE(fit.scrolls);
    // Without decoration (offscreen) the frame is the content.
    EXPECT_EQ(WindowFit::target({640, 480.0}, current, {}, screen).frame.height, 480);
}

TEST(WindowFit, CapsAPageTallerThanTheScreenAndLetsItScroll) {
    auto fit = WindowFit::target({640, 2000}, {200, 100, 642, 300}, decoration, screen);
    EXPECT_TRUE(fit.scrolls);
    EXPECT_EQ(fit.frame.height, screen.height);
    EXPECT_EQ(fit.frame.bottom(), screen.bottom());
    EXPECT_EQ(fit.frame.x, 200);
    // Exactly as tall as the available area still fits.
    EXPECT_FALSE(WindowFit::target({640, 875 - 31}, {0, 25, 642, 100}, decoration, screen).scrolls);
}

TEST(WindowFit, MovesALowWindowUpUntilItsBottomIsOnScreen) {
    auto fit = WindowFit::target({640, 500}, {300, 700, 642, 200}, {}, screen);
    EXPECT_EQ(fit.frame, (ScreenRect{300, screen.bottom() - 500, 640, 500}));
    // Without a screen nothing bounds the window.
    auto unbounded = WindowFit::target({640, 5000}, {300, 700, 642, 200}, {}, std::nullopt);
    EXPECT_EQ(unbounded.frame, (ScreenRect{300, 700, 640, 5000}));
    EXPECT_FALSE(unbounded.scrolls);
}

// The primary screen with a panel along its bottom, and a smaller one on its right with a panel
// along its top.
const ScreenAreas screens[] = {{{0, 0, 1440, 900}, {0, 0, 1440, 868}},
                               {{1440, 0, 1024, 600}, {1440, 28, 1024, 572}}};
const ContentSize popup{320, 200};

TEST(PopupFrame, OpensBelowItsMarkOrAboveItWithinTheFreeAreaOfTheMarksScreen) {
    const ScreenRect elsewhere{0, 0, 800, 600};
    // Below the mark and centred on it where there is room.
    EXPECT_EQ(popupFrame({700, 100, 16, 16}, popup, screens, elsewhere),
              (ScreenRect{548, 116, 320, 200}));
    // Above it where the free area ends first, though the screen goes on under the panel.
    EXPECT_EQ(popupFrame({700, 660, 16, 16}, popup, screens, elsewhere),
              (ScreenRect{548, 460, 320, 200}));
    // Moved in at the side of the mark's screen, never onto the next one.
    EXPECT_EQ(popupFrame({1420, 100, 16, 16}, popup, screens, elsewhere).x, 1440 - 320);
    // On the second screen: kept within its free area, whichever screen comes first.
    EXPECT_EQ(popupFrame({1450, 30, 16, 16}, popup, screens, elsewhere),
              (ScreenRect{1440, 46, 320, 200}));
    EXPECT_EQ(popupFrame({2000, 2, 16, 16}, popup, screens, elsewhere).y, 28);
    EXPECT_EQ(popupFrame({2400, 300, 16, 16}, popup, screens, elsewhere).x, 2464 - 320);
    // Taller than the free area: from its top.
    EXPECT_EQ(popupFrame({1500, 300, 16, 16}, {320, 700}, screens, elsewhere).y, 28);
    // A mark on no screen (left of both, below both) takes its window's.
    EXPECT_EQ(popupFrame({700, 950, 16, 16}, popup, screens, elsewhere).x, 800 - 320);
    EXPECT_EQ(popupFrame({-500, 900, 16, 16}, popup, screens, elsewhere),
              (ScreenRect{0, 400, 320, 200}));
}

TEST(WindowFitMachine, CoalescesRequestsIntoOnePendingFitOnlyForAVisibleWindow) {
    WindowFitMachine machine;
    EXPECT_FALSE(machine.requestFit(false));
    EXPECT_FALSE(machine.isPending());
    EXPECT_TRUE(machine.requestFit(true));
    EXPECT_FALSE(machine.requestFit(true));  // a second resize in the same turn
    EXPECT_TRUE(machine.isPending());
    EXPECT_EQ(machine.fit(true, {0, 0, 10, 10}, {0, 0, 10, 20}), WindowFitMachine::Step::animate);
    EXPECT_FALSE(machine.isPending());
    EXPECT_TRUE(machine.requestFit(true));
}

TEST(WindowFitMachine, DoesNotRestartAnAnimationToTheSameFrame) {
    WindowFitMachine machine;
    const ScreenRect from{0, 0, 10, 10}, to{0, 0, 10, 20}, other{0, 0, 10, 30};
    EXPECT_EQ(machine.fit(true, from, to), WindowFitMachine::Step::animate);
    EXPECT_EQ(machine.fit(true, {0, 0, 10, 15}, to), WindowFitMachine::Step::none);
    EXPECT_EQ(machine.heading(), to);
    // A newer target replaces it; the old animation's end then shows nothing.
    EXPECT_EQ(machine.fit(true, {0, 0, 10, 15}, other), WindowFitMachine::Step::animate);
    EXPECT_FALSE(machine.animationEnded(to));
    EXPECT_TRUE(machine.animationEnded(other));
    EXPECT_FALSE(machine.heading());
}

TEST(WindowFitMachine, JumpsWhenNotAnimatedOrAlreadyThereAndClearsTheHeading) {
    WindowFitMachine machine;
    const ScreenRect from{0, 0, 10, 10}, to{0, 0, 10, 20};
    machine.fit(true, from, to);
    EXPECT_EQ(machine.fit(false, from, to), WindowFitMachine::Step::jump);
    EXPECT_FALSE(machine.heading());
    EXPECT_EQ(machine.fit(true, to, to), WindowFitMachine::Step::jump);
    EXPECT_FALSE(machine.animationEnded(to));
}

TEST(WindowFitMachine, HidesAReplacedPageOnlyWhenTheVisibleWindowMustGrow) {
    EXPECT_TRUE(WindowFitMachine::hidesBeforeGrowing(true, true, 300, 400));
    EXPECT_FALSE(WindowFitMachine::hidesBeforeGrowing(true, true, 400, 300));
    EXPECT_FALSE(WindowFitMachine::hidesBeforeGrowing(false, true, 300, 400));
    EXPECT_FALSE(WindowFitMachine::hidesBeforeGrowing(true, false, 300, 400));
}

TEST(PageFit, CallsBackOnlyForANewSizeAndSaysWhetherTheSubjectChanged) {
    std::vector<bool> calls;
    PageFit fit([&](bool replaced) { calls.push_back(replaced); });
    const auto mouse = DeviceMatch::device(VendorID{0x046D}, ProductID{0xB023});
    fit.place({640, 300}, std::nullopt);
    fit.place({640, 300}, std::nullopt);
    fit.place({640, 300}, mouse);  // another subject, same size: nothing
    EXPECT_EQ(fit.subject(), mouse);
    fit.place({640, 420}, DeviceMatch::builtIn());
    fit.place({640, 421}, DeviceMatch::builtIn());
    EXPECT_EQ(calls, (std::vector<bool>{false, true, false}));
}

TEST(PageFit, ReportsOnlyAChangedScrollsFlag) {
    PageFit fit(nullptr);
    std::vector<bool> changes;
    fit.onScrollsChanged([&](bool scrolls) { changes.push_back(scrolls); });
    fit.setScrolls(false);
    fit.setScrolls(true);
    fit.setScrolls(true);
    fit.setScrolls(false);
    EXPECT_EQ(changes, (std::vector<bool>{true, false}));
}

}  // namespace
}  // namespace tindlewave
