// The HID++ session against the simulated HID world and the recorded mice.

#include <gtest/gtest.h>

#include "Runtime/Devices/HIDPPSession.h"
#include "TindlewaveKit/Platform/Simulated/HID/LinkHarness.h"
#include "TindlewaveKit/Runtime/Devices/DeviceWorld.h"

namespace tindlewave {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

const Action actionA = Action::system(SystemAction::missionControl);
const KeyHold shift{{HeldModifier::leftShift}, std::nullopt};

// The first divertable, non-virtual control of a mouse other than the left button.
std::uint16_t divertableControl(const VirtualMouseDescription& mouse) {
    for (const auto& control : mouse.controls) {
        if (control.divertable() && !control.isVirtual() && control.cid != 0x50) return control.cid;
    }
    ADD_FAILURE() << mouse.name << " has no divertable control";
    return 0;
}

HIDPPSetup pressPlan(std::uint16_t cid, bool invertWheel) {
    HIDPPSetup plan;
    plan.controls = {{CID{cid}, ControlBehavior::press(actionA)}};
    plan.thumbWheelInverted = invertWheel;
    return plan;
}

struct SessionTest : testing::DeviceWorld {
    std::vector<HIDPPEvent> events;

    HIDPPSession::EventHandler recorder() {
        return [this](const HIDPPEvent& event) { events.push_back(event); };
    }

    std::unique_ptr<HIDPPSession> open(const HIDDeviceRef& device) {
        auto session = HIDPPSession::open(device, hid, journal, recorder());
        EXPECT_TRUE(session) << (session ? "" : session.error().description());
        return session ? std::move(*session) : nullptr;
    }

    template <class C>
    std::size_t count() const {
        return static_cast<std::size_t>(std::count_if(
            events.begin(), events.end(), [](const HIDPPEvent& e) { return is<C>(e); }));
    }
    std::optional<HIDPPOutcome> lastOutcome() const {
        for (auto it = events.rbegin(); it != events.rend(); ++it) {
            if (const auto* finished = as<HIDPPEvent::ApplyFinished>(*it)) return finished->outcome;
        }
        return std::nullopt;
    }

    // An input report as the interface delivers it, on the HID executor.
    void inject(const HIDDeviceRef& device, testkit::Bytes report) {
        hid.post([this, device, report] { simulated(device).deliver(report); });
        scheduler.runReady();
    }

