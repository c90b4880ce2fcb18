// The whole engine idle on real threads: a set-up MX Master 3, a keyboard with a hyper key and
// the tap installed (or, in the second case, the mouse alone and no tap), for 10 s. Wake-ups are
// the voluntary context switches of every thread but the benchmark's own
// (/proc/self/task/*/status). The floor is the permission poll (1 per second) plus, with the
// tap, its watchdog (one per 5 s); the target is at most 1.1 times the floor.

#include <benchmark/benchmark.h>
#include <sys/syscall.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "TestKit/EngineOnThreads.h"

namespace tindlewave {
namespace {

using namespace std::chrono_literals;

// The voluntary context switches of every thread of the process but the calling one.
long long otherThreadsWakeUps() {
    const std::string self = std::to_string(::syscall(SYS_gettid));
    long long total = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        if (task.path().filename() == self) continue;
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
                total += std::stoll(line.substr(line.find(':') + 1));
            }
        }
    }
    return total;
}

Config idleConfig(bool keyboard) {
    Config config = bench::mouseConfig();
    if (keyboard) {
        DeviceProfile hyper{DeviceMatch::device(VendorID{0x05AC}, ProductID{0x024F}), "Keyboard",
                            DeviceKind::keyboard};
        hyper.hyper = true;
        config.devices.push_back(hyper);
    }
    return config;
}

void idle(benchmark::State& state, bool withTap) {
    bench::EngineOnThreads engine(idleConfig(withTap), withTap);
    if (!engine.waitFor([&](const EngineStatus& s) {
            return bench::setUp(s, withTap ? TapState::on : TapState::off);
        })) {
        state.SkipWithError("the devices were not set up");
        return;
    }
    std::this_thread::sleep_for(1s);  // let the last replies and log writes pass
    const double floor = withTap ? 1.0 + 1.0 / 5 : 1.0;
    double perSecond = 0;
    for (auto _ : state) {
        const long long before = otherThreadsWakeUps();
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(10s);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        perSecond = double(otherThreadsWakeUps() - before) / seconds;
        state.SetIterationTime(seconds);
    }
    state.counters["wakeups_per_s"] = perSecond;
    state.counters["floor_per_s"] = floor;
    state.counters["of_floor"] = perSecond / floor;
}

void BM_IdleWithTap(benchmark::State& state) { idle(state, true); }
void BM_IdleWithoutTap(benchmark::State& state) { idle(state, false); }
BENCHMARK(BM_IdleWithTap)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_IdleWithoutTap)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace tindlewave
