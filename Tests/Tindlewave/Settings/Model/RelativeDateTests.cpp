#include <gtest/gtest.h>

#include "Settings/Model/Texts/RelativeDate.h"

namespace tindlewave {
namespace {

using namespace std::chrono;

TEST(RelativeDate, NamesTheLargestWholeUnitInEnglish) {
    const Date now = Date{seconds{1'700'000'000}};
    const std::pair<seconds, const char*> cases[] = {
        {seconds{0}, "now"},
        {seconds{-1}, "1 second ago"},
        {seconds{-59}, "59 seconds ago"},
        {minutes{-1}, "1 minute ago"},
        {minutes{-150}, "2 hours ago"},
        {hours{-24}, "yesterday"},
        {hours{-47}, "yesterday"},
        {days{-3}, "3 days ago"},
        {days{-7}, "last week"},
        {days{-20}, "2 weeks ago"},
        {days{-30}, "last month"},
        {days{-100}, "3 months ago"},
        {days{-365}, "last year"},
        {days{-800}, "2 years ago"},
        {minutes{5}, "in 5 minutes"},
        {hours{24}, "tomorrow"},
        {days{14}, "in 2 weeks"},
    };
    for (auto [offset, text] : cases)
        EXPECT_EQ(relativeDateText(now + offset, now), text) << offset.count();
    // Less than a second either way reads as now.
    EXPECT_EQ(relativeDateText(now - milliseconds{999}, now), "now");
}

}  // namespace
}  // namespace tindlewave
