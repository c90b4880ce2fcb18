// From an atomic save of the settings file to the HID++ apply of the recorded MX Master 3
// finishing, on real threads: the config store's folder watch and coalescing, the engine's
// reconcile on its executor, and the session writing to the simulated mouse with its 1 ms reply
// latency. The floor is the store's 0.15 s coalescing window plus 12 steps of the apply times the
// latency; the counters report the mean and its excess over the floor in milliseconds.

#include <benchmark/benchmark.h>

#include <chrono>
#include <future>
#include <string>

#include "Model/ConfigCodec.h"
#include "Platform/Linux/System/Files.h"
#include "Runtime/Stores/ConfigStore.h"
#include "TestKit/EngineOnThreads.h"
#include "TestKit/TempFolder.h"

namespace tindlewave {
namespace {

using Clock = std::chrono::steady_clock;

constexpr double floorSeconds = 0.15 + 12 * 0.001;

// The store's snapshots once it has loaded the file for the first time.
Channel<ConfigSnapshot> startedSnapshots(ConfigStore& store) {
    std::promise<void> started;
    store.start([&] { started.set_value(); });
    started.get_future().wait();
    return store.snapshots();
}

// The engine on threads following the settings file through a real config store.
struct World {
    testkit::TempFolder folder;
    std::string configPath = folder / "config/config.json";
    ConfigStore configStore{configPath};
    bench::EngineOnThreads engine{startedSnapshots(configStore), false};

    // Saves the configuration and waits until its HID++ apply finished after the save.
    bool saveAndWait(const Config& config) {
        const Date saved = std::chrono::system_clock::now();
        auto text = ConfigCodec::encode(config);
        if (!text || !files::writeAtomically(configPath, *text)) return false;
        const std::string& name = config.devices[0].name;
        return engine.waitFor([&](const EngineStatus& status) {
            if (status.devices.size() != 1) return false;
            const DeviceStatus& row = status.devices[0];
            return row.name == name && row.hidpp &&
                   is<HIDPPStatus::Progress::SetUp>(row.hidpp->progress) && row.hidpp->lastApply &&
                   *row.hidpp->lastApply >= saved;
        });
    }
};

void BM_SaveToApplied(benchmark::State& state) {
    World world;
    // Discovery first, so every measured save is a change on a known device.
    if (!world.saveAndWait(bench::mouseConfig("warm-up", 0x56))) {
        state.SkipWithError("the first apply did not finish");
        return;
    }
    int round = 0;
    double total = 0;
    for (auto _ : state) {
        const Config config =
            bench::mouseConfig("round " + std::to_string(round), round % 2 ? 0x56 : 0x53);
        ++round;
        const auto start = Clock::now();
        if (!world.saveAndWait(config)) {
            state.SkipWithError("an apply did not finish");
            return;
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        total += seconds;
        state.SetIterationTime(seconds);
    }
    const double mean = round > 0 ? total / round : 0;
    state.counters["floor_ms"] = floorSeconds * 1000;
    state.counters["mean_ms"] = mean * 1000;
    state.counters["excess_ms"] = (mean - floorSeconds) * 1000;
    state.counters["of_floor"] = mean / floorSeconds;
}
BENCHMARK(BM_SaveToApplied)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tindlewave
