#include "Core/HIDPP/Link.h"
#include "TestKit/HIDPPBytes.h"

#include <gtest/gtest.h>

#include <initializer_list>

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
constexpr std::uint8_t wheelIndex = 9;

ApplyScheduler::Job job(std::set<ApplyReason> reasons, int attempt = 1) {
    return {std::move(reasons), attempt};
}

const Action actionA = Action::system(SystemAction::missionControl);
const Action actionB = Action::system(SystemAction::appExpose);
const KeyHold commandHold{{HeldModifier::leftCommand}, std::nullopt};
const KeyHold shiftHold{{HeldModifier::leftShift}, std::nullopt};

// A link that has already discovered a mouse with controls 0xC3 and 0xC4 (divertable, raw
// movement) and a thumb wheel, holding `plan`, with no run.
HIDPPLink discoveredLink(std::optional<HIDPPSetup> plan) {
    HIDPPLink link;
    link.features.record(HIDPPFeature::reprogControls, reprogIndex);
    link.features.record(HIDPPFeature::wirelessStatus, wirelessIndex);
    link.features.record(HIDPPFeature::thumbWheel, wheelIndex);
    link.capabilities = HIDPPCapabilities{{{CID{0xC3}, true, true}, {CID{0xC4}, true, true}}, true};
    link.plan = std::move(plan);
    return link;
}

Bytes buttons(std::initializer_list<std::uint16_t> cids) {
    Bytes out = bytes({0x11, 0xFF, reprogIndex, 0x00});
    std::size_t at = 4;
    for (std::uint16_t cid : cids) {
        out[at++] = static_cast<std::uint8_t>(cid >> 8);
        out[at++] = static_cast<std::uint8_t>(cid & 0xFF);
    }
    return out;
}

Bytes rawXY(std::int16_t dx, std::int16_t dy) {
    const auto x = static_cast<std::uint16_t>(dx);
    const auto y = static_cast<std::uint16_t>(dy);
    return bytes({0x11, 0xFF, reprogIndex, 0x10, static_cast<std::uint8_t>(x >> 8),
                  static_cast<std::uint8_t>(x & 0xFF), static_cast<std::uint8_t>(y >> 8),
                  static_cast<std::uint8_t>(y & 0xFF)});
}

HIDPPSetup setupWith(std::initializer_list<std::pair<const CID, ControlBehavior>> controls) {
    HIDPPSetup setup;
    setup.controls = controls;
    return setup;
}

Events events(const HIDPPOutput& out) {
    return out.events;
}

TEST(HIDPPLink, FirstRequestStartsDiscovery) {
    HIDPPLink link;
    const auto out = link.request(ApplyReason::launch, HIDPPSetup{}, t0);
    EXPECT_EQ(out, (HIDPPOutput{{report({0x11, 0xFF, 0x00, 0x0B, 0x1B, 0x04})},
                                {HIDPPEvent::applyStarted(job({ApplyReason::launch}))},
                                t0 + seconds(2)}));
    // A second request while the run is in flight writes nothing and keeps the deadline.
    EXPECT_EQ(link.request(ApplyReason::configChanged, HIDPPSetup{}, t0 + seconds(1)),
              (HIDPPOutput{{}, {}, t0 + seconds(2)}));
}

