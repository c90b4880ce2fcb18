#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <memory>
#include <thread>

#include "Shell/QtScreens.h"

namespace tindlewave {
namespace {

TEST(QtScreens, GivesTheToolkitsScreensToAnyThreadAndOutlivesItsFollower) {
    auto screens = std::make_unique<QtScreens>();
    const auto source = screens->source();
    std::vector<Screen> seen;
    std::thread reader([&] { seen = source(); });
    reader.join();

    QScreen* primary = QGuiApplication::primaryScreen();
    ASSERT_NE(primary, nullptr);
    ASSERT_EQ(seen.size(), static_cast<std::size_t>(QGuiApplication::screens().size()));
    const QRect area = primary->geometry();
    EXPECT_EQ(seen.front().area, (Screen::Area{double(area.x()), double(area.y()),
                                               double(area.width()), double(area.height())}));
    EXPECT_GT(seen.front().refreshRate, 0);
    EXPECT_EQ(seen.front().id, 1u);

    // The event system may ask after the window program let go of its follower.
    screens.reset();
    EXPECT_EQ(source(), seen);
}

}  // namespace
}  // namespace tindlewave
