// Device slots: the key-map worker through the fake hidutil on a manual work pool (children run
// on the test's thread, in order) and the HID++ half against the simulated world.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "Runtime/Devices/Slot.h"
#include "TindlewaveKit/Platform/Simulated/HID/LinkHarness.h"
#include "TindlewaveKit/Runtime/Devices/DeviceWorld.h"

namespace tindlewave {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

const KeyRoute hyperRoute{HIDUsage{0x39},
                          KeyTarget::carrier(Carrier::hyperKey(),
                                             CarrierMeaning::holdModifiers(Modifiers::hyper))};

struct SlotTest : testing::DeviceWorld {
    testkit::ManualWorkPool pool;
    DeviceSetup desired = DeviceSetup::neutral();
    int changes = 0;
    std::vector<HIDPPCapabilities> discoveries;
    std::vector<KeyHoldEvent> holds;
    std::vector<Action> performed;

    Slot::Callbacks callbacks() {
        return {[this] { return desired; },
                [this] { ++changes; },
                [this](const HIDPPCapabilities& c) { discoveries.push_back(c); },
                [this](const Action& a) { performed.push_back(a); },
                [](const HoldScrollEvent&) {},
                [this](const KeyHoldEvent& e) { holds.push_back(e); },
                [](const ListenPress&) {}};
    }

    // A device plugged in and found, as the hub would present it, with its slot.
    std::unique_ptr<Slot> slotFor(SimulatedDevice device, bool owesNative = false) {
        const auto attached = world.attach(device);
        scheduler.runReady();
        PresentDevice present;
        present.id = DeviceInstanceID{++nextID};
        present.properties = HIDProperties::fromBag(device.properties(device.interfaces[0]));
        present.key = present.properties.key();
        HIDDeviceRef hidpp;
        if (device.interfaces[0].hidpp) hidpp = world.interface(attached.interfaces[0])->shared_from_this();
        interfaces = attached.interfaces;
        return std::make_unique<Slot>(present, scheduler.clock().date(), hidpp, owesNative,
                                      callbacks(), Slot::Context{hid, hidutil.host(&pool), journal});
    }

    // Runs jobs and hidutil children until neither has anything left.
    void drive() {
        do {
            scheduler.runReady();
        } while (pool.runNext());
    }
    std::vector<std::string> hidutilCalls() {
        std::vector<std::string> calls;
        for (const auto& call : hidutil.load().value("calls", nlohmann::json::array())) {
            calls.push_back(call.size() > 3 ? call[3].get<std::string>() : "?");
        }
        return calls;  // "--get" or "--set" for each run
    }
    std::uint64_t nextID = 0;
    std::vector<RegistryID> interfaces;
};

TEST_F(SlotTest, AMouseWithoutAKeyboardNeverRunsHidutil) {
    auto slot = slotFor(SimulatedDevice::plainMouse(0x1234, 1, "Mouse", 1));
    desired.keyMap.routes = {hyperRoute};
    slot->invalidate(ApplyReason::connected);
    drive();
    EXPECT_EQ(pool.pending(), 0u);
    EXPECT_TRUE(hidutilCalls().empty());
    EXPECT_FALSE(slot->hasKeyMap());
    EXPECT_FALSE(slot->busy());
    EXPECT_FALSE(slot->reapplied());  // neither part exists
}

TEST_F(SlotTest, AKeyboardWithNothingWantedOrLeftSurveysAndStops) {
    auto slot = slotFor(SimulatedDevice::externalKeyboard(0x1234, 0x0042, {}, 3));
    slot->applyKeyMap(ApplyReason::launch);
    EXPECT_TRUE(slot->busy());
    drive();
    EXPECT_EQ(hidutilCalls(), std::vector<std::string>{"--get"});
    EXPECT_TRUE(slot->surveyed());
    EXPECT_FALSE(slot->ownedOnDevice());
    EXPECT_TRUE(is<Slot::Phase::Idle>(slot->phase()));
    EXPECT_FALSE(slot->busy());
    EXPECT_EQ(slot->matching(),
              R"({"VendorID":0x1234,"ProductID":0x42,"PrimaryUsagePage":1,"PrimaryUsage":6})");
}

TEST_F(SlotTest, ALeftoverCarrierIsAdoptedAndCleared) {
    auto slot = slotFor(SimulatedDevice::builtInKeyboard());
    hidutil.change([](nlohmann::json& state) {
        state["services"][0]["mapping"] = {{0x700000039ull, 0x70000006Dull}};
    });
    slot->applyKeyMap(ApplyReason::launch);
    drive();
    EXPECT_EQ(hidutilCalls(), (std::vector<std::string>{"--get", "--set", "--get"}));
    EXPECT_TRUE(hidutil.load()["services"][0]["mapping"].empty());
    ASSERT_TRUE(slot->ownedOnDevice());
    EXPECT_TRUE(slot->ownedOnDevice()->routes.empty());
    EXPECT_EQ(slot->matching(), R"({"Built-In":1,"PrimaryUsagePage":1,"PrimaryUsage":6})");
    EXPECT_EQ(lines().back(), "apply #1 Built-in Keyboard reasons=launch attempt=1 routes=0 applied");
}

TEST_F(SlotTest, ReasonsArrivingDuringAWriteMakeOneMorePass) {
    auto slot = slotFor(SimulatedDevice::externalKeyboard(0x1234, 0x0042, "Keys", 3));
    desired.keyMap.routes = {hyperRoute};
    slot->applyKeyMap(ApplyReason::launch);
    scheduler.runReady();
    pool.runNext();  // the survey
    scheduler.runReady();
    ASSERT_EQ(pool.pending(), 1u);  // the write is on its way
    EXPECT_TRUE(is<Slot::Phase::Applying>(slot->phase()));
    slot->applyKeyMap(ApplyReason::configChanged);
    slot->applyKeyMap(ApplyReason::manual);
    slot->applyKeyMap(ApplyReason::wake);
    drive();
    const auto written = lines();
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[0], "apply #1 Keys reasons=launch attempt=1 routes=1 applied");
    EXPECT_EQ(written[1], "apply #1 Keys reasons=configChanged,manual,wake attempt=1 routes=1 applied");
    EXPECT_TRUE(slot->reapplied());
    EXPECT_FALSE(slot->busy());
}