TEST(HIDPPLink, ResendsTimesOutBacksOffAndGivesUp) {
    HIDPPLink link;
    const HIDPPReport lookUp = report({0x11, 0xFF, 0x00, 0x0B, 0x1B, 0x04});
    const auto timedOut = HIDPPOutcome::failed(
        HIDPPFailure::timedOut(HIDPPStep::findFeature(HIDPPFeature::reprogControls)));
    link.request(ApplyReason::launch, std::nullopt, t0);

    // Sends at 0, 2 and 4 s; the run fails at 6 s and is retried 0.3, 1, 2, 4 and 8 s after each
    // failure: six runs in all, then nothing is due.
    const Duration backOff[] = {milliseconds(300), seconds(1), seconds(2), seconds(4), seconds(8)};
    Instant start = t0;
    for (int attempt = 1; attempt <= 6; ++attempt) {
        std::set<ApplyReason> reasons = {attempt == 1 ? ApplyReason::launch : ApplyReason::retry};
        EXPECT_EQ(link.tick(start + seconds(2)), (HIDPPOutput{{lookUp}, {}, start + seconds(4)}));
        EXPECT_EQ(link.tick(start + seconds(4)), (HIDPPOutput{{lookUp}, {}, start + seconds(6)}));
        const Instant failedAt = start + seconds(6);
        const auto failed = link.tick(failedAt);
        EXPECT_EQ(events(failed),
                  (Events{HIDPPEvent::applyFinished(job(reasons, attempt), timedOut)}));
        EXPECT_TRUE(failed.reports.empty());
        if (attempt == 6) {
            EXPECT_EQ(failed.deadline, std::nullopt);
            break;
        }
        const Instant retry = failedAt + backOff[attempt - 1];
        EXPECT_EQ(failed.deadline, retry);
        EXPECT_EQ(link.tick(retry - milliseconds(1)), (HIDPPOutput{{}, {}, retry}));
        EXPECT_EQ(link.tick(retry),
                  (HIDPPOutput{{lookUp},
                               {HIDPPEvent::applyStarted(job({ApplyReason::retry}, attempt + 1))},
                               retry + seconds(2)}));
        start = retry;
    }
    EXPECT_FALSE(link.run);
    EXPECT_FALSE(link.scheduler.running);

    // A new reason revives the link at once, as a first attempt.
    EXPECT_EQ(link.request(ApplyReason::manual, std::nullopt, start + seconds(60)).events,
              (Events{HIDPPEvent::applyStarted(job({ApplyReason::manual}))}));
}

TEST(HIDPPLink, NewReasonDuringBackOffStartsAtOnce) {
    HIDPPLink link;
    link.request(ApplyReason::launch, std::nullopt, t0);
    link.tick(t0 + seconds(2));
    link.tick(t0 + seconds(4));
    EXPECT_EQ(link.tick(t0 + seconds(6)).deadline, t0 + milliseconds(6300));
    const auto out =
        link.request(ApplyReason::configChanged, std::nullopt, t0 + milliseconds(6100));
    EXPECT_EQ(out.events, (Events{HIDPPEvent::applyStarted(job({ApplyReason::configChanged}))}));
    EXPECT_EQ(out.reports.size(), 1u);
    EXPECT_EQ(out.deadline, t0 + milliseconds(8100));  // the retry time is gone
    EXPECT_FALSE(link.retryAt);
}

TEST(HIDPPLink, UnmatchedRepliesAreIgnoredAndErrorsEndTheRun) {
    HIDPPLink link = discoveredLink(setupWith({{CID{0xC3}, ControlBehavior::press(actionA)}}));
    auto out = link.request(ApplyReason::launch, link.plan, t0);
    // setReporting(0xC3, divert): 11 FF 06 3B 00 C3 23 00 00.
    ASSERT_EQ(out.reports,
              (std::vector{report({0x11, 0xFF, reprogIndex, 0x3B, 0x00, 0xC3, 0x23})}));

    const HIDPPOutput nothing{{}, {}, t0 + seconds(2)};
    Bytes shortReply = bytes({0x11, 0xFF, reprogIndex, 0x3B, 0x00, 0xC3, 0x23});
    shortReply.pop_back();
    for (const Bytes& unmatched : {
             bytes({0x11, 0xFF, reprogIndex, 0x2B, 0x00, 0xC3, 0x23}),  // another function
             bytes({0x11, 0xFF, reprogIndex, 0x3B, 0x00, 0xC4, 0x23}),  // another control
             bytes({0x11, 0xFF, wheelIndex, 0x3B, 0x00, 0xC3, 0x23}),   // another feature index
             bytes({0x11, 0xFF, reprogIndex, 0x31, 0x00, 0xC3, 0x23}),  // another program's
             bytes({0x11, 0x01, reprogIndex, 0x3B, 0x00, 0xC3, 0x23}),  // another device index
             shortReply,
             bytes({0x11, 0xFF, 0xFF, reprogIndex, 0x2B, 0x04}),  // error for another function
             bytes({0x11, 0xFF, 0x20, 0x00}),                     // notice of an unknown index
         }) {
        EXPECT_EQ(link.receive(unmatched, t0 + seconds(1)), nothing);
    }
    ASSERT_TRUE(link.run && link.run->inFlight);
    EXPECT_EQ(link.run->inFlight->attempts, 1);

    out = link.receive(bytes({0x11, 0xFF, 0xFF, reprogIndex, 0x3B, 0x04}), t0 + seconds(1));
    const auto step = HIDPPStep::setReporting(CID{0xC3}, {true, false});
    const auto failure = HIDPPFailure::deviceError(step, 4);
    EXPECT_EQ(failure.description(), "divert 0xC3 failed with HID++ error 4");
    EXPECT_EQ(out, (HIDPPOutput{{},
                                {HIDPPEvent::applyFinished(job({ApplyReason::launch}),
                                                           HIDPPOutcome::failed(failure))},
                                t0 + seconds(1) + milliseconds(300)}));
}

