#pragma once

// An engine on manual executors over the simulated worlds: HID devices, the event system, the
// grants, a temporary defaults file, a log store in a temporary folder and the fake hidutil on a
// manual work pool. A test sends snapshots, permission states and wake notices, attaches and
// acts devices, runs everything until quiet on the virtual clock and reads statuses, journal
// lines and what was posted.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Platform/Simulated/Input/SimulatedEventSystem.h"
#include "Platform/Simulated/HID/SimulatedHIDInterface.h"
#include "Platform/Simulated/HID/SimulatedHIDWorld.h"
#include "Platform/Simulated/Permissions/SimulatedPermissionGrants.h"
#include "Platform/Simulated/HID/VirtualHidppMouse.h"
#include "Platform/Simulated/HID/VirtualMouseDescription.h"
#include "Runtime/Stores/Defaults.h"
#include "Runtime/Engine/Engine.h"
#include "Runtime/Stores/Journal.h"
#include "Runtime/Stores/LogStore.h"
#include "TestKit/FakeHidutil.h"
#include "TestKit/ManualExecutor.h"
#include "TestKit/TempFolder.h"
#include "TindlewaveKit/Platform/Simulated/HID/RecordedMice.h"

namespace tindlewave::testkit {

struct EngineHarness : ::testing::Test {
    using Grant = PermissionState::Grant;

    ManualScheduler scheduler;
    ManualExecutor hid{scheduler, "hid"};
    ManualExecutor tap{scheduler, "tap"};
    ManualExecutor main{scheduler, "main"};
    SimulatedPermissionGrants grants;
    TempFolder folder;
    FakeHidutil hidutil{folder / "hidutil.json"};
    LogStore store{folder.path() / "log", false, scheduler.clock()};
    Journal journal{Logger("app.tindlewave", "devices", store)};
    SimulatedHIDWorld world{hid, grants, &hidutil};
    SimulatedEventSystem events{tap, grants};
    Defaults defaults{folder.path() / "defaults.json"};
    ManualWorkPool pool;
    Channel<WakeNotice> wakes{Buffering::unbounded};
    Channel<ConfigSnapshot> configs{Buffering::unbounded};
    Channel<PermissionState> permissionStates{Buffering::unbounded};
    std::unique_ptr<Engine> engine = std::make_unique<Engine>(
        EngineWorld{hid, tap, world, events, grants, defaults, journal, hidutil.host(&pool), wakes});

    std::vector<EngineStatus> statuses;
    std::vector<Action> actions;
    std::vector<LearnedPress> heard;
    std::vector<TapOrder> tapOrders;  // as the tap host followed them
    bool runEnded = false;
    Cancellable run;
    std::vector<Subscription> outputs;

    ~EngineHarness() override {
        run.cancel();
        settle();
        outputs.clear();
        engine.reset();
    }

    // Starts the run and subscribes to its outputs on the main executor.
    void start() {
        outputs.push_back(engine->statuses().subscribe(
            main, [this](EngineStatus s) { statuses.push_back(std::move(s)); }));
        outputs.push_back(
            engine->actions().subscribe(main, [this](Action a) { actions.push_back(a); }));
        outputs.push_back(
            engine->heard().subscribe(main, [this](LearnedPress p) { heard.push_back(p); }));
        onHID([this] { run = engine->run(configs, permissionStates, [this] { runEnded = true; }); });
    }

    // Runs `job` on the HID executor, then everything until quiet.
    void onHID(std::function<void()> job) {
        hid.post(std::move(job));
        settle();
    }

    // Runs ready jobs and hidutil children, and timers due within `horizon` from now, until
    // nothing is left in that window. The clock ends at the last timer run (or where it was).
    void settle(Duration horizon = std::chrono::milliseconds(500)) {
        const Instant until = scheduler.now() + horizon;
        for (;;) {
            do {
                scheduler.runReady();
            } while (pool.runNext());
            const auto next = scheduler.nextDeadline();
            if (!next || *next > until) return;
            scheduler.advanceTo(std::max(*next, scheduler.now()));
        }
    }
    // Moves the clock by `by`, running everything due on the way.
    void advance(Duration by) {
        const Instant target = scheduler.now() + by;
        while (true) {
            settle(target - scheduler.now());
            const auto next = scheduler.nextDeadline();
            if (!next || *next > target) break;
        }
        scheduler.advanceTo(target);
        settle(Duration::zero());
    }