    // Runs the world until nothing is due within a minute.
    void settle() { scheduler.advance(seconds(60)); }
};

TEST_F(SessionTest, DiscoveryAndApplyLeaveEveryRecordedMouseInThePlan) {
    std::uint32_t location = 1;
    for (const auto& description : recordedMice()) {
        events.clear();
        const auto device = plugIn(SimulatedDevice::hidppMouse(description, location++));
        auto session = open(device);
        ASSERT_TRUE(session);
        const auto plan = pressPlan(divertableControl(description), description.thumbWheel.has_value());
        session->request(ApplyReason::launch, plan);
        settle();

        EXPECT_EQ(count<HIDPPEvent::Discovered>(), 1u) << description.name;
        ASSERT_TRUE(lastOutcome()) << description.name;
        EXPECT_TRUE(is<HIDPPOutcome::Applied>(*lastOutcome())) << description.name;
        testing::expectMouseIn(*simulated(device).mouse(), plan);
        EXPECT_FALSE(session->link().scheduler.running);
        EXPECT_FALSE(session->wakeAt());

        // Undiverting is an apply of the native set-up like any other.
        session->request(ApplyReason::quit, HIDPPSetup::native());
        settle();
        testing::expectMouseIn(*simulated(device).mouse(), HIDPPSetup::native());
        session->close();
    }
}

TEST_F(SessionTest, ASecondRequestInFlightWritesNothingAndKeepsTheDeadline) {
    const auto device = plugIn(SimulatedDevice::hidppMouse(recordedMouse(), 1));
    auto session = open(device);
    const auto plan = pressPlan(divertableControl(recordedMouse()), false);
    session->request(ApplyReason::launch, plan);
    const auto written = simulated(device).mouse()->requestsReceived().size();
    const auto deadline = session->wakeAt();
    ASSERT_TRUE(deadline);
    const auto timers = scheduler.timerCount();

    session->request(ApplyReason::configChanged, plan);
    EXPECT_EQ(simulated(device).mouse()->requestsReceived().size(), written);
    EXPECT_EQ(session->wakeAt(), deadline);
    EXPECT_EQ(scheduler.timerCount(), timers);

    settle();
    // The second reason got a run of its own once the first had finished.
    EXPECT_EQ(count<HIDPPEvent::ApplyFinished>(), 2u);
}

TEST_F(SessionTest, AFailingWriteIsJournalledOnceAndResentTwoSecondsLater) {
    const auto device = plugIn(SimulatedDevice::hidppMouse(recordedMouse(), 1));
    simulated(device).failingReports = 1;
    simulated(device).failingReportCode = static_cast<HIDResult>(0xE000404Fu);
    auto session = open(device);
    session->request(ApplyReason::launch, std::nullopt);
    EXPECT_EQ(lines(), std::vector<std::string>{"HID++ write returned 0xe000404f; the link asks again"});
    EXPECT_TRUE(simulated(device).mouse()->requestsReceived().empty());

    scheduler.advance(milliseconds(1999));
    EXPECT_TRUE(simulated(device).mouse()->requestsReceived().empty());
    scheduler.advance(milliseconds(1));
    EXPECT_EQ(simulated(device).mouse()->requestsReceived().size(), 1u);
    settle();
    EXPECT_EQ(count<HIDPPEvent::Discovered>(), 1u);
    EXPECT_EQ(lines().size(), 1u);
}

TEST_F(SessionTest, BufferFollowsTheLargestInputReportAndOtherReportIDsAreIgnored) {
    auto small = SimulatedDevice::hidppMouse(recordedMouse(), 1);
    small.interfaces[0].maxInputReportSize = 7;
    auto missing = SimulatedDevice::hidppMouse(recordedMouse(), 2);
    missing.interfaces[0].maxInputReportSize.reset();
    auto large = SimulatedDevice::hidppMouse(recordedMouse(), 3);
    large.interfaces[0].maxInputReportSize = 64;
    EXPECT_EQ(open(plugIn(small))->bufferSize(), 20u);
    EXPECT_EQ(open(plugIn(missing))->bufferSize(), 64u);
    EXPECT_EQ(open(plugIn(large))->bufferSize(), 64u);

    // A press of a diverted control, once as a long report and once under other report ids.
    const auto description = recordedMouse();
    const std::uint16_t cid = divertableControl(description);
    const auto device = plugIn(SimulatedDevice::hidppMouse(description, 4));
    auto session = open(device);
    session->request(ApplyReason::launch, pressPlan(cid, false));
    settle();
    const auto reprog = description.indexOf(VirtualMouseDescription::reprogControlsFeature);
    const auto hi = static_cast<std::uint8_t>(cid >> 8);
    const auto lo = static_cast<std::uint8_t>(cid & 0xFF);
    for (std::uint8_t id : {std::uint8_t{0x10}, std::uint8_t{0x12}, std::uint8_t{0x20}}) {
        inject(device, testkit::bytes({id, 0xFF, reprog, 0x00, hi, lo}));
        inject(device, testkit::bytes({id, 0xFF, reprog, 0x00}));
    }
    EXPECT_EQ(count<HIDPPEvent::Perform>(), 0u);
    inject(device, testkit::bytes({0x11, 0xFF, reprog, 0x00, hi, lo}));
    inject(device, testkit::bytes({0x11, 0xFF, reprog, 0x00}));
    EXPECT_EQ(count<HIDPPEvent::Perform>(), 1u);
}

TEST_F(SessionTest, CloseReleasesHeldKeysOnceAndEndsAllInput) {
    const auto description = recordedMouse();
    const std::uint16_t cid = divertableControl(description);
    const auto device = plugIn(SimulatedDevice::hidppMouse(description, 1));
    auto session = open(device);
    HIDPPSetup plan;
    plan.controls = {{CID{cid}, ControlBehavior::hold(shift)}};
    session->request(ApplyReason::launch, plan);
    settle();
    // A run waits for a reply that never comes, so a wake-up is pending while the control is down.
    simulated(device).mouse()->faults.dropReplies = 100;
    session->request(ApplyReason::manual, plan);
    world.act(device->registryID(),
              [cid](VirtualHidppMouse& mouse, Instant now) { mouse.press(cid, now); });
    scheduler.advance(milliseconds(10));
    ASSERT_EQ(count<HIDPPEvent::HoldKeys>(), 1u);
    ASSERT_TRUE(session->wakeAt());
    const auto written = simulated(device).mouse()->requestsReceived().size();
    session->close();
    EXPECT_EQ(events.back(), HIDPPEvent::releaseKeys(CID{cid}));
    const auto delivered = events.size();
    session->close();
    EXPECT_EQ(events.size(), delivered);
    EXPECT_FALSE(simulated(device).hasInputCallback());
    EXPECT_FALSE(simulated(device).isOpen());

    world.act(device->registryID(), [cid](VirtualHidppMouse& mouse, Instant now) {
        mouse.release(cid, now);
        mouse.press(cid, now);
    });
    settle();
    session->request(ApplyReason::manual, plan);
    EXPECT_EQ(events.size(), delivered);
    EXPECT_EQ(simulated(device).mouse()->requestsReceived().size(), written);
}

TEST_F(SessionTest, ADroppedSessionLeavesNoCallbackAndNoWakeUp) {
    const auto device = plugIn(SimulatedDevice::hidppMouse(recordedMouse(), 1));
    auto session = open(device);
    session->request(ApplyReason::launch, std::nullopt);
    ASSERT_TRUE(session->wakeAt());
    EXPECT_TRUE(simulated(device).hasInputCallback());
    const auto delivered = events.size();
    session.reset();
    EXPECT_FALSE(simulated(device).hasInputCallback());
    EXPECT_FALSE(simulated(device).isOpen());
    settle();  // the mouse still answers; nothing reaches the freed session
    EXPECT_EQ(events.size(), delivered);
    EXPECT_EQ(scheduler.timerCount(), 0u);
}

TEST_F(SessionTest, OpenFailuresSayWhyAndRegisterNothing) {
    const auto device = plugIn(SimulatedDevice::hidppMouse(recordedMouse(), 1));
    grants.setInputMonitoring(PermissionState::Grant::denied);
    auto refused = HIDPPSession::open(device, hid, journal, recorder());
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), HIDPPSession::OpenFailure::notPermitted());
    EXPECT_EQ(refused.error().description(), "waiting for Input Monitoring");

    grants.setInputMonitoring(PermissionState::Grant::granted);
    simulated(device).openResult = static_cast<HIDResult>(0xE00002C5u);
    auto failed = HIDPPSession::open(device, hid, journal, recorder());
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().description(), "the device did not open (0xe00002c5)");
    EXPECT_EQ(HIDPPSession::OpenFailure::failed(-1).description(),
              "the device did not open (0xffffffff)");
    EXPECT_FALSE(simulated(device).hasInputCallback());
}

