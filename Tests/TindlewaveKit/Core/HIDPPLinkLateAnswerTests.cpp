// Answers the device still owes to earlier copies of a request: after a resend or a time-out the
// link pings and waits for the echo before it trusts an answer again.

#include <gtest/gtest.h>

#include <initializer_list>

#include "Core/HIDPP/Link.h"
#include "TestKit/HIDPPBytes.h"

namespace tindlewave {
namespace {

using testkit::Bytes;
using testkit::bytes;
using testkit::report;
using Events = std::vector<HIDPPEvent>;
using std::chrono::milliseconds;
using std::chrono::seconds;

const Instant t0{};
constexpr std::uint8_t reprogIndex = 6;
constexpr std::uint8_t wirelessIndex = 4;

// Root look-ups and their answers; the device answers a ping with its protocol version (4.5)
// and the ping's data byte.
const HIDPPReport findReprog = report({0x11, 0xFF, 0x00, 0x0B, 0x1B, 0x04});
const HIDPPReport findWheel = report({0x11, 0xFF, 0x00, 0x0B, 0x21, 0x50});
const HIDPPReport findWireless = report({0x11, 0xFF, 0x00, 0x0B, 0x1D, 0x4B});
const HIDPPReport countControls = report({0x11, 0xFF, reprogIndex, 0x0B});
Bytes foundAt(std::uint8_t index) {
    return bytes({0x11, 0xFF, 0x00, 0x0B, index});
}
HIDPPReport ping(std::uint8_t data) {
    return report({0x11, 0xFF, 0x00, 0x1B, 0x00, 0x00, data});
}
Bytes echo(std::uint8_t data) {
    return bytes({0x11, 0xFF, 0x00, 0x1B, 0x04, 0x05, data});
}

std::vector<HIDPPReport> reports(std::initializer_list<HIDPPReport> list) {
    return list;
}

TEST(HIDPPLinkLateAnswers, AnAnswerToAResentLookUpIsFollowedByAPing) {
    // The device lacks a thumb wheel. Its look-up is sent twice and both copies are answered
    // "absent"; read as the next look-up's answer, the second would hide the wireless status.
    HIDPPLink link;
    link.request(ApplyReason::launch, HIDPPSetup{}, t0);
    EXPECT_EQ(link.receive(foundAt(reprogIndex), t0 + milliseconds(10)).reports,
              reports({findWheel}));
    EXPECT_EQ(link.tick(t0 + milliseconds(2010)).reports, reports({findWheel}));

    const Instant answered = t0 + milliseconds(2100);
    EXPECT_EQ(link.receive(foundAt(0), answered),
              (HIDPPOutput{{ping(1)}, {}, answered + seconds(2)}));
    // The second copy's answer, and an echo of another ping, match nothing.
    EXPECT_EQ(link.receive(foundAt(0), answered), (HIDPPOutput{{}, {}, answered + seconds(2)}));
    EXPECT_EQ(link.receive(echo(0), answered), (HIDPPOutput{{}, {}, answered + seconds(2)}));
    EXPECT_EQ(link.receive(echo(1), answered).reports, reports({findWireless}));
    EXPECT_EQ(link.receive(foundAt(wirelessIndex), answered).reports, reports({countControls}));

    const auto out = link.receive(bytes({0x11, 0xFF, reprogIndex, 0x0B, 0x00}), answered);
    const ApplyScheduler::Job job{{ApplyReason::launch}, 1};
    EXPECT_EQ(out.events, (Events{HIDPPEvent::discovered(HIDPPCapabilities{{}, false}),
                                  HIDPPEvent::applyFinished(job, HIDPPOutcome::applied())}));
    EXPECT_EQ(link.features.index(HIDPPFeature::wirelessStatus), wirelessIndex);
    EXPECT_EQ(link.lateAnswers, HIDPPLink::LateAnswers::none);
}

TEST(HIDPPLinkLateAnswers, APingIsResentAndFailsTheRunLikeAnyStep) {
    HIDPPLink link;
    link.request(ApplyReason::launch, HIDPPSetup{}, t0);
    link.tick(t0 + seconds(2));
    const Instant answered = t0 + milliseconds(2500);
    ASSERT_EQ(link.receive(foundAt(reprogIndex), answered).reports, reports({ping(1)}));

    EXPECT_EQ(link.tick(answered + seconds(2)).reports, reports({ping(1)}));
    EXPECT_EQ(link.tick(answered + seconds(4)).reports, reports({ping(1)}));
    const auto failed = link.tick(answered + seconds(6));
    const auto failure = HIDPPFailure::timedOut(HIDPPStep::ping(1));
    EXPECT_EQ(failed.events, (Events{HIDPPEvent::applyFinished({{ApplyReason::launch}, 1},
                                                               HIDPPOutcome::failed(failure))}));
    EXPECT_EQ(failure.description(), "no reply to ping");
    EXPECT_EQ(HIDPPFailure::deviceError(HIDPPStep::ping(2), 5).description(),
              "ping failed with HID++ error 5");

    // The retry asks as a first run does.
    const Instant retry = answered + seconds(6) + milliseconds(300);
    EXPECT_EQ(link.tick(retry).reports, reports({findReprog}));
    EXPECT_EQ(link.receive(foundAt(reprogIndex), retry).reports, reports({ping(2)}));
}

TEST(HIDPPLinkLateAnswers, AResentPingIsFollowedByAnotherPing) {
    // The controls' look-up is resent and answered twice; so is the ping behind it. The second
    // echo of that ping comes after the first has been taken: during discovery it must not
    // count as an answer given twice.
    HIDPPLink link;
    link.request(ApplyReason::launch, HIDPPSetup{}, t0);
    link.tick(t0 + seconds(2));
    const Instant answered = t0 + milliseconds(2500);
    ASSERT_EQ(link.receive(foundAt(reprogIndex), answered).reports, reports({ping(1)}));
    EXPECT_EQ(link.receive(foundAt(reprogIndex), answered).reports, reports({}));
    EXPECT_EQ(link.tick(answered + seconds(2)).reports, reports({ping(1)}));

    const Instant echoed = answered + milliseconds(2100);
    EXPECT_EQ(link.receive(echo(1), echoed).reports, reports({ping(2)}));
    EXPECT_EQ(link.receive(echo(1), echoed).reports, reports({}));  // the second copy's echo
    EXPECT_EQ(link.receive(echo(2), echoed).reports, reports({findWheel}));
    EXPECT_EQ(link.receive(foundAt(0), echoed).reports, reports({findWireless}));
    EXPECT_EQ(link.receive(foundAt(wirelessIndex), echoed).reports, reports({countControls}));
    const auto out = link.receive(bytes({0x11, 0xFF, reprogIndex, 0x0B, 0x00}), echoed);
    EXPECT_EQ(out.events, (Events{HIDPPEvent::discovered(HIDPPCapabilities{{}, false}),
                                  HIDPPEvent::applyFinished({{ApplyReason::launch}, 1},
                                                            HIDPPOutcome::applied())}));
    EXPECT_EQ(link.lateAnswers, HIDPPLink::LateAnswers::none);
}

TEST(HIDPPLinkLateAnswers, AfterATimeOutTheFirstAnswerIsAskedForAgainBehindAPing) {
    // The thumb-wheel look-up times out; the device answers all three copies late, after the
    // retry has asked for the controls' feature again.
    HIDPPLink link;
    link.request(ApplyReason::launch, HIDPPSetup{}, t0);
    link.receive(foundAt(reprogIndex), t0 + milliseconds(10));
    link.tick(t0 + milliseconds(2010));
    link.tick(t0 + milliseconds(4010));
    EXPECT_EQ(link.tick(t0 + milliseconds(6010)).events.size(), 1u);  // timed out
    const Instant retry = t0 + milliseconds(6310);
    EXPECT_EQ(link.tick(retry).reports, reports({findReprog}));  // a device that is gone sees
                                                                 // the same requests as before
    // The first answer may be a late one ("absent", for the thumb wheel): not trusted.
    const Instant late = retry + milliseconds(500);
    EXPECT_EQ(link.receive(foundAt(0), late), (HIDPPOutput{{ping(1)}, {}, late + seconds(2)}));
    for (int copy = 0; copy < 2; ++copy) {
        EXPECT_EQ(link.receive(foundAt(0), late).reports, reports({}));
    }
    EXPECT_EQ(link.receive(foundAt(reprogIndex), late).reports, reports({}));  // its own answer
    EXPECT_EQ(link.receive(echo(1), late).reports, reports({findReprog}));
    EXPECT_EQ(link.receive(foundAt(reprogIndex), late).reports, reports({findWheel}));
    ASSERT_TRUE(link.run && link.run->discovery);
    EXPECT_EQ(link.run->discovery->features.index(HIDPPFeature::reprogControls), reprogIndex);
    EXPECT_TRUE(link.run->discovery->isConsistent());
}

TEST(HIDPPLinkLateAnswers, LateAnswersOfAnotherKindAfterATimeOutAreNotStray) {
    // Counting the controls times out; its three answers come during the retry's first look-up.
    HIDPPLink link;
    link.request(ApplyReason::launch, HIDPPSetup{}, t0);
    link.receive(foundAt(reprogIndex), t0);
    link.receive(foundAt(0), t0);
    EXPECT_EQ(link.receive(foundAt(wirelessIndex), t0).reports, reports({countControls}));
    for (int second : {2, 4, 6}) link.tick(t0 + seconds(second));
    const Instant retry = t0 + milliseconds(6300);
    EXPECT_EQ(link.tick(retry).reports, reports({findReprog}));
    for (int copy = 0; copy < 3; ++copy) {
        EXPECT_EQ(link.receive(bytes({0x11, 0xFF, reprogIndex, 0x0B, 0x00}), retry).reports,
                  reports({}));
    }
    EXPECT_EQ(link.receive(foundAt(reprogIndex), retry).reports, reports({ping(1)}));
    EXPECT_EQ(link.receive(echo(1), retry).reports, reports({findReprog}));
    link.receive(foundAt(reprogIndex), retry);
    link.receive(foundAt(0), retry);
    link.receive(foundAt(wirelessIndex), retry);
    const auto out = link.receive(bytes({0x11, 0xFF, reprogIndex, 0x0B, 0x00}), retry);
    EXPECT_EQ(out.events.size(), 2u);
    EXPECT_EQ(out.events.back(),
              HIDPPEvent::applyFinished({{ApplyReason::retry}, 2}, HIDPPOutcome::applied()));
}

TEST(HIDPPLinkLateAnswers, AnAnswerGivenTwiceWithoutAResendFailsDiscovery) {
    // The thumb-wheel look-up is answered "absent" twice though it went out once: the second
    // answer is taken for the wireless look-up, whose own answer then matches nothing.
    HIDPPLink link;
    link.request(ApplyReason::launch, HIDPPSetup{}, t0);
    link.receive(foundAt(reprogIndex), t0);
    EXPECT_EQ(link.receive(foundAt(0), t0).reports, reports({findWireless}));
    EXPECT_EQ(link.receive(foundAt(0), t0).reports, reports({countControls}));
    EXPECT_EQ(link.receive(foundAt(wirelessIndex), t0).reports, reports({}));
    const auto out = link.receive(bytes({0x11, 0xFF, reprogIndex, 0x0B, 0x00}), t0);
    EXPECT_EQ(out.events, (Events{HIDPPEvent::applyFinished(
                              {{ApplyReason::launch}, 1},
                              HIDPPOutcome::failed(HIDPPFailure::inconsistentDiscovery()))}));
    EXPECT_FALSE(link.capabilities);
    EXPECT_EQ(link.features, FeatureMap{});
}

}  // namespace
}  // namespace tindlewave
