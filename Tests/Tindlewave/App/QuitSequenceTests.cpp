#include <gtest/gtest.h>

#include "App/QuitSequence.h"
#include "TestKit/ManualExecutor.h"
#include "Tindlewave/Fakes/FakeEngine.h"

using namespace tindlewave;
using namespace tindlewave::testkit;

TEST(QuitSequence, CancelsTheEngineRunOnlyAfterShutdownHasFinishedThenEndsAndIgnoresAgain) {
    ManualScheduler scheduler;
    ManualExecutor main(scheduler, "main");
    ManualExecutor hid(scheduler, "hid");
    FakeEngine engine;
    std::vector<std::string> steps;
    QuitSequence quit(
        main, engine, [&] { steps.push_back(main.isCurrent() ? "cancel on main" : "cancel"); },
        [&] { steps.push_back("end"); });

    EXPECT_FALSE(quit.isQuitting());
    quit.request();
    EXPECT_TRUE(quit.isQuitting());
    scheduler.runReady();
    EXPECT_EQ(engine.calls, std::vector<std::string>{"shutdown"});
    EXPECT_TRUE(steps.empty());  // the engine is still putting devices back

    quit.request();  // a second quit (the signal after the menu) changes nothing
    EXPECT_EQ(engine.calls.size(), 1u);

    hid.post(engine.shutdownDone);  // the engine answers on its own executor
    scheduler.runReady();
    EXPECT_EQ(steps, (std::vector<std::string>{"cancel on main", "end"}));
    quit.request();
    scheduler.runReady();
    EXPECT_EQ(engine.calls.size(), 1u);
    EXPECT_EQ(steps.size(), 2u);
}

TEST(QuitSequence, AnAnswerAfterTheSequenceIsGoneDoesNothing) {
    ManualScheduler scheduler;
    ManualExecutor main(scheduler, "main");
    FakeEngine engine;
    int ran = 0;
    auto quit = std::make_unique<QuitSequence>(
        main, engine, [&] { ++ran; }, [&] { ++ran; });
    quit->request();
    quit.reset();
    engine.shutdownDone();
    scheduler.runReady();
    EXPECT_EQ(ran, 0);
}