TEST_F(SessionTest, ARequestFromInsideEventDeliveryLeavesTheOuterDeliveryWhole) {
    const auto description = recordedMouse();
    const std::uint16_t cid = divertableControl(description);
    const auto device = plugIn(SimulatedDevice::hidppMouse(description, 1));
    HIDPPSetup listening;
    listening.listening = true;
    std::unique_ptr<HIDPPSession> session;
    // As listening does: a heard press asks the same session for a new plan at once.
    auto opened = HIDPPSession::open(device, hid, journal, [&](const HIDPPEvent& event) {
        events.push_back(event);
        if (is<HIDPPEvent::Heard>(event)) session->request(ApplyReason::listen, pressPlan(cid, false));
    });
    ASSERT_TRUE(opened);
    session = std::move(*opened);
    session->request(ApplyReason::listen, listening);
    settle();
    testing::expectMouseIn(*simulated(device).mouse(), listening);

    world.act(device->registryID(), [cid](VirtualHidppMouse& mouse, Instant now) {
        mouse.press(cid, now);
        mouse.release(cid, now);
    });
    settle();
    EXPECT_EQ(count<HIDPPEvent::Heard>(), 1u);
    EXPECT_TRUE(is<HIDPPOutcome::Applied>(*lastOutcome()));
    testing::expectMouseIn(*simulated(device).mouse(), pressPlan(cid, false));
}

TEST_F(SessionTest, TheMouseAskingAfterAReconnectGetsThePlanAgain) {
    const auto description = recordedMouse();
    const auto device = plugIn(SimulatedDevice::hidppMouse(description, 1));
    auto session = open(device);
    const auto plan = pressPlan(divertableControl(description), true);
    session->request(ApplyReason::launch, plan);
    settle();

    // A reconnect that does not ask leaves the mouse native until the next reason.
    world.act(device->registryID(), [](VirtualHidppMouse& mouse, Instant now) {
        mouse.reconnect(now, /*askForConfiguration=*/false);
    });
    settle();
    EXPECT_EQ(count<HIDPPEvent::ApplyStarted>(), 1u);
    testing::expectMouseIn(*simulated(device).mouse(), HIDPPSetup::native());

    world.act(device->registryID(), [](VirtualHidppMouse& mouse, Instant now) { mouse.reconnect(now); });
    settle();
    ASSERT_EQ(count<HIDPPEvent::ApplyStarted>(), 2u);
    const auto started = std::find_if(events.rbegin(), events.rend(), [](const HIDPPEvent& e) {
        return is<HIDPPEvent::ApplyStarted>(e);
    });
    EXPECT_TRUE(as<HIDPPEvent::ApplyStarted>(*started)->job.reasons.contains(ApplyReason::deviceAsked));
    EXPECT_TRUE(is<HIDPPOutcome::Applied>(*lastOutcome()));
    testing::expectMouseIn(*simulated(device).mouse(), plan);
}

TEST_F(SessionTest, AnInterfaceLeavingMidRunFailsTheRunAndIsJournalled) {
    const auto device = plugIn(SimulatedDevice::hidppMouse(recordedMouse(), 1));
    auto session = open(device);
    session->request(ApplyReason::launch, std::nullopt);
    scheduler.advance(std::chrono::microseconds(1500));  // partway through discovery
    world.detach(device->registryID());
    settle();
    ASSERT_TRUE(lastOutcome());
    EXPECT_TRUE(is<HIDPPOutcome::Failed>(*lastOutcome()));
    EXPECT_EQ(count<HIDPPEvent::Discovered>(), 0u);
    const auto written = lines();
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(written.front(), "HID++ write returned 0xe00002c0; the link asks again");
    session->close();
}

}  // namespace
}  // namespace tindlewave
