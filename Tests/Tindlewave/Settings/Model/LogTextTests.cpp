#include <gtest/gtest.h>

#include "Settings/Model/General/LogText.h"

namespace tindlewave {
namespace {

TEST(LogText, JoinsTimeCategoryAndMessageWithTwoBlanksAndLinesWithLineFeeds) {
    const TimeText time = [](Date date) {
        return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(date.time_since_epoch()).count());
    };
    const std::vector<LogLine> lines{{0, Date{std::chrono::seconds{5}}, "menu", "state=Active"},
                                     {1, Date{std::chrono::seconds{6}}, "devices", "a  b"},
                                     {2, Date{std::chrono::seconds{7}}, "settings", ""}};
    EXPECT_EQ(logLineText(lines[0], time), "5  menu  state=Active");
    EXPECT_EQ(logCopyText(lines, time), "5  menu  state=Active\n6  devices  a  b\n7  settings  ");
    EXPECT_EQ(logCopyText({}, time), "");
    EXPECT_EQ(logCopyText(std::span(lines).first(1), time), "5  menu  state=Active");
}

}  // namespace
}  // namespace tindlewave
