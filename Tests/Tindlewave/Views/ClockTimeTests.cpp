#include <gtest/gtest.h>

#include <QLocale>
#include <chrono>

#include "Settings/Views/ClockTime.h"

namespace tindlewave {
namespace {

using namespace std::chrono;

// 2026-03-02 14:05:09.750 UTC; the tests run in UTC.
const Date afternoon = Date(sys_days{year{2026} / 3 / 2}) + 14h + 5min + 9s + 750ms;

TEST(ClockTime, TheTimeOfDayAloneWithOrWithoutSecondsInTheLocalesFormat) {
    EXPECT_EQ(clockTime(afternoon), "2:05 PM");
    EXPECT_EQ(clockTimeWithSeconds(afternoon), "2:05:09 PM");
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(clockTime(afternoon), "14:05");
    EXPECT_EQ(clockTimeWithSeconds(afternoon), "14:05:09");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

}  // namespace
}  // namespace tindlewave
