// The link against the virtual mouse, on a virtual clock.

#include <gtest/gtest.h>

#include <algorithm>

#include "TindlewaveKit/Platform/Simulated/HID/LinkHarness.h"
#include "TindlewaveKit/Platform/Simulated/HID/RecordedMice.h"

namespace tindlewave {
namespace {

using testing::expectMouseIn;
using testing::LinkHarness;
using Events = std::vector<HIDPPEvent>;
using std::chrono::milliseconds;
using std::chrono::seconds;

const Action actionA = Action::system(SystemAction::missionControl);
const Action actionB = Action::system(SystemAction::spaceLeft);

// The first recorded mouse with a thumb wheel and a gesture button 0xC3.
VirtualMouseDescription recordedMouse() {
    auto files = recordedMouseFiles(testing::recordedMiceFolder());
    EXPECT_TRUE(files) << files.error();
    for (const auto& file : files ? *files : std::vector<std::string>{}) {
        auto mouse = loadVirtualMouse(file);
        EXPECT_TRUE(mouse) << mouse.error();
        if (!mouse || !mouse->thumbWheel) continue;
        for (const auto& control : mouse->controls) {
            if (control.cid == 0xC3) return *mouse;
        }
    }
    ADD_FAILURE() << "no recorded mouse with a thumb wheel and control 0xC3";
    return VirtualMouseDescription::basic({}, false);
}

// 0xC3 swipes up, 0x56 clicks, the wheel is inverted.
HIDPPSetup plan() {
    HIDPPSetup setup;
    setup.controls = {
        {CID{0xC3},
         ControlBehavior::gesture(GesturePlan{
             50, actionB,
             GestureMoves::swipes({{Direction::up, actionA}}, GestureFire::pastDistance)})},
        {CID{0x56}, ControlBehavior::press(actionB)}};
    setup.thumbWheelInverted = true;
    return setup;
}

// The first recorded mouse without a thumb wheel: its look-up is answered "absent".
VirtualMouseDescription recordedMouseWithoutWheel() {
    auto files = recordedMouseFiles(testing::recordedMiceFolder());
    EXPECT_TRUE(files) << files.error();
    for (const auto& file : files ? *files : std::vector<std::string>{}) {
        auto mouse = loadVirtualMouse(file);
        EXPECT_TRUE(mouse) << mouse.error();
        if (mouse && !mouse->thumbWheel) return *mouse;
    }
    ADD_FAILURE() << "no recorded mouse without a thumb wheel";
    return VirtualMouseDescription::basic({}, false);
}

HIDPPReport request(std::uint8_t index, std::uint8_t function,
                    std::initializer_list<std::uint8_t> params) {
    HIDPPReport bytes{0x11, 0xFF, index, static_cast<std::uint8_t>((function << 4) | 0x0B)};
    std::copy(params.begin(), params.end(), bytes.begin() + 4);
    return bytes;
}

std::vector<HIDPPReport> sentReports(const LinkHarness& harness, std::size_t from = 0) {
    std::vector<HIDPPReport> reports;
    for (std::size_t i = from; i < harness.sent.size(); ++i)
        reports.push_back(harness.sent[i].report);
    return reports;
}

TEST(LinkAgainstMouse, DiscoversAndAppliesInOrder) {
    LinkHarness harness(recordedMouse());
    const auto& mouse = harness.mouse.description();
    const std::uint8_t reprog = mouse.indexOf(0x1B04);
    const std::uint8_t wheel = mouse.indexOf(0x2150);
    harness.request(ApplyReason::launch, plan());
    harness.runUntilQuiet();

    // Written out from the mouse's description, independently of the link's own tables.
    std::vector<HIDPPReport> expected = {request(0, 0, {0x1B, 0x04}), request(0, 0, {0x21, 0x50}),
                                         request(0, 0, {0x1D, 0x4B}), request(reprog, 0, {})};
    for (std::size_t i = 0; i < mouse.controls.size(); ++i) {
        expected.push_back(request(reprog, 1, {static_cast<std::uint8_t>(i)}));
    }
    std::vector<HIDPPReport> checks;
    HIDPPCapabilities capabilities{{}, true};
    for (const auto& control : mouse.controls) {
        if (control.isVirtual()) continue;
        capabilities.controls.push_back({CID{control.cid}, control.divertable(), control.rawXY()});
        if (!control.divertable()) continue;
        const std::uint8_t flags = control.cid == 0xC3 ? 0x33 : control.cid == 0x56 ? 0x23 : 0x22;
        const auto hi = static_cast<std::uint8_t>(control.cid >> 8);
        const auto lo = static_cast<std::uint8_t>(control.cid & 0xFF);
        expected.push_back(request(reprog, 3, {hi, lo, flags, 0, 0}));
        checks.push_back(request(reprog, 2, {hi, lo}));
    }
    expected.push_back(request(wheel, 2, {0, 1}));
    expected.insert(expected.end(), checks.begin(), checks.end());
    expected.push_back(request(wheel, 1, {}));
    EXPECT_EQ(sentReports(harness), expected);

    const ApplyScheduler::Job job{{ApplyReason::launch}, 1};
    EXPECT_EQ(harness.eventsSince(),
              (Events{HIDPPEvent::applyStarted(job), HIDPPEvent::discovered(capabilities),
                      HIDPPEvent::applyFinished(job, HIDPPOutcome::applied())}));
    expectMouseIn(harness.mouse, plan());
    EXPECT_EQ(harness.deadline, std::nullopt);

    // The diverted controls now work through the link.
    const std::size_t from = harness.events.size();
    harness.press(0x56);
    harness.release(0x56);
    harness.press(0xC3);
    harness.move(0, -60);
    harness.release(0xC3);
    harness.press(0x52);  // not diverted: acts natively, the link hears nothing
    EXPECT_EQ(harness.eventsSince(from),
              (Events{HIDPPEvent::perform(actionB), HIDPPEvent::perform(actionA)}));
}

TEST(LinkAgainstMouse, BareDeviceIsDiscoveredAndAppliedInOneOutput) {
    LinkHarness harness(VirtualMouseDescription::basic({}, false));
    harness.request(ApplyReason::launch, plan());
    harness.runUntilQuiet();
    EXPECT_EQ(harness.sent.size(), 3u);  // three look-ups; nothing to count
    const ApplyScheduler::Job job{{ApplyReason::launch}, 1};
    EXPECT_EQ(harness.entries.back().output.events,
              (Events{HIDPPEvent::discovered(HIDPPCapabilities{}),
                      HIDPPEvent::applyFinished(job, HIDPPOutcome::applied())}));
}

TEST(LinkAgainstMouse, CrossedRepliesFailDiscoveryAndTheRetryDiscoversCleanly) {
    for (int skip : {0, 5}) {  // a crossed feature look-up, a crossed control description
        LinkHarness harness(recordedMouse());
        // Let `skip` requests pass, then cross the next two replies.
        harness.request(ApplyReason::launch, plan());
        while (harness.mouse.requestsReceived().size() < static_cast<std::size_t>(skip) + 1) {
            harness.step(harness.now + seconds(10));
        }
        harness.mouse.faults.crossReplies = 1;
        harness.runUntil(harness.now + seconds(10));

        const ApplyScheduler::Job first{{ApplyReason::launch}, 1};
        ASSERT_GE(harness.events.size(), 2u);
        EXPECT_EQ(harness.events[1].event,
                  HIDPPEvent::applyFinished(
                      first, HIDPPOutcome::failed(HIDPPFailure::inconsistentDiscovery())));
        const Instant failedAt = harness.events[1].at;
        // Nothing of that discovery was kept; the retry discovers again and applies.
        harness.runUntilQuiet();
        ASSERT_EQ(harness.events.size(), 5u) << "skip " << skip;
        EXPECT_EQ(harness.events[2].at, failedAt + milliseconds(300));
        EXPECT_EQ(harness.events[2].event, HIDPPEvent::applyStarted({{ApplyReason::retry}, 2}));
        EXPECT_TRUE(is<HIDPPEvent::Discovered>(harness.events[3].event));
        EXPECT_EQ(harness.lastOutcome(), HIDPPOutcome::applied());
        expectMouseIn(harness.mouse, plan());
    }
}

TEST(LinkAgainstMouse, ALateAnswerToAResentLookUpIsNotTakenForTheNext) {
    // The thumb-wheel look-up's answer comes 2.5 s late: it is sent again, both copies are
    // answered "absent", and the second answer arrives after the link has moved on.
    LinkHarness harness(recordedMouseWithoutWheel());
    const auto& mouse = harness.mouse.description();
    harness.request(ApplyReason::launch, plan());
    harness.mouse.faults.delayReplies = 1;  // the next request's reply
    harness.runUntilQuiet();

    const auto reports = sentReports(harness);
    ASSERT_GE(reports.size(), 6u);
    const std::vector<HIDPPReport> head(reports.begin(), reports.begin() + 6);
    EXPECT_EQ(head,
              (std::vector{request(0, 0, {0x1B, 0x04}), request(0, 0, {0x21, 0x50}),
                           request(0, 0, {0x21, 0x50}), request(0, 1, {0, 0, 1}),
                           request(0, 0, {0x1D, 0x4B}), request(mouse.indexOf(0x1B04), 0, {})}));
    // Both answers reached the link, the second while the ping was in flight.
    const auto absent = std::count_if(
        harness.delivered.begin(), harness.delivered.end(), [](const auto& delivered) {
            return delivered.report[2] == 0x00 && delivered.report[3] == 0x0B &&
                   delivered.report[4] == 0x00;
        });
    EXPECT_EQ(absent, 2);
    EXPECT_EQ(harness.link.features.index(HIDPPFeature::wirelessStatus), mouse.indexOf(0x1D4B));
    EXPECT_EQ(harness.link.features.index(HIDPPFeature::thumbWheel), std::nullopt);
    EXPECT_EQ(harness.lastOutcome(), HIDPPOutcome::applied());
    expectMouseIn(harness.mouse, plan());

    // Later runs send no ping: nothing is owed any more.
    const std::size_t from = harness.sent.size();
    harness.request(ApplyReason::configChanged, plan());
    harness.runUntilQuiet();
    for (std::size_t i = from; i < harness.sent.size(); ++i) {
        EXPECT_NE(harness.sent[i].report[2], 0x00) << "a root request in an apply run";
    }
}

TEST(LinkAgainstMouse, ACrossedAbsentAnswerFailsDiscovery) {
    // The thumb-wheel look-up's "absent" comes again just before the wireless look-up's answer.
    LinkHarness harness(recordedMouseWithoutWheel());
    harness.request(ApplyReason::launch, plan());
    harness.mouse.faults.crossReplies = 1;
    harness.runUntilQuiet();
    const ApplyScheduler::Job first{{ApplyReason::launch}, 1};
    ASSERT_GE(harness.events.size(), 2u);
    EXPECT_EQ(harness.events[1].event,
              HIDPPEvent::applyFinished(
                  first, HIDPPOutcome::failed(HIDPPFailure::inconsistentDiscovery())));
    EXPECT_EQ(harness.link.features.index(HIDPPFeature::wirelessStatus),
              harness.mouse.description().indexOf(0x1D4B));
    EXPECT_EQ(harness.lastOutcome(), HIDPPOutcome::applied());
    expectMouseIn(harness.mouse, plan());
}

TEST(LinkAgainstMouse, MismatchAndDeviceErrorEndTheRun) {
    {  // The first read-back lies: the remaining read-backs are not sent in that run.
        LinkHarness harness(recordedMouse());
        const std::uint8_t reprog = harness.mouse.description().indexOf(0x1B04);
        harness.mouse.faults.corruptReadBacks = 1;
        harness.request(ApplyReason::launch, plan());
        harness.runUntil(harness.now + milliseconds(200));
        const auto outcome = harness.lastOutcome();
        ASSERT_TRUE(outcome && is<HIDPPOutcome::Failed>(*outcome));
        const auto& failure = as<HIDPPOutcome::Failed>(*outcome)->failure;
        ASSERT_TRUE(is<HIDPPFailure::Mismatch>(failure));
        EXPECT_EQ(failure.description(), "read back 0x52 did not match");
        const auto readBacks = std::count_if(
            harness.sent.begin(), harness.sent.end(),
            [&](const auto& sent) { return sent.report[2] == reprog && sent.report[3] == 0x2B; });
        EXPECT_EQ(readBacks, 1);
        harness.runUntilQuiet();
        EXPECT_EQ(harness.lastOutcome(), HIDPPOutcome::applied());
        expectMouseIn(harness.mouse, plan());
    }
    {  // The device refuses to divert 0xC3.
        LinkHarness harness(recordedMouse());
        harness.mouse.faults.errors.push_back({0x1B04, 3, 0xC3, 0x05, 1});
        harness.request(ApplyReason::launch, plan());
        harness.runUntil(harness.now + milliseconds(200));
        EXPECT_EQ(harness.lastOutcome(), HIDPPOutcome::failed(HIDPPFailure::deviceError(
                                             HIDPPStep::setReporting(CID{0xC3}, {true, true}), 5)));
        harness.runUntilQuiet();
        EXPECT_EQ(harness.lastOutcome(), HIDPPOutcome::applied());
    }
}

TEST(LinkAgainstMouse, ForeignAndShortRepliesLeaveTheRequestInFlight) {
    LinkHarness harness(recordedMouse());
    harness.mouse.faults.foreignSoftwareId = 1;
    harness.request(ApplyReason::launch, plan());
    harness.mouse.faults.shortReports = 1;  // for the answer to the first resend
    harness.runUntilQuiet();
    // The first look-up went out three times, at 0, 2 and 4 s; the third answer was taken.
    ASSERT_GE(harness.sent.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(harness.sent[i].report, request(0, 0, {0x1B, 0x04}));
        EXPECT_EQ(harness.sent[i].at, Instant{} + seconds(2 * i));
    }
    EXPECT_NE(harness.sent[3].report, harness.sent[0].report);
    EXPECT_EQ(harness.lastOutcome(), HIDPPOutcome::applied());
}

TEST(LinkAgainstMouse, ReconnectDuringARunQueuesDeviceAsked) {
    LinkHarness harness(recordedMouse());
    harness.request(ApplyReason::launch, plan());
    harness.runUntilQuiet();
    const std::size_t applied = harness.events.size();

    // Reconnect in the middle of the next run: the mouse forgets its settings.
    harness.request(ApplyReason::configChanged, plan());
    harness.step(harness.now + seconds(1));
    harness.step(harness.now + seconds(1));
    harness.reconnect();
    harness.runUntilQuiet();
    const auto events = harness.eventsSince(applied);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_TRUE(is<HIDPPEvent::ApplyFinished>(events[1]));
    EXPECT_EQ(events[2], HIDPPEvent::applyStarted({{ApplyReason::deviceAsked}, 1}));
    EXPECT_EQ(events[3],
              HIDPPEvent::applyFinished({{ApplyReason::deviceAsked}, 1}, HIDPPOutcome::applied()));
    expectMouseIn(harness.mouse, plan());
}

TEST(LinkAgainstMouse, AControlDownWhenItStopsBeingDivertedIsReleasedAndItsNextPressCounts) {
    const KeyHold shift{{HeldModifier::leftShift}, std::nullopt};
    HIDPPSetup holding;
    holding.controls = {{CID{0x56}, ControlBehavior::hold(shift)}};
    const Events pressed{HIDPPEvent::holdKeys(CID{0x56}, shift)};
    LinkHarness harness(recordedMouse());
    harness.request(ApplyReason::launch, holding);
    harness.runUntilQuiet();

    // Down while an apply undiverts it: the key hold ends, and the mouse reports the release
    // natively.
    std::size_t from = harness.events.size();
    harness.press(0x56);
    EXPECT_EQ(harness.eventsSince(from), pressed);
    harness.request(ApplyReason::configChanged, HIDPPSetup{});
    harness.runUntilQuiet();
    EXPECT_TRUE(harness.link.held.empty());
    EXPECT_EQ(harness.eventsSince(from).at(1), HIDPPEvent::releaseKeys(CID{0x56}));
    harness.release(0x56);
    harness.request(ApplyReason::configChanged, holding);
    harness.runUntilQuiet();
    from = harness.events.size();
    harness.press(0x56);
    EXPECT_EQ(harness.eventsSince(from), pressed);

    // Down at a reconnect: the mouse forgot everything, and the hold ends before the set-up is
    // written again.
    harness.reconnect();
    EXPECT_EQ(harness.eventsSince(from).at(1), HIDPPEvent::releaseKeys(CID{0x56}));
    harness.runUntilQuiet();
    EXPECT_TRUE(harness.link.held.empty());
    from = harness.events.size();
    harness.press(0x56);
    EXPECT_EQ(harness.eventsSince(from), pressed);
    harness.release(0x56);
    EXPECT_EQ(harness.eventsSince(from).back(), HIDPPEvent::releaseKeys(CID{0x56}));
}

}  // namespace
}  // namespace tindlewave