    void send(ConfigSnapshot snapshot) {
        configs.send(std::move(snapshot));
        settle();
    }
    void send(const Config& config) { send(ConfigSnapshot{config, std::nullopt}); }
    void sendPermissions(Grant accessibility, Grant inputMonitoring) {
        grants.setAccessibility(accessibility);
        grants.setInputMonitoring(inputMonitoring);
        permissionStates.send(PermissionState{accessibility, inputMonitoring});
        settle();
    }
    void wake() {
        wakes.send(WakeNotice{});
        settle();
    }

    SimulatedHIDWorld::Attached attach(SimulatedDevice device) {
        auto attached = world.attach(std::move(device));
        settle();
        return attached;
    }
    void detach(const SimulatedHIDWorld::Attached& device) {
        world.detach(device);
        settle();
    }
    VirtualHidppMouse& mouse(const SimulatedHIDWorld::Attached& device, std::size_t interface = 0) {
        return *world.mouse(device.interfaces.at(interface));
    }
    // A press of a diverted HID++ control, then its release.
    void click(const SimulatedHIDWorld::Attached& device, CID cid, std::size_t interface = 0) {
        world.act(device.interfaces.at(interface),
                  [cid](VirtualHidppMouse& m, Instant now) { m.press(cid.rawValue, now); });
        settle();
        world.act(device.interfaces.at(interface),
                  [cid](VirtualHidppMouse& m, Instant now) { m.release(cid.rawValue, now); });
        settle();
    }
    // An input event from a device's event service, through the simulated event system.
    void inject(const Event& event, SenderID sender) {
        events.inject(event, HIDOrigin{sender, 1});
        settle();
    }
    SenderID sender(const SimulatedHIDWorld::Attached& device, std::size_t interface = 0) const {
        return SenderID{device.services.at(interface).at(0)};
    }

    const EngineStatus& latest() const { return statuses.back(); }

    std::vector<std::string> lines() {
        std::vector<std::string> messages;
        auto entries = store.entries("app.tindlewave");
        if (!entries) return messages;
        for (const auto& entry : *entries) messages.push_back(entry.message);
        return messages;
    }
    std::size_t countLines(const std::string& part) {
        auto all = lines();
        return std::count_if(all.begin(), all.end(),
                             [&](const std::string& line) { return line.find(part) != line.npos; });
    }
    bool hasLine(const std::string& line) {
        auto all = lines();
        return std::find(all.begin(), all.end(), line) != all.end();
    }

    // The arguments of every hidutil run so far.
    std::vector<std::vector<std::string>> hidutilCalls() {
        std::vector<std::vector<std::string>> calls;
        for (const auto& call : hidutil.load().value("calls", nlohmann::json::array()))
            calls.push_back(call.get<std::vector<std::string>>());
        return calls;
    }

    // The UserKeyMapping pairs of every keyboard service the stand-in hidutil knows.
    std::size_t mappedPairs() {
        std::size_t pairs = 0;
        for (const auto& service : hidutil.load().value("services", nlohmann::json::array()))
            pairs += service.value("mapping", nlohmann::json::array()).size();
        return pairs;
    }
    bool diverted(const SimulatedHIDWorld::Attached& device, std::uint16_t cid,
                  std::size_t interface = 0) {
        auto reporting = mouse(device, interface).reporting(cid);
        return reporting && reporting->divert;
    }

    static VirtualMouseDescription recordedMouse(const std::string& file) {
        auto mouse = loadVirtualMouse(testing::recordedMiceFolder() + "/" + file);
        EXPECT_TRUE(mouse) << mouse.error();
        return mouse ? *mouse : VirtualMouseDescription::basic({}, false);
    }
    static VirtualMouseDescription masterThree() {
        return recordedMouse("MX-Master-3-Wireless-Mouse-B023.json");
    }
};

}  // namespace tindlewave::testkit
