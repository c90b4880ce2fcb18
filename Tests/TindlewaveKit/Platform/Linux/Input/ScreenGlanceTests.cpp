#include "Platform/Linux/Input/ScreenGlance.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace tindlewave {
namespace {

std::vector<Screen> manyScreens(std::size_t count) {
    std::vector<Screen> screens;
    for (std::size_t i = 0; i < count; ++i)
        screens.push_back(Screen{static_cast<DisplayID>(i + 1), {1000.0 * static_cast<double>(i), 0, 1000, 500}, 60});
    return screens;
}

TEST(ScreenGlance, TellsTheFastestCentreAndTheDisplaysItKeeps) {
    ScreenGlance glance({Screen{7, {0, 0, 1000, 800}, 60}, Screen{9, {1000, 0, 2000, 1000}, 144},
                         Screen{4, {0, 800, 1000, 800}, 144}});
    EXPECT_EQ(glance.centre(), (Event::Location{2000, 500}));  // the first of the fastest
    EXPECT_EQ(glance.has(4), true);
    EXPECT_EQ(glance.has(8), false);

    glance.publish({});
    EXPECT_EQ(glance.centre(), (Event::Location{0, 0}));
    EXPECT_EQ(glance.has(7), false);

    // As many screens as it keeps, then more: those it cannot tell of are left to the list.
    glance.publish(manyScreens(ScreenGlance::maxDisplays));
    EXPECT_EQ(glance.has(ScreenGlance::maxDisplays), true);
    EXPECT_EQ(glance.has(ScreenGlance::maxDisplays + 1), false);
    glance.publish(manyScreens(ScreenGlance::maxDisplays + 1));
    EXPECT_EQ(glance.has(1), std::nullopt);
    EXPECT_EQ(glance.centre(), (Event::Location{500, 250}));
    glance.publish(manyScreens(1));
    EXPECT_EQ(glance.has(1), true);
    EXPECT_EQ(glance.has(2), false);
}

// A reader racing publications sees one publication whole: never the x of one screen's centre
// beside the y of another's.
TEST(ScreenGlance, AReaderNeverSeesHalfAPublication) {
    const std::vector<Screen> left{Screen{1, {0, 0, 1000, 800}, 60}, Screen{2, {1000, 0, 1000, 800}, 60}};
    const std::vector<Screen> right{Screen{3, {0, 0, 4000, 2000}, 60}};
    ScreenGlance glance(left);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) glance.publish(i % 2 == 0 ? right : left);
        done = true;
    });
    long torn = 0;
    long reads = 0;
    while (!done.load() || reads < 1000) {
        const Event::Location at = glance.centre();
        if (!(at == Event::Location{500, 400}) && !(at == Event::Location{2000, 1000})) ++torn;
        if (glance.has(2) == std::nullopt) ++torn;  // two screens at most are ever published
        ++reads;
    }
    writer.join();
    EXPECT_EQ(torn, 0) << "of " << reads;
}

}  // namespace
}  // namespace tindlewave