TEST(HIDPPLink, QueuedReasonsMergeAndANullPlanIsDropped) {
    HIDPPLink link = discoveredLink(std::nullopt);
    // Known capabilities and no plan: nothing to do, nothing said.
    EXPECT_EQ(link.request(ApplyReason::quit, std::nullopt, t0), (HIDPPOutput{}));
    EXPECT_FALSE(link.scheduler.running);
    EXPECT_TRUE(link.scheduler.queued.empty());

    link.capabilities->thumbWheel = false;
    link.capabilities->controls.resize(1);  // 0xC3 only: one set, one read-back
    link.request(ApplyReason::launch, HIDPPSetup{}, t0);
    for (auto reason : {ApplyReason::configChanged, ApplyReason::configChanged, ApplyReason::manual,
                        ApplyReason::configChanged}) {
        EXPECT_EQ(link.request(reason, setupWith({{CID{0xC3}, ControlBehavior::press(actionA)}}),
                               t0 + milliseconds(10))
                      .reports.size(),
                  0u);
    }
    link.receive(bytes({0x11, 0xFF, reprogIndex, 0x3B, 0x00, 0xC3, 0x22}), t0 + milliseconds(20));
    const auto out = link.receive(bytes({0x11, 0xFF, reprogIndex, 0x2B, 0x00, 0xC3, 0x00}),
                                  t0 + milliseconds(30));
    EXPECT_EQ(
        out.events,
        (Events{HIDPPEvent::applyFinished(job({ApplyReason::launch}), HIDPPOutcome::applied()),
                HIDPPEvent::applyStarted(job({ApplyReason::configChanged, ApplyReason::manual}))}));
    // The second job uses the newest plan: 0xC3 diverted.
    EXPECT_EQ(out.reports,
              (std::vector{report({0x11, 0xFF, reprogIndex, 0x3B, 0x00, 0xC3, 0x23})}));
}

