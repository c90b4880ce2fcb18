// From an atomic save of the settings file to the HID++ apply of the recorded MX Master 3
// finishing, on real threads: the config store's folder watch and coalescing, the engine's
// reconcile on its executor, and the session writing to the simulated mouse with its 1 ms reply
// latency. The floor is the store's 0.15 s coalescing window plus 12 steps of the apply times the
// latency; the counters report the mean and its excess over the floor in milliseconds.

#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <memory>
#include <mutex>

#include "Model/ConfigCodec.h"
#include "Platform/Linux/Files.h"
#include "Platform/Simulated/SimulatedDevice.h"
#include "Platform/Simulated/SimulatedEventSystem.h"
#include "Platform/Simulated/SimulatedHIDWorld.h"
#include "Platform/Simulated/SimulatedPermissionGrants.h"
#include "Platform/Simulated/VirtualMouseDescription.h"
#include "Runtime/ConfigStore.h"
#include "Runtime/Defaults.h"
#include "Runtime/Engine/Engine.h"
#include "Runtime/LogStore.h"
#include "Runtime/RunLoopExecutor.h"
#include "TestKit/TempFolder.h"

namespace tindlewave {
namespace {

using Clock = std::chrono::steady_clock;

constexpr double floorSeconds = 0.15 + 12 * 0.001;

Config configNamed(const std::string& name, std::uint16_t cid) {
    DeviceProfile master{DeviceMatch::device(VendorID{0x046D}, ProductID{0xB023}), name};
    master.rules = std::vector<Rule>{
        Rule{Control::hidpp(CID{cid}), Trigger::click(),
             Action::shortcut(Chord{KeyCode{0x7B}, Modifiers::command})}};
    Config config = Config::empty();
    config.devices = {master};
    return config;
}

struct World {
    testkit::TempFolder folder;
    RunLoopExecutor hid{"bench.hid"};
    RunLoopExecutor tap{"bench.tap"};
    RunLoopExecutor main{"bench.main"};
    SimulatedPermissionGrants grants;
    LogStore store{folder.path() / "log", false, hid.clock()};
    SimulatedHIDWorld world{hid, grants};
    SimulatedEventSystem events{tap, grants};
    Defaults defaults{folder.path() / "defaults.json"};
    std::string configPath = folder / "config/config.json";
    ConfigStore configStore{configPath};
    Channel<PermissionState> permissions{Buffering::unbounded};
    std::unique_ptr<Engine> engine = std::make_unique<Engine>(EngineWorld{
        hid, tap, world, events, grants, defaults,
        Journal(Logger("app.tindlewave", "devices", store)), HidutilHost{}});
    Cancellable run;
    Subscription statuses;

    std::mutex mutex;
    std::condition_variable changed;
    std::optional<EngineStatus> status;

    World() {
        auto folderOfMice = shippedRecordedMiceFolder();
        if (!folderOfMice) throw std::runtime_error("no recorded mice");
        auto mouse = loadVirtualMouse(*folderOfMice + "/MX-Master-3-Wireless-Mouse-B023.json");
        if (!mouse) throw std::runtime_error(mouse.error());
        world.attach(SimulatedDevice::hidppMouse(*mouse, 0x10));

        statuses = engine->statuses().subscribe(main, [this](EngineStatus s) {
            std::lock_guard lock(mutex);
            status = std::move(s);
            changed.notify_all();
        });
        std::promise<void> started;
        configStore.start([&] { started.set_value(); });
        started.get_future().wait();
        Channel<ConfigSnapshot> snapshots = configStore.snapshots();
        permissions.send(PermissionState{PermissionState::Grant::granted,
                                         PermissionState::Grant::granted});
        std::promise<void> running;
        hid.post([&] {
            run = engine->run(snapshots, permissions);
            running.set_value();
        });
        running.get_future().wait();
    }
    ~World() {
        std::promise<void> cancelled;
        hid.post([&] {
            run.cancel();
            cancelled.set_value();
        });
        cancelled.get_future().wait();
        statuses.cancel();
        for (RunLoopExecutor* executor : {&main, &tap, &hid}) {
            executor->stop();
            executor->join();
        }
        engine.reset();
    }

    // Saves the configuration and waits until its HID++ apply finished after the save.
    bool saveAndWait(const Config& config) {
        const Date saved = std::chrono::system_clock::now();
        auto text = ConfigCodec::encode(config);
        if (!text || !files::writeAtomically(configPath, *text)) return false;
        const std::string& name = config.devices[0].name;
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [&] {
            if (!status || status->devices.size() != 1) return false;
            const DeviceStatus& row = status->devices[0];
            return row.name == name && row.hidpp &&
                   row.hidpp->progress.is<HIDPPStatus::Progress::SetUp>() &&
                   row.hidpp->lastApply && *row.hidpp->lastApply >= saved;
        });
    }
};

void BM_SaveToApplied(benchmark::State& state) {
    World world;
    // Discovery first, so every measured save is a change on a known device.
    if (!world.saveAndWait(configNamed("warm-up", 0x56))) {
        state.SkipWithError("the first apply did not finish");
        return;
    }
    int round = 0;
    double total = 0;
    for (auto _ : state) {
        const Config config = configNamed("round " + std::to_string(round), round % 2 ? 0x56 : 0x53);
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
