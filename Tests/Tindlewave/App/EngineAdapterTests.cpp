// The user interface's calls reach the engine on its executor, never inline.

#include <gtest/gtest.h>

#include "App/EngineAdapter.h"
#include "TestKit/EngineHarness.h"

namespace tindlewave {
namespace {

using EngineAdapterTest = testkit::EngineHarness;

TEST_F(EngineAdapterTest, CallsArePostedToTheEngineAndTheRunCanBeCancelled) {
    bool quitAsked = false;
    EngineAdapter adapter(*engine, [&](Engine& e, std::function<void()> done) {
        quitAsked = hid.isCurrent() && &e == engine.get();
        done();
    });
    std::vector<EngineStatus> seen;
    Subscription published =
        adapter.statuses().subscribe(main, [&](EngineStatus s) { seen.push_back(s); });
    run = adapter.run(configs, permissionStates);
    EXPECT_TRUE(seen.empty());
    settle();
    ASSERT_EQ(seen.size(), 1u);

    configs.send(ConfigSnapshot{Config::empty(), std::nullopt});
    adapter.setPaused(true);
    EXPECT_FALSE(engine->isPaused());  // not inline
    settle();
    EXPECT_TRUE(engine->isPaused());
    EXPECT_EQ(seen.back().run, RunState::paused);

    adapter.listen(DeviceMatch::builtIn());
    settle();
    EXPECT_TRUE(hasLine("listen refused: paused"));

    bool done = false;
    adapter.shutdown([&] { done = true; });
    settle();
    EXPECT_TRUE(quitAsked);
    EXPECT_TRUE(done);

    run.cancel();
    settle();
    EXPECT_TRUE(engine->statuses().isTerminated());
}

}  // namespace
}  // namespace tindlewave
