#include <gtest/gtest.h>

#include <type_traits>
#include <vector>

#include "Platform/Simulated/Permissions/SimulatedPermissionGrants.h"
#include "Runtime/Permissions.h"
#include "TestKit/ManualExecutor.h"

using namespace tindlewave;
using namespace tindlewave::testkit;
using namespace std::chrono_literals;
using Grant = PermissionState::Grant;

TEST(Permissions, UpdatesGiveOneStateAtOnceThenOnlyChanges) {
    ManualScheduler scheduler;
    ManualExecutor poll(scheduler, "poll"), engine(scheduler, "engine");
    SimulatedPermissionGrants grants;
    std::vector<PermissionState> seen;
    auto subscription = Permissions(grants).updates(1s, poll).subscribe(
        engine, [&](PermissionState state) { seen.push_back(state); });

    scheduler.runReady();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], (PermissionState{Grant::granted, Grant::granted}));
    scheduler.advance(5s);
    EXPECT_EQ(seen.size(), 1u);  // nothing changed: nothing more
    EXPECT_EQ(grants.inputMonitoringReads, 6);

    grants.setInputMonitoring(Grant::denied);
    scheduler.advance(1s);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1], (PermissionState{Grant::granted, Grant::denied}));
    grants.setInputMonitoring(Grant::notDetermined);
    grants.setAccessibility(Grant::denied);
    scheduler.advance(1s);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[2], (PermissionState{Grant::denied, Grant::notDetermined}));
}

TEST(Permissions, CancellingTheSubscriptionStopsThePolling) {
    ManualScheduler scheduler;
    ManualExecutor poll(scheduler, "poll"), engine(scheduler, "engine");
    SimulatedPermissionGrants grants;
    int seen = 0;
    auto updates = Permissions(grants).updates(1s, poll);
    auto subscription = updates.subscribe(engine, [&](PermissionState) { ++seen; });
    scheduler.advance(3s);
    const int reads = grants.accessibilityReads;
    EXPECT_EQ(reads, 4);

    subscription.cancel();
    grants.setAccessibility(Grant::denied);
    scheduler.advance(10s);
    EXPECT_EQ(grants.accessibilityReads, reads);
    EXPECT_EQ(grants.inputMonitoringReads, reads);
    EXPECT_EQ(scheduler.timerCount(), 0u);
    EXPECT_EQ(seen, 1);
}

// A stream dropped before anyone listened ends its polling; so does one whose subscription ends.
TEST(Permissions, AStreamDroppedUnsubscribedStopsThePolling) {
    ManualScheduler scheduler;
    ManualExecutor poll(scheduler, "poll");
    SimulatedPermissionGrants grants;
    { auto dropped = Permissions(grants).updates(1s, poll); }
    scheduler.advance(5s);
    EXPECT_EQ(scheduler.timerCount(), 0u);
    EXPECT_EQ(grants.accessibilityReads, 0);

    auto kept = Permissions(grants).updates(1s, poll);  // kept unsubscribed: polling goes on
    scheduler.advance(2s);
    EXPECT_EQ(scheduler.timerCount(), 1u);
    EXPECT_EQ(grants.accessibilityReads, 3);
}

// A zero or negative interval would poll without pause; it is raised to the shortest one.
TEST(Permissions, TooShortAnIntervalIsRaisedToTheShortest) {
    ManualScheduler scheduler;
    ManualExecutor poll(scheduler, "poll"), engine(scheduler, "engine");
    SimulatedPermissionGrants grants;
    for (Duration interval : {Duration{0}, Duration{-1s}, Duration{1ns}}) {
        auto subscription =
            Permissions(grants).updates(interval, poll).subscribe(engine, [](PermissionState) {});
        scheduler.runReady();
        EXPECT_EQ(scheduler.nextDeadline(), scheduler.now() + Permissions::shortestInterval);
    }
    EXPECT_EQ(Permissions::shortestInterval, 10ms);
}

TEST(Permissions, ReadsAndRequests) {
    SimulatedPermissionGrants grants(Grant::denied, Grant::notDetermined);
    Permissions permissions(grants);
    EXPECT_EQ(permissions.current(), (PermissionState{Grant::denied, Grant::notDetermined}));
    permissions.request(Permission::accessibility);
    permissions.request(Permission::inputMonitoring);
    permissions.request(Permission::inputMonitoring);
    EXPECT_EQ(grants.accessibilityRequests, 1);
    EXPECT_EQ(grants.inputMonitoringRequests, 2);
    static_assert(!std::is_default_constructible_v<Permissions>, "grants are always given");
}

// Grants that tell of their changes are read once per burst of changes, never by a timer; the
// subscription's end ends their watch and lets go of its callback.
TEST(Permissions, GrantsThatTellOfTheirChangesAreReadOnlyAfterOne) {
    struct TellingGrants final : PermissionGrants {
        Grant inputMonitoring() override { return ++reads, input; }
        Grant accessibility() override { return Grant::granted; }
        void request(Permission) override {}
        std::optional<Subscription> watch(std::function<void()> changed) override {
            tell = std::move(changed);
            return Subscription([this] { tell = nullptr; });
        }
        Grant input = Grant::granted;
        int reads = 0;
        std::function<void()> tell;
    } grants;
    ManualScheduler scheduler;
    ManualExecutor poll(scheduler, "poll"), engine(scheduler, "engine");
    std::vector<PermissionState> seen;
    auto subscription = Permissions(grants).updates(1s, poll).subscribe(
        engine, [&](PermissionState state) { seen.push_back(state); });
    scheduler.advance(5s);
    EXPECT_EQ(seen, (std::vector{PermissionState{Grant::granted, Grant::granted}}));
    EXPECT_EQ(grants.reads, 1);
    EXPECT_EQ(scheduler.timerCount(), 0u);

    grants.input = Grant::denied;
    ASSERT_TRUE(grants.tell);
    grants.tell();
    grants.tell();
    scheduler.runReady();
    EXPECT_EQ(grants.reads, 2);
    EXPECT_EQ(seen.back(), (PermissionState{Grant::granted, Grant::denied}));
    grants.tell();
    scheduler.runReady();
    EXPECT_EQ(grants.reads, 3);
    EXPECT_EQ(seen.size(), 2u);  // read again, unchanged: nothing sent
    grants.input = Grant::granted;
    grants.tell();
    scheduler.runReady();
    EXPECT_EQ(grants.reads, 4);
    EXPECT_EQ(seen.back(), (PermissionState{Grant::granted, Grant::granted}));

    subscription.cancel();
    scheduler.runReady();
    EXPECT_FALSE(grants.tell);
    EXPECT_EQ(scheduler.timerCount(), 0u);
}