namespace tindlewave {
namespace {

// A mouse behind a receiver answers at its pairing slot: the link given that index writes it,
// takes the mouse's replies and notices, and ignores the same reports from the directly attached
// index; a link at 0xFF ignores a paired slot's reports.
TEST(LinkAgainstMouse, APairedMouseIsSpokenToAtItsSlotAndOtherIndicesAreIgnored) {
    auto paired = recordedMouse();
    paired.deviceIndex = 2;
    testing::LinkHarness harness(paired);
    harness.link.deviceIndex = 2;
    harness.request(ApplyReason::launch, plan());
    harness.runUntilQuiet();
    EXPECT_EQ(harness.lastOutcome(), HIDPPOutcome::applied());
    ASSERT_FALSE(harness.sent.empty());
    for (const auto& sent : harness.sent) EXPECT_EQ(sent.report[1], 2);
    testing::expectMouseIn(harness.mouse, plan());

    const std::uint8_t reprog = paired.indexOf(0x1B04);
    std::size_t from = harness.events.size();
    // 0x56 pressed, from the paired slot and then as if from a directly attached device.
    harness.deliver({0x11, 0x02, reprog, 0x00, 0x00, 0x56, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_GT(harness.events.size(), from);
    from = harness.events.size();
    harness.deliver({0x11, 0xFF, reprog, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(harness.events.size(), from);

    testing::LinkHarness direct(recordedMouse());
    direct.request(ApplyReason::launch, plan());
    direct.runUntilQuiet();
    from = direct.events.size();
    direct.deliver({0x11, 0x01, reprog, 0x00, 0x00, 0x56, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(direct.events.size(), from);
}

}  // namespace
}  // namespace tindlewave
