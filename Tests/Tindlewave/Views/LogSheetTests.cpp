#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <deque>

#include "Platform/Clock.h"
#include "Settings/Views/LogSheet.h"
#include "Shell/QtMainExecutor.h"
#include "TestKit/ManualExecutor.h"

namespace tindlewave {
namespace {

using namespace std::chrono;

// The sheet over a log that answers from a script, read on a manual pool the test runs.
struct SheetWorld {
    QtMainExecutor main{SystemClock::shared()};
    testkit::ManualWorkPool pool;
    std::deque<LogSheet::Outcome> answers;
    LogSheet sheet{main, pool, [this] {
                       auto answer = answers.front();
                       answers.pop_front();
                       return answer;
                   }};

    // Runs the pending read with `outcome` as its answer; the sheet applies it on the event loop.
    bool read(LogSheet::Outcome outcome) {
        answers.push_back(std::move(outcome));
        return pool.runNext();
    }
};

std::vector<LogLine> lines(int count) {
    std::vector<LogLine> out;
    for (int i = 0; i < count; ++i)
        out.push_back({i, Date{hours{14} + minutes{5} + seconds{7 + i}}, "menu", "line " + std::to_string(i)});
    return out;
}

TEST(LogSheet, StartsEmptyWithCopyAllDisabledAndReadsWhenShown) {
    SheetWorld world;
    world.answers.push_back(std::vector<LogLine>{});
    world.sheet.show();
    ASSERT_EQ(world.pool.pending(), 1u);
    world.pool.runNext();
    QCoreApplication::processEvents();
    EXPECT_TRUE(world.sheet.lines().empty());
    EXPECT_FALSE(world.sheet.copyButton()->isEnabled());
    EXPECT_FALSE(world.sheet.problem());
}

TEST(LogSheet, AFailedReadKeepsTheEarlierLinesAndCopyAllStillCopiesThem) {
    SheetWorld world;
    world.sheet.load();
    ASSERT_TRUE(world.read(lines(3)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return world.sheet.lines().size() == 3; }, 5000));
    EXPECT_EQ(world.sheet.list()->count(), 3);
    EXPECT_EQ(world.sheet.list()->item(0)->text(), "2:05:07 PM  menu  line 0");

    world.sheet.load();
    ASSERT_TRUE(world.read(LogStoreError{"/state/log/run.jsonl", "Permission denied"}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return world.sheet.problem().has_value(); }, 5000));
    EXPECT_EQ(*world.sheet.problem(), "/state/log/run.jsonl: Permission denied");
    EXPECT_EQ(world.sheet.lines().size(), 3u);
    EXPECT_TRUE(world.sheet.copyButton()->isEnabled());
    world.sheet.copyButton()->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              "2:05:07 PM  menu  line 0\n2:05:08 PM  menu  line 1\n2:05:09 PM  menu  line 2");

    world.sheet.load();
    ASSERT_TRUE(world.read(lines(4)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return world.sheet.lines().size() == 4; }, 5000));
    EXPECT_FALSE(world.sheet.problem());
}

TEST(LogSheet, ALateReadAfterTheSheetIsGoneIsDropped) {
    QtMainExecutor main(SystemClock::shared());
    testkit::ManualWorkPool pool;
    auto* sheet = new LogSheet(main, pool, [] { return LogSheet::Outcome(lines(1)); });
    sheet->load();
    delete sheet;
    pool.runNext();
    QCoreApplication::processEvents();  // the posted outcome finds no sheet
    SUCCEED();
}

}  // namespace
}  // namespace tindlewave
