// The quit: the record of diverted devices kept or cleared by how the devices settled, the
// bounded wait on the executor's clock that ends when the last device settles, what is released
// before the tap goes, a second quit, and a wake while paused.

#include <gtest/gtest.h>

#include "Platform/Simulated/HID/SimulatedHIDInterface.h"
#include "Runtime/DivertLatch.h"
#include "TestKit/EngineHarness.h"
#include "TindlewaveKit/Runtime/Engine/EngineConfigs.h"

namespace tindlewave {
namespace {

using namespace testkit;
using std::chrono::milliseconds;
using std::chrono::seconds;

// The key "listenDiverted" holds for the recorded MX Master 3.
const std::string masterKey = R"({"VendorID":0x46D,"ProductID":0xB023,"PrimaryUsagePage":1,"PrimaryUsage":6})";

struct EngineShutdownTest : EngineHarness {
    int completions = 0;
    Instant quitAt{};
    std::optional<Instant> doneAt;

    void quit() {
        quitAt = scheduler.now();
        hid.post([this] {
            engine->shutdown([this] {
                ++completions;
                if (!doneAt) doneAt = scheduler.now();
            });
        });
    }
    bool recorded() { return defaults.contains(DivertLatch::key); }
    std::vector<std::string> record() {
        return defaults.stringArray(DivertLatch::key).value_or(std::vector<std::string>{});
    }
    void recordSomething() { ASSERT_FALSE(defaults.set(DivertLatch::key, std::vector<std::string>{"x"})); }

