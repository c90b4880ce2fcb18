#include <gtest/gtest.h>

#include "App/PermissionGuideFollow.h"

namespace tindlewave {
namespace {

const ScreenRect screen{0, 25, 1440, 875};  // available area: below a 25-point top bar
constexpr double cardWidth = 420, cardHeight = 72;

TEST(GuidePlacement, BelowTheWindowInsideItNearTheBottomAndClampedAtTheEdges) {
    // Room below: centred, 10 points under the window.
    EXPECT_EQ(GuidePlacement::under({400, 100, 600, 400}, screen, cardWidth, cardHeight), (ScreenPoint{490, 510}));
    // No room below: inside the window's bottom edge, 16 points up.
    EXPECT_EQ(GuidePlacement::under({400, 400, 600, 480}, screen, cardWidth, cardHeight),
              (ScreenPoint{490, 880 - 16 - cardHeight}));
    // At the left and right edges: 8 points inside the available area.
    EXPECT_EQ(GuidePlacement::under({-100, 100, 300, 300}, screen, cardWidth, cardHeight).x, 8);
    EXPECT_EQ(GuidePlacement::under({1300, 100, 300, 300}, screen, cardWidth, cardHeight).x, 1440 - cardWidth - 8);
    // A window above the area's top: 8 points inside it.
    EXPECT_EQ(GuidePlacement::under({400, -500, 600, 400}, screen, cardWidth, cardHeight).y, 25 + 8);
    // A card of the room the area gives stands wholly inside it, wherever the window is.
    const ContentSize room = GuidePlacement::room(screen);
    for (const ScreenRect window : {ScreenRect{400, 100, 600, 400}, ScreenRect{0, 700, 600, 100}, screen}) {
        const ScreenPoint at = GuidePlacement::under(window, screen, room.width, room.height);
        EXPECT_GE(at.x, screen.x);
        EXPECT_GE(at.y, screen.y);
        EXPECT_LE(at.x + room.width, screen.x + screen.width);
        EXPECT_LE(at.y + room.height, screen.bottom());
    }
}

TEST(GuideFollow, WithoutASettingsApplicationTheCardWaitsNearTheBottomThenCloses) {
    GuideFollow::Input input{.elapsed = 0, .fallback = screen};
    const auto shown = GuideFollow::step(input, cardWidth, cardHeight);
    ASSERT_TRUE(std::holds_alternative<GuideFollow::Show>(shown));
    EXPECT_EQ(std::get<GuideFollow::Show>(shown).at, (ScreenPoint{510, 900 - 16 - cardHeight}));

    input.elapsed = 5.0;  // not strictly more than 5 s yet
    EXPECT_TRUE(std::holds_alternative<GuideFollow::Show>(GuideFollow::step(input, cardWidth, cardHeight)));
    input.elapsed = 5.0 + GuideFollow::interval;
    EXPECT_EQ(GuideFollow::step(input, cardWidth, cardHeight), GuideFollow::Output{GuideFollow::Close{}});
}

TEST(GuideFollow, GrantedClosesAtOnceAndASettingsWindowIsFollowedOrTheCardHidden) {
    GuideFollow::Input input{.elapsed = 0.15, .granted = true, .fallback = screen};
    EXPECT_EQ(GuideFollow::step(input, cardWidth, cardHeight), GuideFollow::Output{GuideFollow::Close{}});

    input.granted = false;
    input.settingsRunning = true;
    input.elapsed = 60;  // a running settings application keeps the card
    EXPECT_EQ(GuideFollow::step(input, cardWidth, cardHeight), GuideFollow::Output{GuideFollow::Hide{}});
    input.settingsWindow = ScreenRect{400, 100, 600, 400};
    EXPECT_EQ(GuideFollow::step(input, cardWidth, cardHeight),
              (GuideFollow::Output{GuideFollow::Show{{490, 510}}}));
}

}  // namespace
}  // namespace tindlewave
