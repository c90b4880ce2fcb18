// The quit with a responsive mouse on real threads: from shutdown() to its completion, beside
// the floor of the mouse's native apply (its requests times the 1 ms reply latency): the wait
// ends as soon as the mouse's apply ends. The target is at most 1.1 times that floor.

#include <benchmark/benchmark.h>

#include <chrono>
#include <future>
#include <memory>

#include "TestKit/EngineOnThreads.h"

namespace tindlewave {
namespace {

void BM_QuitWithAResponsiveMouse(benchmark::State& state) {
    double total = 0, floorTotal = 0;
    int rounds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto engine = std::make_unique<bench::EngineOnThreads>(bench::mouseConfig(), false);
        if (!engine->waitFor([](const EngineStatus& s) { return bench::setUp(s, TapState::off); })) {
            state.SkipWithError("the mouse was not set up");
            return;
        }
        auto requests = [&] {
            return engine->onHID([&] { return engine->world.hid.mouse(engine->mouse.interfaces[0])
                                                  ->requestsReceived().size(); });
        };
        const auto before = requests();
        state.ResumeTiming();

        std::promise<void> done;
        const auto start = std::chrono::steady_clock::now();
        engine->hid.post([&] { engine->engine->shutdown([&] { done.set_value(); }); });
        done.get_future().wait();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

        state.PauseTiming();
        const double floor = double(requests() - before) * 0.001;
        total += seconds;
        floorTotal += floor;
        ++rounds;
        state.SetIterationTime(seconds);
        engine.reset();
        state.ResumeTiming();
    }
    if (rounds == 0) return;
    state.counters["mean_ms"] = total / rounds * 1000;
    state.counters["floor_ms"] = floorTotal / rounds * 1000;
    state.counters["of_floor"] = total / floorTotal;
}
BENCHMARK(BM_QuitWithAResponsiveMouse)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tindlewave
