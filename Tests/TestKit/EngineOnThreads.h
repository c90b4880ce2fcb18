#pragma once

// The whole engine on real threads as the programs assemble it (Runtime/EngineAssembly.h), over
// the simulated desktop, for the engine's benchmarks: the recorded MX Master 3 and, when asked, an
// external keyboard with a hyper key; the fake hidutil beside the benchmark; a main executor of
// its own. The configuration is one fixed snapshot, or whatever a given source of snapshots (a
// config store's) sends.

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

#include "Platform/Clock.h"
#include "Platform/Simulated/HID/VirtualHidppMouse.h"
#include "Runtime/EngineAssembly.h"
#include "Runtime/Stores/Defaults.h"
#include "Runtime/Stores/LogStore.h"
#include "Runtime/Worlds/SimulatedWorld.h"
#include "TestKit/TempFolder.h"

namespace tindlewave::bench {

inline std::string besideThisProgram(const std::string& name) {
    std::error_code error;
    return (std::filesystem::read_symlink("/proc/self/exe", error).parent_path() / name).string();
}

// The programs' assembly over the simulated desktop, with a main executor of its own.
struct EngineOnThreads {
    testkit::TempFolder folder;
    RunLoopExecutor main{"bench.main"};
    LogStore store{folder.path() / "log", false, SystemClock::shared()};
    Defaults defaults{folder.path() / "defaults.json"};
    EngineAssembly assembly{{
        .simulated = EngineAssembly::Options::Simulated{folder / "hidutil.json",
                                                        besideThisProgram("hidutil-fake")},
        .defaults = defaults,
        .log = store,
        .events = nullptr,
    }};
    RunLoopExecutor& hid = assembly.hid();
    SimulatedWorld& world = *assembly.world().simulatedWorld();
    Engine* engine = &assembly.engine();
    SimulatedHIDWorld::Attached mouse;
    Cancellable run;
    Subscription statuses;

    std::mutex mutex;
    std::condition_variable changed;
    std::optional<EngineStatus> status;

    EngineOnThreads(const Config& config, bool keyboard)
        : EngineOnThreads(fixedSnapshot(config), keyboard) {}

    EngineOnThreads(Channel<ConfigSnapshot> snapshots, bool keyboard) {
        auto folderOfMice = shippedRecordedMiceFolder();
        if (!folderOfMice) throw std::runtime_error("no recorded mice");
        auto attached = world.attachMouse(*folderOfMice + "/MX-Master-3-Wireless-Mouse-B023.json");
        if (!attached.ok()) throw std::runtime_error(attached.error());
        mouse = attached->attached;
        if (keyboard) world.attachExternalKeyboard(0x05AC, 0x024F);
        statuses = engine->statuses().subscribe(main, [this](EngineStatus s) {
            std::lock_guard lock(mutex);
            status = std::move(s);
            changed.notify_all();
        });
        assembly.start(main);
        run = assembly.run(std::move(snapshots));
    }

    ~EngineOnThreads() {
        run.cancel();
        statuses.cancel();
        main.stop();
        main.join();
        assembly.stop();
    }

    bool waitFor(const std::function<bool(const EngineStatus&)>& condition) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20),
                                [&] { return status && condition(*status); });
    }

    // Runs `job` on the HID executor and waits for it.
    template <class F>
    auto onHID(F job) {
        std::promise<decltype(job())> result;
        hid.post([&] {
            if constexpr (std::is_void_v<decltype(job())>) {
                job();
                result.set_value();
            } else {
                result.set_value(job());
            }
        });
        return result.get_future().get();
    }

  private:
    static Channel<ConfigSnapshot> fixedSnapshot(const Config& config) {
        Channel<ConfigSnapshot> snapshots{Buffering::unbounded};
        snapshots.send(ConfigSnapshot{config, std::nullopt});
        return snapshots;
    }
};

// The recorded mouse under `name`, with one rule: a click of control `cid` is Command-left arrow.
inline Config mouseConfig(const std::string& name = "MX Master 3", std::uint16_t cid = 0x53) {
    DeviceProfile master{DeviceMatch::device(VendorID{0x046D}, ProductID{0xB023}), name};
    master.rules =
        std::vector<Rule>{Rule{Control::hidpp(CID{cid}), Trigger::click(),
                               Action::shortcut(Chord{KeyCode{0x7B}, Modifiers::command})}};
    Config config = Config::empty();
    config.devices = {master};
    return config;
}

// Every configured device connected and set up, and the tap as wanted. The engine's first status,
// published before it read the configuration, lists no devices and counts as not set up.
inline bool setUp(const EngineStatus& status, TapState tap) {
    if (status.tap != tap || status.devices.empty()) return false;
    for (const auto& device : status.devices) {
        if (!device.connectedAt) return false;
        if (device.hyper && !is<HyperStatus::On>(*device.hyper)) return false;
        if (device.hidpp && !is<HIDPPStatus::Progress::SetUp>(device.hidpp->progress)) return false;
        if (!device.hyper && !device.hidpp) return false;
    }
    return true;
}

}  // namespace tindlewave::bench
