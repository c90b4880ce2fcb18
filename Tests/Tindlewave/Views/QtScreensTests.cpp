#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <vector>

#include "Shell/QtScreens.h"

namespace tindlewave {
namespace {

TEST(QtScreens, HandsTheToolkitsScreensPrimaryFirstAtOnce) {
    std::vector<std::vector<Screen>> handed;
    QtScreens screens([&](std::vector<Screen> all) { handed.push_back(std::move(all)); });
    ASSERT_EQ(handed.size(), 1u);
    const auto& seen = handed.front();

    QScreen* primary = QGuiApplication::primaryScreen();
    ASSERT_NE(primary, nullptr);
    ASSERT_EQ(seen.size(), static_cast<std::size_t>(QGuiApplication::screens().size()));
    const QRect area = primary->geometry();
    EXPECT_EQ(seen.front().area, (Screen::Area{double(area.x()), double(area.y()),
                                               double(area.width()), double(area.height())}));
    EXPECT_GT(seen.front().refreshRate, 0);
    EXPECT_EQ(seen.front().id, 1u);
    EXPECT_EQ(seen, QtScreens::current());
}

}  // namespace
}  // namespace tindlewave