TEST(HIDPPLink, ApplyStepsFollowThePlan) {
    const HIDPPCapabilities capabilities{{{CID{0x50}, false, false},
                                          {CID{0x52}, true, true},
                                          {CID{0x53}, true, false},
                                          {CID{0xC3}, true, true},
                                          {CID{0xC4}, true, true}},
                                         true};
    GesturePlan swipe{10, std::nullopt,
                      GestureMoves::swipes({{Direction::up, actionA}}, GestureFire::pastDistance)};
    HIDPPSetup plan = setupWith({{CID{0x53}, ControlBehavior::gesture(swipe)},
                                 {CID{0xC3}, ControlBehavior::gesture(swipe)},
                                 {CID{0xC4}, ControlBehavior::hold(commandHold)},
                                 {CID{0x52}, ControlBehavior::native()}});
    plan.thumbWheelInverted = true;
    const std::vector<HIDPPStep> expected = {
        HIDPPStep::setReporting(CID{0x52}, {false, false}),
        HIDPPStep::setReporting(CID{0x53}, {true, false}),  // a gesture without raw movement
        HIDPPStep::setReporting(CID{0xC3}, {true, true}),
        HIDPPStep::setReporting(CID{0xC4}, {true, false}),
        HIDPPStep::setThumbWheel({false, true}),
        HIDPPStep::checkReporting(CID{0x52}, {false, false}),
        HIDPPStep::checkReporting(CID{0x53}, {true, false}),
        HIDPPStep::checkReporting(CID{0xC3}, {true, true}),
        HIDPPStep::checkReporting(CID{0xC4}, {true, false}),
        HIDPPStep::checkThumbWheel({false, true}),
    };
    EXPECT_EQ(HIDPPLink::applySteps(plan, capabilities), expected);

    // Listening diverts every divertable control but 0x50, without raw movement.
    HIDPPSetup listening;
    listening.listening = true;
    listening.thumbWheelDiverted = true;
    HIDPPCapabilities withLeft = capabilities;
    withLeft.controls[0].divertable = true;
    const auto steps = HIDPPLink::applySteps(listening, withLeft);
    ASSERT_EQ(steps.size(), 12u);
    EXPECT_EQ(steps[0], HIDPPStep::setReporting(CID{0x50}, {false, false}));
    EXPECT_EQ(steps[3], HIDPPStep::setReporting(CID{0xC3}, {true, false}));
    EXPECT_EQ(steps[5], HIDPPStep::setThumbWheel({true, false}));
    EXPECT_TRUE(HIDPPLink::applySteps(std::nullopt, capabilities).empty());
}

// The input half.

TEST(HIDPPLinkInput, PressesAndReleasesFollowTheNotices) {
    HIDPPLink link = discoveredLink(setupWith({{CID{0xC3}, ControlBehavior::hold(commandHold)},
                                               {CID{0xC4}, ControlBehavior::hold(shiftHold)},
                                               {CID{0x52}, ControlBehavior::press(actionA)}}));
    EXPECT_EQ(events(link.receive(buttons({0xC3}), t0)),
              (Events{HIDPPEvent::holdKeys(CID{0xC3}, commandHold)}));
    EXPECT_EQ(events(link.receive(buttons({0xC3, 0xC4}), t0)),
              (Events{HIDPPEvent::holdKeys(CID{0xC4}, shiftHold)}));
    // Still listed: no new press.
    EXPECT_EQ(events(link.receive(buttons({0xC3, 0xC4}), t0)), Events{});
    EXPECT_EQ(events(link.receive(buttons({}), t0)),
              (Events{HIDPPEvent::releaseKeys(CID{0xC3}), HIDPPEvent::releaseKeys(CID{0xC4})}));
    // One notice can carry a release and a press; a press action fires on the press only.
    link.receive(buttons({0xC3}), t0);
    EXPECT_EQ(events(link.receive(buttons({0x52}), t0)),
              (Events{HIDPPEvent::releaseKeys(CID{0xC3}), HIDPPEvent::perform(actionA)}));
    EXPECT_EQ(events(link.receive(buttons({}), t0)), Events{});
    EXPECT_EQ(link.held, std::vector<CID>{});
}

TEST(HIDPPLinkInput, ListeningHearsEveryControlButTheLeftButton) {
    HIDPPSetup plan = setupWith({{CID{0xC3}, ControlBehavior::press(actionA)}});
    plan.listening = true;
    HIDPPLink link = discoveredLink(plan);
    EXPECT_EQ(events(link.receive(buttons({0x50}), t0)), Events{});
    EXPECT_EQ(events(link.receive(buttons({0x50, 0xC3}), t0)),
              (Events{HIDPPEvent::heard(ListenPress::hidpp(CID{0xC3}))}));
    const Bytes turn = bytes({0x11, 0xFF, wheelIndex, 0x00, 0xFF, 0xFE});
    EXPECT_EQ(events(link.receive(turn, t0)),
              (Events{HIDPPEvent::heard(ListenPress::thumbWheel())}));
    EXPECT_EQ(events(link.receive(bytes({0x11, 0xFF, wheelIndex, 0x00, 0x00, 0x00}), t0)),
              Events{});

    link.plan->listening = false;  // the current plan counts, not the run's copy
    EXPECT_EQ(events(link.receive(turn, t0)), Events{});
}