TEST_F(SlotTest, FailuresAreRetriedFiveTimesAndANewReasonStartsAgain) {
    auto slot = slotFor(SimulatedDevice::externalKeyboard(0x1234, 0x0042, {}, 3));
    desired.keyMap.routes = {hyperRoute};
    hidutil.change([](nlohmann::json& state) { state["exitStatus"] = 1; });
    slot->applyKeyMap(ApplyReason::launch);
    drive();
    std::vector<Duration> waits;
    while (auto next = scheduler.nextDeadline()) {
        waits.push_back(*next - scheduler.now());
        scheduler.advanceTo(*next);
        drive();
    }
    EXPECT_EQ(waits, (std::vector<Duration>{milliseconds(300), seconds(1), seconds(2), seconds(4),
                                            seconds(8)}));
    EXPECT_EQ(hidutilCalls().size(), 6u);
    ASSERT_TRUE(is<Slot::Phase::Failed>(slot->phase()));
    EXPECT_EQ(as<Slot::Phase::Failed>(slot->phase())->error.description(),
              "hidutil exited 1: hidutil: failed on purpose");
    EXPECT_EQ(lines()[0], "survey #1 Unknown device failed: hidutil exited 1: hidutil: failed on purpose");

    slot->applyKeyMap(ApplyReason::configChanged);
    drive();
    EXPECT_EQ(hidutilCalls().size(), 7u);
    EXPECT_EQ(scheduler.nextDeadline(), scheduler.now() + milliseconds(300));
}

TEST_F(SlotTest, NothingRunsForASlotThatIsGone) {
    auto slot = slotFor(SimulatedDevice::externalKeyboard(0x1234, 0x0042, {}, 3));
    desired.keyMap.routes = {hyperRoute};
    hidutil.change([](nlohmann::json& state) { state["exitStatus"] = 1; });
    slot->applyKeyMap(ApplyReason::launch);
    drive();
    ASSERT_EQ(scheduler.timerCount(), 1u);  // the retry
    hidutil.change([](nlohmann::json& state) { state["exitStatus"] = 0; });
    scheduler.advance(milliseconds(300));
    scheduler.runReady();
    ASSERT_EQ(pool.pending(), 1u);  // the retry's survey is on its way
    slot.reset();
    drive();
    scheduler.advance(seconds(30));
    EXPECT_EQ(changes, 2);  // the first pass's only
    EXPECT_EQ(lines().size(), 1u);
}

