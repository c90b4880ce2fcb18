#include <gtest/gtest.h>

#include "Settings/Model/General/VersionOrder.h"

namespace tindlewave {
namespace {

TEST(VersionOrder, ComparesPartsAsNumbersAndRefusesWhatIsNoVersion) {
    EXPECT_TRUE(VersionOrder::isNewer("1.10.0", "1.9.3"));
    EXPECT_TRUE(VersionOrder::isNewer("v2", "1.99"));
    EXPECT_FALSE(VersionOrder::isNewer("1.4", "1.4.0"));
    EXPECT_FALSE(VersionOrder::isNewer("1.3.9", "1.4"));
    for (const char* bad : {"", "1..2", "1.2.", "beta", "1.2-rc1", "-1", "1.99999999999999999999999"})
        EXPECT_FALSE(VersionOrder::parts(bad)) << bad;
    EXPECT_FALSE(VersionOrder::isNewer("beta", "1.0"));
    EXPECT_FALSE(VersionOrder::isNewer("2.0", "unknown"));
}

}  // namespace
}  // namespace tindlewave