TEST(HIDPPLinkInput, GesturesSwipeClickAndScroll) {
    const GesturePlan swipes{
        10, actionB,
        GestureMoves::swipes({{Direction::right, actionA}}, GestureFire::pastDistance)};
    HIDPPLink link = discoveredLink(setupWith({{CID{0xC3}, ControlBehavior::gesture(swipes)}}));
    // Past the distance: the swipe fires during the movement; the release adds nothing.
    link.receive(buttons({0xC3}), t0);
    EXPECT_EQ(events(link.receive(rawXY(6, 0), t0)), Events{});
    EXPECT_EQ(events(link.receive(rawXY(5, 0), t0)), (Events{HIDPPEvent::perform(actionA)}));
    EXPECT_EQ(events(link.receive(buttons({}), t0)), Events{});
    // A short press is a click; without a click action it is nothing.
    link.receive(buttons({0xC3}), t0);
    link.receive(rawXY(3, 0), t0);
    EXPECT_EQ(events(link.receive(buttons({}), t0)), (Events{HIDPPEvent::perform(actionB)}));
    GesturePlan withoutClick = swipes;
    withoutClick.click.reset();
    link.plan->controls.at(CID{0xC3}) = ControlBehavior::gesture(withoutClick);
    link.receive(buttons({0xC3}), t0);
    EXPECT_EQ(events(link.receive(buttons({}), t0)), Events{});
    // Movement without a gesture control is ignored.
    EXPECT_EQ(events(link.receive(rawXY(50, 0), t0)), Events{});

    // Hold-to-scroll, gain 2, distance 5.
    const HoldScrollPlan scrollPlan{2.0, std::nullopt};
    link.plan = setupWith({{CID{0xC4}, ControlBehavior::gesture(GesturePlan{
                                           5, std::nullopt, GestureMoves::scroll(scrollPlan)})},
                           {CID{0xC3}, ControlBehavior::hold(commandHold)}});
    link.receive(buttons({0xC3, 0xC4}), t0);
    EXPECT_EQ(events(link.receive(rawXY(3, 0), t0)), Events{});
    EXPECT_EQ(events(link.receive(rawXY(0, 4), t0)), Events{});
    EXPECT_EQ(events(link.receive(rawXY(0, 2), t0)),
              (Events{HIDPPEvent::holdScroll(HoldScrollEvent::began(scrollPlan))}));
    EXPECT_EQ(events(link.receive(rawXY(1, -1), t0)),
              (Events{HIDPPEvent::holdScroll(HoldScrollEvent::moved(2, -2))}));
    // Closing ends the scroll and lets go of the keys: events only, no deadline.
    EXPECT_EQ(link.finish(), (HIDPPOutput{{},
                                          {HIDPPEvent::holdScroll(HoldScrollEvent::ended()),
                                           HIDPPEvent::releaseKeys(CID{0xC3})},
                                          std::nullopt}));
    EXPECT_EQ(events(link.receive(rawXY(1, -1), t0)), Events{});
}

TEST(HIDPPLinkInput, ANewJobEndsGesturesAndHolds) {
    const GesturePlan swipes{
        10, actionB,
        GestureMoves::swipes({{Direction::right, actionA}}, GestureFire::pastDistance)};
    HIDPPLink link = discoveredLink(setupWith({{CID{0xC3}, ControlBehavior::gesture(swipes)},
                                               {CID{0xC4}, ControlBehavior::hold(commandHold)}}));
    link.receive(buttons({0xC3, 0xC4}), t0);
    link.receive(rawXY(4, 0), t0);
    const auto started = link.request(ApplyReason::configChanged, link.plan, t0);
    EXPECT_EQ(started.events,
              (Events{HIDPPEvent::releaseKeys(CID{0xC4}),
                      HIDPPEvent::applyStarted(job({ApplyReason::configChanged}))}));
    // The machine is idle now: movement and the releases give nothing.
    EXPECT_EQ(events(link.receive(rawXY(20, 0), t0)), Events{});
    EXPECT_EQ(events(link.receive(buttons({}), t0)), Events{});
    EXPECT_TRUE(link.keyHolds.empty());
}

