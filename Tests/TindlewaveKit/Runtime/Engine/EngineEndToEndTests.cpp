// The engine on real threads as the programs assemble it (Runtime/EngineAssembly.h): the real
// config store on a temporary folder, the simulated desktop on the real clock, the performer on a
// main executor of the test's own. Tests wait on statuses and journal lines, never on a guessed time.

#include <gtest/gtest.h>

#include <future>

#include "Model/ConfigCodec.h"
#include "Platform/Clock.h"
#include "Platform/Linux/System/Files.h"
#include "Platform/Simulated/HID/VirtualHidppMouse.h"
#include "Runtime/EngineAssembly.h"
#include "Runtime/Stores/ConfigStore.h"
#include "Runtime/Stores/Defaults.h"
#include "Runtime/Stores/LogStore.h"
#include "Runtime/Worlds/SimulatedWorld.h"
#include "TestKit/EngineHarness.h"
#include "TestKit/TempFolder.h"
#include "TestKit/Waiter.h"
#include "TindlewaveKit/Platform/Simulated/HID/LinkHarness.h"
#include "TindlewaveKit/Runtime/Engine/EngineConfigs.h"

namespace tindlewave {
namespace {

using namespace testkit;

constexpr std::uint64_t hyperFlags = 0x40000 | 0x80000 | 0x20000 | 0x100000;

struct EngineEndToEnd : ::testing::Test {
    TempFolder folder;
    RunLoopExecutor main{"test.main"};
    LogStore store{folder.path() / "log", false, SystemClock::shared()};
    Defaults defaults{folder.path() / "defaults.json"};
    EngineAssembly assembly{{
        .simulated = EngineAssembly::Options::Simulated{folder / "hidutil.json", TW_BINARY_ROOT "/hidutil-fake"},
        .defaults = defaults,
        .log = store,
        .events = nullptr,
    }};
    RunLoopExecutor& hid = assembly.hid();
    SimulatedHIDWorld& world = assembly.world().simulatedWorld()->hid;
    SimulatedEventSystem& events = assembly.world().simulatedWorld()->events;
    Engine* engine = &assembly.engine();
    std::string configPath = folder / "config/config.json";
    ConfigStore configStore{configPath};

    Waiter waiter;
    std::optional<EngineStatus> status;  // under the waiter
    bool ended = false;
    Cancellable run;
    Subscription statuses;

    void SetUp() override {
        statuses = engine->statuses().subscribe(main, [this](EngineStatus s) {
            waiter.update([&] { status = std::move(s); });
        });
        assembly.start(main);
        std::promise<void> started;
        configStore.start([&] { started.set_value(); });
        started.get_future().wait();
        run = assembly.run(configStore.snapshots(), [this] { waiter.update([&] { ended = true; }); });
    }
    void TearDown() override {
        run.cancel();
        EXPECT_TRUE(waiter.waitFor([&] { return ended; }));
        statuses.cancel();
        main.stop();
        main.join();
        assembly.stop();
    }