TEST_F(SlotTest, TheHIDPPHalfOpensOnlyWhenSomethingIsWantedAndNotesAFailedOpen) {
    const auto mouse = recordedMouse();
    auto slot = slotFor(SimulatedDevice::hidppMouse(mouse, 1));
    slot->invalidate(ApplyReason::connected);
    drive();
    EXPECT_EQ(slot->session(), nullptr);
    EXPECT_EQ(world.interface(interfaces[0])->opens(), 0);

    grants.setInputMonitoring(PermissionState::Grant::denied);
    desired.discoverHIDPP = true;
    slot->applyHIDPP(ApplyReason::launch);
    EXPECT_EQ(slot->session(), nullptr);
    ASSERT_TRUE(slot->hidppLast());
    EXPECT_EQ(slot->hidppLast()->outcome, Slot::HIDPPApply::skipped("waiting for Input Monitoring"));
    EXPECT_EQ(lines().back(), "HID++ #1 " + mouse.name + " skipped: waiting for Input Monitoring");
    EXPECT_EQ(changes, 1);

    grants.setInputMonitoring(PermissionState::Grant::granted);
    slot->applyHIDPP(ApplyReason::permissionChanged);
    ASSERT_NE(slot->session(), nullptr);
    scheduler.advance(seconds(30));
    EXPECT_EQ(discoveries.size(), 1u);
    EXPECT_EQ(slot->hidppLast()->outcome, Slot::HIDPPApply::applied());
    EXPECT_TRUE(slot->reapplied());
}

TEST_F(SlotTest, ALatchedDeviceWritesTheNativeSetUpAtItsFirstApply) {
    const auto mouse = recordedMouse();
    auto slot = slotFor(SimulatedDevice::hidppMouse(mouse, 1), /*owesNative=*/true);
    const Date began = scheduler.clock().date();
    slot->applyHIDPP(ApplyReason::launch);
    ASSERT_NE(slot->session(), nullptr);
    EXPECT_EQ(slot->handedPlan(), std::optional<std::optional<HIDPPSetup>>(HIDPPSetup::native()));
    EXPECT_TRUE(slot->busy());
    EXPECT_FALSE(slot->putBackSince(began));
    EXPECT_EQ(slot->hidppJobReasons(), std::set<ApplyReason>{ApplyReason::launch});
    scheduler.advance(seconds(30));
    EXPECT_FALSE(slot->busy());
    EXPECT_TRUE(slot->hidppJobReasons().empty());
    testing::expectMouseIn(*world.mouse(interfaces[0]), HIDPPSetup::native());
    EXPECT_EQ(slot->hidppLast()->outcome, Slot::HIDPPApply::applied());
    // Put back for a quit that began before that apply, not for one that began after it.
    EXPECT_TRUE(slot->putBackSince(began));
    EXPECT_FALSE(slot->putBackSince(scheduler.clock().date() + seconds(1)));
}

TEST_F(SlotTest, ReappliedNeedsEveryPartThatExists) {
    auto keyboard = slotFor(SimulatedDevice::externalKeyboard(0x1234, 0x0042, {}, 3));
    EXPECT_FALSE(keyboard->reapplied());
    desired.keyMap.routes = {hyperRoute};
    EXPECT_FALSE(keyboard->reapplied());  // nothing owned yet
    keyboard->applyKeyMap(ApplyReason::launch);
    drive();
    EXPECT_TRUE(keyboard->reapplied());
    desired.keyMap.routes.push_back(KeyRoute{HIDUsage{0x3A}, KeyTarget::native(HIDUsage{0xE1})});
    EXPECT_FALSE(keyboard->reapplied());  // the owned routes differ

    // A keyboard-and-HID++ device: both parts must be in place.
    auto combo = SimulatedDevice::hidppMouse(recordedMouse(), 2);
    combo.interfaces[0].usagePairs.push_back({1, 6});
    auto both = slotFor(combo);
    desired = DeviceSetup::neutral();
    desired.keyMap.routes = {hyperRoute};
    desired.discoverHIDPP = true;
    hidutil.change([](nlohmann::json& state) { state["exitStatus"] = 1; });
    both->invalidate(ApplyReason::connected);
    drive();
    scheduler.advance(milliseconds(100));
    EXPECT_EQ(both->hidppLast()->outcome, Slot::HIDPPApply::applied());
    EXPECT_TRUE(is<Slot::Phase::Failed>(both->phase()));
    EXPECT_FALSE(both->reapplied());
    hidutil.change([](nlohmann::json& state) { state["exitStatus"] = 0; });
    scheduler.advance(seconds(1));
    drive();
    EXPECT_TRUE(is<Slot::Phase::Idle>(both->phase()));
    EXPECT_TRUE(both->reapplied());
    desired.hidpp = HIDPPSetup::native();
    both->applyHIDPP(ApplyReason::manual);
    EXPECT_TRUE(both->hidppApplying());
    EXPECT_FALSE(both->reapplied());

    // A HID++ job that failed is not in place.
    auto mouse = slotFor(SimulatedDevice::hidppMouse(recordedMouse(), 4));
    desired = DeviceSetup::neutral();
    desired.discoverHIDPP = true;
    world.interface(interfaces[0])->failingReports = 1'000'000;
    mouse->applyHIDPP(ApplyReason::launch);
    scheduler.advance(seconds(6) + milliseconds(100));  // timed out, its retry not yet begun
    EXPECT_FALSE(mouse->hidppApplying());
    ASSERT_TRUE(mouse->hidppLast());
    ASSERT_TRUE(is<Slot::HIDPPApply::Failed>(mouse->hidppLast()->outcome));
    EXPECT_FALSE(mouse->reapplied());
}

