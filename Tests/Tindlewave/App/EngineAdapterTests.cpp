// The user interface's calls reach the engine on its executor, over the program's assembly.

#include <gtest/gtest.h>

#include <atomic>

#include "App/EngineAdapter.h"
#include "Platform/Clock.h"
#include "Runtime/EngineAssembly.h"
#include "Runtime/Executors/Actors.h"
#include "Runtime/Stores/Defaults.h"
#include "Runtime/Stores/LogStore.h"
#include "Runtime/Worlds/SimulatedWorld.h"
#include "TestKit/TempFolder.h"
#include "TestKit/Waiter.h"

namespace tindlewave {
namespace {

using namespace testkit;

TEST(EngineAdapterOverTheAssembly, CallsReachTheEngineAndTheRunCanBeCancelled) {
    TempFolder folder;
    RunLoopExecutor main{"test.main"};
    LogStore log{folder.path() / "log", false, SystemClock::shared()};
    Defaults defaults{folder.path() / "defaults.json"};
    EngineAssembly assembly({
        .simulated = EngineAssembly::Options::Simulated{folder / "run/hidutil.json",
                                                        SimulatedWorld::hidutilBesideProgram().executable},
        .defaults = defaults,
        .log = log,
        .events = nullptr,
    });
    assembly.start(main);
    EngineAdapter adapter(assembly);

    Waiter waiter;
    std::vector<EngineStatus> seen;
    bool ended = false;
    Subscription published = adapter.statuses().subscribe(
        main, [&](EngineStatus s) { waiter.update([&] { seen.push_back(std::move(s)); }); },
        [&] { waiter.update([&] { ended = true; }); });
    Channel<ConfigSnapshot> configs{Buffering::unbounded};
    Cancellable run = adapter.run(configs);
    ASSERT_TRUE(waiter.waitFor([&] { return !seen.empty(); }));

    configs.send(ConfigSnapshot{Config::empty(), std::nullopt});
    adapter.setPaused(true);
    ASSERT_TRUE(waiter.waitFor([&] { return seen.back().run == RunState::paused; }));

    // A status follows the journal's line.
    adapter.listen(DeviceMatch::builtIn());
    EXPECT_TRUE(waiter.waitFor([&] {
        auto entries = log.entries(std::string(bundleIdentifier));
        if (!entries) return false;
        for (const auto& entry : *entries)
            if (entry.message == "listen refused: paused") return true;
        return false;
    }));

    std::atomic<bool> onEngine = false;
    bool done = false;
    adapter.shutdown([&] {
        onEngine = assembly.hid().isCurrent();
        waiter.update([&] { done = true; });
    });
    ASSERT_TRUE(waiter.waitFor([&] { return done; }));
    EXPECT_TRUE(onEngine);

    run.cancel();
    EXPECT_TRUE(waiter.waitFor([&] { return ended; }));
    assembly.stop();
}

}  // namespace
}  // namespace tindlewave