    // Runs `job` on the HID executor and waits for it.
    void onHID(std::function<void()> job) {
        std::promise<void> done;
        hid.post([&] {
            job();
            done.set_value();
        });
        done.get_future().wait();
    }
    void save(const Config& config) {
        auto text = ConfigCodec::encode(config);
        ASSERT_TRUE(text.ok());
        ASSERT_TRUE(files::writeAtomically(configPath, *text).ok());
    }
    bool waitForStatus(const std::function<bool(const EngineStatus&)>& condition) {
        return waiter.waitFor([&] { return status && condition(*status); });
    }
    static bool setUp(const EngineStatus& s, std::size_t row = 0) {
        return s.devices.size() > row && s.devices[row].hidpp &&
               is<HIDPPStatus::Progress::SetUp>(s.devices[row].hidpp->progress);
    }
    // Reads the mouse on its executor.
    template <class F>
    auto onMouse(const SimulatedHIDWorld::Attached& device, F read) {
        std::promise<decltype(read(std::declval<VirtualHidppMouse&>()))> result;
        onHID([&] { result.set_value(read(*world.mouse(device.interfaces[0]))); });
        return result.get_future().get();
    }
    void act(const SimulatedHIDWorld::Attached& device,
             std::function<void(VirtualHidppMouse&, Instant)> action) {
        world.act(device.interfaces[0], std::move(action));
    }
    bool waitForLine(const std::string& part) {
        return waiter.waitFor(
            [&] {
                auto entries = store.entries("app.tindlewave");
                if (!entries) return false;
                for (const auto& entry : *entries)
                    if (entry.message.find(part) != std::string::npos) return true;
                return false;
            },
            std::chrono::seconds(20));
    }
    // Waits for an event that applications would see (delivered through the taps, or posted).
    bool waitForEvent(const std::function<bool(const Event&)>& which) {
        // Nothing tells the test when the performer posts; look again after each of the main
        // executor's turns.
        return testkit::pollUntil(
            [&] {
                for (const auto& posted : events.posted())
                    if (which(posted.event)) return true;
                for (const auto& delivered : events.delivered())
                    if (which(delivered)) return true;
                std::promise<void> turn;
                main.post([&] { turn.set_value(); });
                turn.get_future().wait();
                hid.post([] {});
                return false;
            },
            std::chrono::seconds(20), std::chrono::milliseconds(1));
    }
    bool masterIsAsIntended(const SimulatedHIDWorld::Attached& device) {
        std::optional<HIDPPSetup> plan;
        onHID([&] {
            auto setup = engine->intent().setups.find(DeviceInstanceID{1});
            if (setup != engine->intent().setups.end()) plan = setup->second.hidpp;
        });
        if (!plan) return false;
        return onMouse(device, [&](VirtualHidppMouse& mouse) { return testing::mouseIsIn(mouse, *plan); });
    }
};

DeviceProfile masterWithGesture() {
    DeviceProfile master = masterProfile();
    master.rules->push_back(Rule{Control::hidpp(CID{0xC3}), Trigger::holdMove(Direction::up),
                                 shortcut(0x7E, Modifiers::control)});
    return master;
}

TEST_F(EngineEndToEnd, ASavedConfigurationSetsUpTheRecordedMouseExactly) {
    const auto master = world.attach(SimulatedDevice::hidppMouse(EngineHarness::masterThree(), 0x10));
    ASSERT_TRUE(waitForStatus([](const EngineStatus& s) { return s.newDevices.size() == 1; }));

    save(configWith({masterWithGesture()}));
    ASSERT_TRUE(waitForStatus([](const EngineStatus& s) {
        return setUp(s) && s.devices[0].hidpp->capabilities.has_value();
    }));
    EXPECT_TRUE(masterIsAsIntended(master));
    EXPECT_TRUE(onMouse(master, [](VirtualHidppMouse& m) { return m.reporting(0x53)->divert; }));
    EXPECT_TRUE(onMouse(master, [](VirtualHidppMouse& m) { return m.reporting(0xC3)->rawXY; }));
    EXPECT_FALSE(onMouse(master, [](VirtualHidppMouse& m) { return m.reporting(0x56)->divert; }));
}

TEST_F(EngineEndToEnd, AClickAndAGesturePostTheirShortcuts) {
    const auto master = world.attach(SimulatedDevice::hidppMouse(EngineHarness::masterThree(), 0x10));
    save(configWith({masterWithGesture()}));
    ASSERT_TRUE(waitForStatus([](const EngineStatus& s) { return setUp(s); }));

    act(master, [](VirtualHidppMouse& m, Instant now) {
        m.press(0x53, now);
        m.release(0x53, now);
    });
    EXPECT_TRUE(waitForEvent([](const Event& e) {
        return e.type == EventType::keyDown && e.integer(IntegerField::keyCode) == 0x7B;
    }));

    act(master, [](VirtualHidppMouse& m, Instant now) {
        m.press(0xC3, now);
        for (int i = 0; i < 20; ++i) m.move(0, -40, now);
        m.release(0xC3, now);
    });
    EXPECT_TRUE(waitForEvent([](const Event& e) {
        return e.type == EventType::keyDown && e.integer(IntegerField::keyCode) == 0x7E;
    }));
}

TEST_F(EngineEndToEnd, AHyperKeyboardHoldsTheFourModifiersThroughTheTap) {
    const auto keyboard = world.attach(hyperKeyboard());
    save(configWith({hyperKeyboardProfile()}));
    ASSERT_TRUE(waitForStatus([](const EngineStatus& s) {
        return s.tap == TapState::on && s.devices.size() == 1 && s.devices[0].hyper == HyperStatus::on();
    }));
    Event f18;
    f18.type = EventType::keyDown;
    f18.setInteger(IntegerField::keyCode, 79);
    events.inject(f18, HIDOrigin{SenderID{keyboard.services.at(0).at(0)}, 0});
    EXPECT_TRUE(waitForEvent([](const Event& e) {
        return e.type == EventType::flagsChanged && (e.flags & hyperFlags) == hyperFlags;
    }));
}

TEST_F(EngineEndToEnd, UnplugAndReplugSetTheMouseUpAgain) {
    const auto master = world.attach(SimulatedDevice::hidppMouse(EngineHarness::masterThree(), 0x10));
    save(configWith({masterProfile()}));
    ASSERT_TRUE(waitForStatus([](const EngineStatus& s) { return setUp(s); }));

    world.detach(master);
    ASSERT_TRUE(waitForLine("disconnect #1 MX Master 3"));
    const auto again = world.attach(SimulatedDevice::hidppMouse(EngineHarness::masterThree(), 0x10));
    ASSERT_TRUE(waitForLine("connect #2 MX Master 3"));
    ASSERT_TRUE(waitForStatus([](const EngineStatus& s) {
        return setUp(s) && s.lastReconnect && s.lastReconnect->reapplied;
    }));
    EXPECT_TRUE(onMouse(again, [](VirtualHidppMouse& m) { return m.reporting(0x53)->divert; }));
}

TEST_F(EngineEndToEnd, AWakeSetsUpAMouseThatLostItsSettings) {
    const auto master = world.attach(SimulatedDevice::hidppMouse(EngineHarness::masterThree(), 0x10));
    save(configWith({masterProfile()}));
    ASSERT_TRUE(waitForStatus([](const EngineStatus& s) { return setUp(s); }));

    act(master, [](VirtualHidppMouse& m, Instant now) { m.reconnect(now, false); });
    EXPECT_FALSE(onMouse(master, [](VirtualHidppMouse& m) { return m.reporting(0x53)->divert; }));
    assembly.wake();
    ASSERT_TRUE(waitForLine("reasons=wake"));
    ASSERT_TRUE(waitForLine("hidpp #1 MX Master 3 Wireless Mouse reasons=wake attempt=1 applied"));
    EXPECT_TRUE(onMouse(master, [](VirtualHidppMouse& m) { return m.reporting(0x53)->divert; }));
}

}  // namespace
}  // namespace tindlewave