TEST_F(SlotTest, ANewPassCancelsTheRetryOfAFailedOne) {
    auto slot = slotFor(SimulatedDevice::externalKeyboard(0x1234, 0x0042, {}, 3));
    desired.keyMap.routes = {hyperRoute};
    hidutil.change([](nlohmann::json& state) { state["exitStatus"] = 1; });
    slot->applyKeyMap(ApplyReason::launch);
    drive();
    ASSERT_EQ(scheduler.nextDeadline(), scheduler.now() + milliseconds(300));
    hidutil.change([](nlohmann::json& state) { state["exitStatus"] = 0; });
    slot->applyKeyMap(ApplyReason::configChanged);
    drive();
    ASSERT_TRUE(is<Slot::Phase::Idle>(slot->phase()));
    const std::size_t runs = hidutilCalls().size();
    scheduler.advance(seconds(10));
    drive();
    EXPECT_EQ(hidutilCalls().size(), runs);  // no retry of what has since succeeded
    for (const auto& line : lines()) EXPECT_EQ(line.find("reasons=retry"), line.npos) << line;
}

TEST_F(SlotTest, HIDPPEventsReachTheCallbacksWithTheControlAsHolder) {
    const auto mouse = recordedMouse();
    std::uint16_t cid = 0;
    for (const auto& control : mouse.controls) {
        if (control.divertable() && !control.isVirtual() && control.cid != 0x50) cid = control.cid;
    }
    auto slot = slotFor(SimulatedDevice::hidppMouse(mouse, 1));
    const KeyHold shift{{HeldModifier::leftShift}, std::nullopt};
    HIDPPSetup plan;
    plan.controls = {{CID{cid}, ControlBehavior::hold(shift)}};
    desired.hidpp = plan;
    slot->applyHIDPP(ApplyReason::launch);
    scheduler.advance(seconds(30));
    world.act(interfaces[0], [cid](VirtualHidppMouse& m, Instant now) { m.press(cid, now); });
    scheduler.advance(milliseconds(10));
    const KeyHolder holder = KeyHolder::control(DeviceInstanceID{1}, CID{cid});
    ASSERT_EQ(holds.size(), 1u);
    EXPECT_EQ(holds[0], KeyHoldEvent::press(holder, shift));
    EXPECT_TRUE(slot->hidppWrites().owesNative);

    slot->close();
    ASSERT_EQ(holds.size(), 2u);
    EXPECT_EQ(holds[1], KeyHoldEvent::release(holder));
    EXPECT_TRUE(slot->session()->isClosed());
    slot->invalidate(ApplyReason::manual);  // a closed slot starts nothing
    EXPECT_EQ(pool.pending(), 0u);
}

TEST_F(SlotTest, ASlotWithoutHIDPPInterfaceTakesOneThatComesLater) {
    auto slot = slotFor(SimulatedDevice::plainMouse(0x046D, 0xB023, "Mouse", 1));
    const auto late = plugIn(SimulatedDevice::hidppMouse(recordedMouse(), 1));
    desired.discoverHIDPP = true;
    slot->applyHIDPP(ApplyReason::launch);
    EXPECT_EQ(slot->session(), nullptr);
    EXPECT_TRUE(slot->adoptHIDPPInterface(late));
    EXPECT_FALSE(slot->adoptHIDPPInterface(late));
    slot->applyHIDPP(ApplyReason::connected);
    scheduler.advance(seconds(30));
    EXPECT_EQ(discoveries.size(), 1u);
}

}  // namespace
}  // namespace tindlewave