    // A set-up MX Master 3 (its back button diverted by a rule).
    SimulatedHIDWorld::Attached setUpMaster() {
        const auto master = attach(SimulatedDevice::hidppMouse(masterThree(), 0x10));
        start();
        send(configWith({masterProfile()}));
        settle(seconds(2));
        EXPECT_TRUE(diverted(master, 0x53));
        return master;
    }
    Duration quitTook() const { return doneAt ? *doneAt - quitAt : Duration::max(); }
};

TEST_F(EngineShutdownTest, WithoutDevicesTheRecordGoesAtOnceButNotBeforeAnyDeviceWasSeen) {
    recordSomething();
    start();  // no snapshot yet: nothing examined
    quit();
    settle(Duration::zero());
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(quitTook(), Duration::zero());
    EXPECT_TRUE(recorded());
}

TEST_F(EngineShutdownTest, AStartedEngineWithoutDevicesClearsTheRecordWithoutWaiting) {
    recordSomething();
    start();
    send(configWith({}));
    quit();
    settle(Duration::zero());
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(quitTook(), Duration::zero());
    EXPECT_FALSE(recorded());
}

TEST_F(EngineShutdownTest, AResponsiveMouseEndsTheQuitAsSoonAsItSettles) {
    recordSomething();
    const auto master = setUpMaster();
    const auto before = mouse(master).requestsReceived().size();
    quit();
    settle(seconds(2));
    ASSERT_EQ(completions, 1);
    // One 1 ms reply after another, and no wait for the next 20 ms check after the last.
    const auto requests = mouse(master).requestsReceived().size() - before;
    ASSERT_LT(requests, 20u);
    EXPECT_EQ(quitTook(), milliseconds(requests));
    EXPECT_FALSE(diverted(master, 0x53));
    EXPECT_FALSE(recorded());
}

TEST_F(EngineShutdownTest, AMouseThatDoesNotSettleKeepsTheRecordAndIsAddedToIt) {
    recordSomething();
    const auto master = setUpMaster();
    mouse(master).faults.dropReplies = 1000;  // the quit's apply never ends in time
    quit();
    settle(seconds(3));
    ASSERT_EQ(completions, 1);
    EXPECT_EQ(quitTook(), seconds(1));
    // Diverted by an ordinary rule and not put back: undiverted at the next launch, and said.
    EXPECT_EQ(record(), (std::vector<std::string>{"x", masterKey}));
    EXPECT_EQ(countLines("was not put back in time: 0x53 stay diverted until the next start puts them back"), 1u);
}

TEST_F(EngineShutdownTest, AMouseUnpluggedDuringTheWaitEndsItWhenItLeaves) {
    const auto master = setUpMaster();
    mouse(master).faults.dropReplies = 1000;
    quit();
    advance(milliseconds(45));
    ASSERT_EQ(completions, 0);
    world.detach(master);
    settle(Duration::zero());
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(quitTook(), milliseconds(45));  // not at the next 20 ms check
}

TEST_F(EngineShutdownTest, AnApplyThatKeepsFailingKeepsTheRecordForTheFullSecond) {
    recordSomething();
    const auto master = setUpMaster();
    mouse(master).faults.errors.push_back({0x1B04, 3, 0x53, 0x05, 1000});
    quit();
    settle(seconds(3));
    ASSERT_EQ(completions, 1);
    EXPECT_EQ(quitTook(), seconds(1));
    EXPECT_TRUE(diverted(master, 0x53));
    EXPECT_EQ(record(), (std::vector<std::string>{"x", masterKey}));
}

TEST_F(EngineShutdownTest, AMouseThatCannotBeOpenedKeepsTheRecord) {
    // Listened to in an earlier run: owed the native set-up, but Input Monitoring is revoked.
    ASSERT_FALSE(defaults.set(DivertLatch::key, std::vector<std::string>{masterKey}));
    grants.setInputMonitoring(Grant::denied);
    attach(SimulatedDevice::hidppMouse(masterThree(), 0x10));
    start();
    send(configWith({}));
    quit();
    settle(seconds(3));
    ASSERT_EQ(completions, 1);
    EXPECT_EQ(quitTook(), seconds(1));
    EXPECT_EQ(record(), (std::vector<std::string>{masterKey}));
}

TEST_F(EngineShutdownTest, AnApplyThatFailsOnceAndAppliesOnItsRetryClearsTheRecord) {
    recordSomething();
    const auto master = setUpMaster();
    mouse(master).faults.errors.push_back({0x1B04, 3, 0x53, 0x05, 1});
    quit();
    settle(seconds(3));
    ASSERT_EQ(completions, 1);
    EXPECT_GT(quitTook(), milliseconds(300));
    EXPECT_LT(quitTook(), seconds(1));
    EXPECT_FALSE(diverted(master, 0x53));
    EXPECT_FALSE(recorded());
}

TEST_F(EngineShutdownTest, AKeyMapRemovalThatFailsOnceIsWaitedForUntilItsRetry) {
    attach(hyperKeyboard());
    start();
    send(configWith({hyperKeyboardProfile()}));
    settle(seconds(2));
    ASSERT_GT(mappedPairs(), 0u);
    const auto lag = [this](bool lags) {
        hidutil.change([lags](auto& state) {
            for (auto& service : state["services"]) service["lags"] = lags;
        });
    };
    lag(true);  // the first pass's write is not taken
    std::optional<std::size_t> pairsAtEnd;
    quitAt = scheduler.now();
    hid.post([this, &pairsAtEnd] {
        engine->shutdown([this, &pairsAtEnd] {
            ++completions;
            doneAt = scheduler.now();
            pairsAtEnd = mappedPairs();
        });
    });
    advance(milliseconds(100));
    ASSERT_EQ(completions, 0);
    lag(false);
    settle(seconds(2));
    ASSERT_EQ(completions, 1);
    EXPECT_EQ(pairsAtEnd, 0u);
    EXPECT_GE(quitTook(), milliseconds(300));  // the retry's back-off
    EXPECT_LT(quitTook(), seconds(1));
}

TEST_F(EngineShutdownTest, AKeyMapRemovalThatKeepsFailingEndsTheWaitAtTheDeadline) {
    attach(hyperKeyboard());
    start();
    send(configWith({hyperKeyboardProfile()}));
    settle(seconds(2));
    ASSERT_GT(mappedPairs(), 0u);
    hidutil.change([](auto& state) { state["exitStatus"] = 1; });
    quit();
    settle(seconds(3));
    ASSERT_EQ(completions, 1);
    EXPECT_EQ(quitTook(), seconds(1));
}

TEST_F(EngineShutdownTest, EverythingHeldIsReleasedBeforeTheTapGoes) {
    // The mouse's back button holds Command; a plain mouse's button 4 is held through the tap; a
    // listen is armed on the keyboard; the keyboard has a hyper key.
    DeviceProfile master = profile(masterMatch, "MX Master 3",
                                   {Rule{Control::hidpp(CID{0x53}), Trigger::hold(),
                                         Action::modifier(HeldModifier::leftCommand)}});
    const auto mx = attach(SimulatedDevice::hidppMouse(masterThree(), 0x10));
    const auto plain = attach(plainMouse());
    attach(hyperKeyboard());
    start();
    send(configWith({master, plainMouseProfile(), hyperKeyboardProfile()}));
    settle(seconds(2));
    ASSERT_GT(mappedPairs(), 0u);

    onHID([&] { engine->listen(keyboardMatch); });
    const auto baseline = events.flagsState();
    world.act(mx.interfaces[0], [](VirtualHidppMouse& m, Instant now) { m.press(0x53, now); });
    settle();
    ASSERT_NE(events.flagsState(), baseline);  // Command is held
    Event down;
    down.type = EventType::otherMouseDown;
    down.location = {500, 500};
    down.setInteger(IntegerField::buttonNumber, 4);
    inject(down, sender(plain));
    events.clearLogs();

    quit();
    settle(seconds(2));
    ASSERT_EQ(completions, 1);
    EXPECT_TRUE(hasLine("listen ended: stopped"));
    // Nothing but the non-coalesced bit (0x100) is left of what was held.
    EXPECT_EQ(events.flagsState() & ~std::uint64_t{0x100}, baseline);
    bool commandUp = false;
    for (const auto& posted : events.posted()) {
        if (posted.event.type == EventType::flagsChanged && (posted.event.flags & ~std::uint64_t{0x100}) == baseline) {
            commandUp = true;
        }
    }
    EXPECT_TRUE(commandUp);
    tap.post([&] { EXPECT_EQ(events.tapCount(), 0u); });
    settle();
    EXPECT_FALSE(diverted(mx, 0x53));
    EXPECT_EQ(mappedPairs(), 0u);
}

TEST_F(EngineShutdownTest, ASecondQuitAppliesNothingAndEndsWithTheFirst) {
    const auto master = setUpMaster();
    quit();
    hid.post([this] { engine->shutdown([this] { ++completions; }); });
    settle(Duration::zero());
    EXPECT_EQ(completions, 0);
    settle(seconds(2));
    EXPECT_EQ(completions, 2);

    const auto requests = mouse(master).requestsReceived().size();
    const auto now = scheduler.now();
    hid.post([this] { engine->shutdown([this] { ++completions; }); });
    settle(seconds(2));
    EXPECT_EQ(completions, 3);
    EXPECT_EQ(scheduler.now(), now);  // no second wait
    EXPECT_EQ(mouse(master).requestsReceived().size(), requests);
}

TEST_F(EngineShutdownTest, AWakeWhilePausedReconcilesAndStaysNeutral) {
    const auto master = setUpMaster();
    onHID([&] { engine->setPaused(true); });
    settle(seconds(2));
    ASSERT_FALSE(diverted(master, 0x53));
    world.act(master.interfaces[0], [](VirtualHidppMouse& m, Instant now) { m.reconnect(now); });
    settle(seconds(2));
    const auto applies = countLines("reasons=wake");
    wake();
    settle(seconds(2));
    EXPECT_GT(countLines("reasons=wake"), applies);
    EXPECT_FALSE(diverted(master, 0x53));
    EXPECT_EQ(latest().run, RunState::paused);
}

TEST_F(EngineShutdownTest, EveryMouseLeftDivertedByAQuitDuringSetUpIsInTheRecord) {
    // Forty mice of forty models, each answering more slowly than the last, so that the quit
    // comes while some are still being set up and its second ends before the slowest are back.
    constexpr std::uint16_t mice = 40;
    std::vector<SimulatedHIDWorld::Attached> attached;
    std::vector<DeviceProfile> profiles;
    std::vector<DeviceMatch> matches;
    for (std::uint16_t i = 0; i < mice; ++i) {
        VirtualMouseDescription model = masterThree();
        model.productID = static_cast<std::uint16_t>(0xB100 + i);
        matches.push_back(DeviceMatch::device(VendorID{0x046D}, ProductID{model.productID}));
        profiles.push_back(profile(matches.back(), "Mouse " + std::to_string(i),
                                   masterProfile().rules.value()));
        attached.push_back(attach(SimulatedDevice::hidppMouse(model, 0x10 + i)));
        mouse(attached.back()).replyLatency = milliseconds(1 + 3 * i);
    }
    start();
    send(configWith(profiles));
    advance(milliseconds(150));
    // What the quit left diverted when it ended (the program exits then).
    std::vector<std::uint16_t> left;
    hid.post([&] {
        engine->shutdown([&] {
            ++completions;
            for (std::uint16_t i = 0; i < mice; ++i) {
                if (diverted(attached[i], 0x53)) left.push_back(i);
            }
        });
    });
    settle(seconds(3));
    ASSERT_EQ(completions, 1);
    EXPECT_GT(left.size(), 0u);
    EXPECT_LT(left.size(), std::size_t{mice});
    const DivertLatch latch{defaults};
    for (std::uint16_t i : left) EXPECT_TRUE(latch.contains(matches[i])) << "mouse " << i;
}

}  // namespace
}  // namespace tindlewave