TEST(HIDPPLinkInput, ReconnectNoticeAsksForTheSetUpAgain) {
    HIDPPLink link = discoveredLink(HIDPPSetup{});
    const Bytes reconnect = bytes({0x11, 0xFF, wirelessIndex, 0x00, 0x01, 0x01, 0x01});
    // Idle: a job starts at once.
    auto out = link.receive(reconnect, t0);
    EXPECT_EQ(out.events, (Events{HIDPPEvent::applyStarted(job({ApplyReason::deviceAsked}))}));
    // During a run: queued for the next job; without the request flag: ignored.
    EXPECT_EQ(link.receive(reconnect, t0), (HIDPPOutput{{}, {}, t0 + seconds(2)}));
    EXPECT_EQ(link.scheduler.queued, std::set{ApplyReason::deviceAsked});
    link.scheduler.queued.clear();
    link.receive(bytes({0x11, 0xFF, wirelessIndex, 0x00, 0x01, 0x00, 0x01}), t0);
    EXPECT_TRUE(link.scheduler.queued.empty());
}

TEST(HIDPPLinkInput, AReconnectLetsGoOfWhatIsHeldFiringNothing) {
    // The device forgot its diversion and sends no release for what it listed: a click, a swipe
    // due on release or a hold's keys must not come out as if the controls had gone up.
    const Bytes reconnect = bytes({0x11, 0xFF, wirelessIndex, 0x00, 0x01, 0x01, 0x01});
    const Bytes notice = bytes({0x11, 0xFF, wirelessIndex, 0x00, 0x01, 0x00, 0x01});
    const GesturePlan onRelease{
        10, actionB, GestureMoves::swipes({{Direction::right, actionA}}, GestureFire::onRelease)};
    for (const bool moved : {false, true}) {
        for (const Bytes& status : {notice, reconnect}) {
            HIDPPLink link =
                discoveredLink(setupWith({{CID{0xC3}, ControlBehavior::gesture(onRelease)},
                                          {CID{0xC4}, ControlBehavior::hold(commandHold)}}));
            link.receive(buttons({0xC3, 0xC4}), t0);
            EXPECT_EQ(events(link.receive(rawXY(moved ? 30 : 3, 0), t0)), Events{});
            Events expected{HIDPPEvent::releaseKeys(CID{0xC4})};
            if (status == reconnect) {
                expected.push_back(HIDPPEvent::applyStarted(job({ApplyReason::deviceAsked})));
            }
            EXPECT_EQ(events(link.receive(status, t0)), expected) << "moved " << moved;
            EXPECT_TRUE(link.held.empty());
            EXPECT_FALSE(link.gestureControl);
            // Nothing more when the movement goes on; a press after it is a new one.
            EXPECT_EQ(events(link.receive(rawXY(30, 0), t0)), Events{});
            link.receive(buttons({0xC3}), t0);
            EXPECT_EQ(events(link.receive(buttons({}), t0)),
                      (Events{HIDPPEvent::perform(actionB)}));
        }
    }

    // A hold-to-scroll under way ends.
    const HoldScrollPlan scrollPlan{2.0, std::nullopt};
    HIDPPLink link = discoveredLink(setupWith({{CID{0xC3}, ControlBehavior::gesture(GesturePlan{
                                                  5, actionB, GestureMoves::scroll(scrollPlan)})}}));
    link.receive(buttons({0xC3}), t0);
    EXPECT_EQ(events(link.receive(rawXY(6, 0), t0)),
              (Events{HIDPPEvent::holdScroll(HoldScrollEvent::began(scrollPlan))}));
    EXPECT_EQ(events(link.receive(notice, t0)),
              (Events{HIDPPEvent::holdScroll(HoldScrollEvent::ended())}));
    EXPECT_EQ(events(link.receive(buttons({}), t0)), Events{});
}

}  // namespace
}  // namespace tindlewave
