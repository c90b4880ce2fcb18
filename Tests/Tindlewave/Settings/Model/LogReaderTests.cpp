#include <gtest/gtest.h>

#include "Settings/Model/General/LogReader.h"
#include "TestKit/ManualExecutor.h"
#include "TestKit/TempFolder.h"

using namespace tindlewave;
using namespace tindlewave::testkit;

TEST(LogReader, ReadsThisRunsLinesOfTheProgramsSubsystemInOrderNumberedFromZero) {
    TempFolder folder;
    ManualClock clock;
    LogStore earlier(folder.path(), false, clock);
    earlier.write("app.tindlewave", "devices", LogLevel::defaultLevel, "an earlier run");
    LogStore store(folder.path(), false, clock);

    auto empty = LogReader::read(store);
    ASSERT_TRUE(empty.ok());
    EXPECT_TRUE(empty->empty());

    store.write("app.tindlewave", "settings", LogLevel::defaultLevel, "saved x");
    store.write("somebody.else", "settings", LogLevel::defaultLevel, "not ours");
    clock.advance(std::chrono::seconds(2));
    store.write("app.tindlewave", "devices", LogLevel::fault, "device line");

    auto lines = LogReader::read(store);
    ASSERT_TRUE(lines.ok()) << lines.error().description();
    EXPECT_EQ(*lines, (std::vector<LogLine>{
                          {0, clock.date() - std::chrono::seconds(2), "settings", "saved x"},
                          {1, clock.date(), "devices", "device line"},
                      }));
}

TEST(LogReader, AStoreThatCannotBeReadIsAnErrorWithItsPath) {
    TempFolder folder;
    TempFolder::write(folder / "log", "a file where the folder should be");
    ManualClock clock;
    LogStore store(folder.path() / "log", false, clock);
    auto lines = LogReader::read(store);
    ASSERT_FALSE(lines.ok());
    EXPECT_NE(lines.error().description().find(folder / "log"), std::string::npos)
        << lines.error().description();
}
