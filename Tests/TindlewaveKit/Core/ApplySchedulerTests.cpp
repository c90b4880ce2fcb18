#include <gtest/gtest.h>

#include <chrono>

#include "Core/Apply/ApplyScheduler.h"

namespace tindlewave {
namespace {

using namespace std::chrono_literals;
using Reasons = std::set<ApplyReason>;

TEST(ApplyReason, TextsAreExactCaseNames) {
    EXPECT_EQ(allApplyReasons.size(), 11u);
    for (ApplyReason reason : allApplyReasons) {
        EXPECT_EQ(applyReasonFromText(toText(reason)), reason);
    }
    EXPECT_EQ(toText(ApplyReason::deviceAsked), "deviceAsked");
    EXPECT_EQ(toText(ApplyReason::permissionChanged), "permissionChanged");
    EXPECT_EQ(applyReasonFromText("Launch"), std::nullopt);
    EXPECT_EQ(applyReasonFromText(""), std::nullopt);
    EXPECT_EQ(applyReasonFromText("launch "), std::nullopt);
}

TEST(ApplyReason, JobTextIsSortedAndCommaJoined) {
    EXPECT_EQ(toText(Reasons{ApplyReason::wake, ApplyReason::configChanged, ApplyReason::launch}),
              "configChanged,launch,wake");
    EXPECT_EQ(toText(Reasons{}), "");
}

TEST(ApplyScheduler, RequestsWhileRunningCollapseIntoOneJob) {
    ApplyScheduler scheduler;
    EXPECT_EQ(scheduler.request(ApplyReason::launch), ApplyScheduler::RequestOutcome::start);
    EXPECT_EQ(scheduler.takeJob(), (ApplyScheduler::Job{{ApplyReason::launch}, 1}));
    EXPECT_TRUE(scheduler.queued.empty());

    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(scheduler.request(ApplyReason::configChanged),
                  ApplyScheduler::RequestOutcome::alreadyRunning);
    }
    EXPECT_EQ(scheduler.request(ApplyReason::launch),
              ApplyScheduler::RequestOutcome::alreadyRunning);
    EXPECT_EQ(scheduler.finished(false), std::nullopt);
    EXPECT_TRUE(scheduler.running);  // finished leaves running and the queue alone
    EXPECT_EQ(scheduler.takeJob(),
              (ApplyScheduler::Job{{ApplyReason::configChanged, ApplyReason::launch}, 1}));
    EXPECT_EQ(scheduler.finished(false), std::nullopt);
    EXPECT_EQ(scheduler.takeJob(), std::nullopt);
    EXPECT_EQ(scheduler, ApplyScheduler{});  // idle again
}

TEST(ApplyScheduler, BacksOffFiveTimesThenGivesUp) {
    ApplyScheduler scheduler;
    const std::optional<Duration> expected[] = {300ms, 1s, 2s, 4s, 8s, std::nullopt};
    scheduler.request(ApplyReason::launch);
    for (int run = 0; run < 6; ++run) {
        if (run > 0) scheduler.request(ApplyReason::retry);
        auto job = scheduler.takeJob();
        ASSERT_TRUE(job);
        EXPECT_EQ(job->attempt, run + 1);
        EXPECT_EQ(scheduler.finished(true), expected[run]) << "failure " << run + 1;
        EXPECT_EQ(scheduler.takeJob(), std::nullopt);
    }
    EXPECT_EQ(scheduler.failures, 6);
    EXPECT_EQ(scheduler.finished(true), std::nullopt);

    // A fresh cause revives it and starts the sequence again.
    EXPECT_EQ(scheduler.request(ApplyReason::manual), ApplyScheduler::RequestOutcome::start);
    EXPECT_EQ(scheduler.failures, 0);
    EXPECT_EQ(scheduler.takeJob()->attempt, 1);
    EXPECT_EQ(scheduler.finished(true), 300ms);
}

TEST(ApplyScheduler, OnlyRetryKeepsTheFailureCount) {
    ApplyScheduler scheduler;
    scheduler.request(ApplyReason::launch);
    scheduler.takeJob();
    for (int i = 0; i < 3; ++i) scheduler.finished(true);
    scheduler.takeJob();

    ApplyScheduler retrying = scheduler;
    EXPECT_EQ(retrying.request(ApplyReason::retry), ApplyScheduler::RequestOutcome::start);
    EXPECT_EQ(retrying.failures, 3);
    EXPECT_EQ(retrying.takeJob(), (ApplyScheduler::Job{{ApplyReason::retry}, 4}));

    for (ApplyReason reason : allApplyReasons) {
        if (reason == ApplyReason::retry) continue;
        ApplyScheduler fresh = scheduler;
        fresh.request(reason);
        EXPECT_EQ(fresh.failures, 0) << toText(reason);
    }

    retrying.finished(true);
    EXPECT_EQ(retrying.finished(false), std::nullopt);
    EXPECT_EQ(retrying.failures, 0);
}

}  // namespace
}  // namespace tindlewave
