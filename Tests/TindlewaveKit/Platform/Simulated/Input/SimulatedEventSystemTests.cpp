#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "Platform/Simulated/Input/SimulatedEventSystem.h"
#include "Platform/Simulated/Permissions/SimulatedPermissionGrants.h"
#include "Platform/Simulated/Desktop/SimulatedSymbolicHotKeys.h"
#include "TestKit/ManualExecutor.h"

using namespace tindlewave;
using namespace tindlewave::testkit;

namespace {

Event keyDown(std::int64_t code, std::uint64_t flags = 0) {
    Event event;
    event.type = EventType::keyDown;
    event.flags = flags;
    event.setInteger(IntegerField::keyCode, code);
    return event;
}

Event moved(double x, double y) {
    Event event;
    event.type = EventType::mouseMoved;
    event.location = {x, y};
    return event;
}

struct SimulatedEventSystemTest : ::testing::Test {
    ManualScheduler scheduler;
    ManualExecutor input{scheduler, "tap"};
    SimulatedPermissionGrants grants;
    SimulatedEventSystem events{input, grants};
    std::vector<std::string> seen;

    // A tap that records what it sees under `name` and answers `answer`.
    TapPort tap(std::string name, TapAnswer answer = TapAnswer::pass,
                TapPlacement placement = TapPlacement::headInsert,
                std::uint64_t mask = eventMaskBit(EventType::keyDown)) {
        auto port =
            events.createTap({EventLevel::hid, placement, TapOptions::active, mask},
                             [this, name, answer](EventType type, Event& event, const auto&) {
                                 seen.push_back(name + ":" + std::to_string(std::uint32_t(type)));
                                 event.flags |= 1;
                                 return answer;
                             });
        EXPECT_TRUE(port);
        EXPECT_TRUE(events.attach(*port, input));
        return *port;
    }
};

TEST_F(SimulatedEventSystemTest, TapsSeeInjectedEventsHeadInsertedNewestFirstUntilOneDrops) {
    tap("tail", TapAnswer::pass, TapPlacement::tailAppend);
    tap("first");
    TapPort second = tap("second");
    events.inject(keyDown(1));
    scheduler.runReady();
    EXPECT_EQ(seen, (std::vector<std::string>{"second:10", "first:10", "tail:10"}));
    ASSERT_EQ(events.delivered().size(), 1u);
    EXPECT_EQ(events.delivered()[0].flags, 1u);  // changed in place by the taps

    // Another type than the masks hold passes untouched; a dropping tap ends the chain.
    seen.clear();
    events.inject(moved(5, 5));
    tap("dropper", TapAnswer::drop);
    events.inject(keyDown(2));
    scheduler.runReady();
    EXPECT_EQ(seen, (std::vector<std::string>{"dropper:10"}));
    EXPECT_EQ(events.delivered().size(), 2u);

    // Disabled, detached and invalidated taps see nothing.
    seen.clear();
    events.invalidate(TapPort{4});
    events.enable(second, false);
    events.inject(keyDown(3));
    scheduler.runReady();
    EXPECT_EQ(seen, (std::vector<std::string>{"first:10", "tail:10"}));
    EXPECT_FALSE(events.isValid(TapPort{4}));
    EXPECT_FALSE(events.isEnabled(second));
    EXPECT_EQ(events.tapCount(), 3u);
}

TEST_F(SimulatedEventSystemTest, HidPostsRunThroughTheTapsLaterAndSessionPostsSkipThem) {
    tap("tap");
    events.post(keyDown(7), EventLevel::session);
    EXPECT_EQ(events.delivered().size(), 1u);  // at once
    events.post(keyDown(8), EventLevel::hid);
    EXPECT_EQ(events.delivered().size(), 1u);  // a job of the input executor
    scheduler.runReady();
    EXPECT_EQ(seen, (std::vector<std::string>{"tap:10"}));
    ASSERT_EQ(events.posted().size(), 2u);
    EXPECT_EQ(events.posted()[0].level, EventLevel::session);
    EXPECT_EQ(events.posted()[1].level, EventLevel::hid);
    EXPECT_EQ(events.delivered()[1].integer(IntegerField::keyCode), 8);

    // A long session: the records keep the latest posts and deliveries, so memory stays bounded.
    for (std::size_t i = 0; i < SimulatedEventSystem::recordLimit + 10; ++i)
        events.post(keyDown(static_cast<std::int64_t>(100 + i)), EventLevel::session);
    const auto posted = events.posted();
    const auto delivered = events.delivered();
    ASSERT_EQ(posted.size(), SimulatedEventSystem::recordLimit);
    ASSERT_EQ(delivered.size(), SimulatedEventSystem::recordLimit);
    EXPECT_EQ(posted.front().event.integer(IntegerField::keyCode), 110);
    EXPECT_EQ(delivered.back().integer(IntegerField::keyCode),
              static_cast<std::int64_t>(100 + SimulatedEventSystem::recordLimit + 9));
}

TEST_F(SimulatedEventSystemTest, ATapIsToldTheOriginOfItsEvent) {
    std::vector<std::optional<HIDOrigin>> origins;
    auto port = events.createTap({EventLevel::hid, TapPlacement::headInsert, TapOptions::active,
                                  eventMaskBit(EventType::keyDown)},
                                 [&](EventType, Event&, const std::optional<HIDOrigin>& origin) {
                                     origins.push_back(origin);
                                     return TapAnswer::pass;
                                 });
    events.attach(*port, input);
    events.inject(keyDown(1), HIDOrigin{SenderID{0x42}, 1.5});
    events.post(keyDown(2), EventLevel::hid);
    scheduler.runReady();
    ASSERT_EQ(origins.size(), 2u);
    EXPECT_EQ(origins[0], (HIDOrigin{SenderID{0x42}, 1.5}));
    EXPECT_EQ(origins[1], std::nullopt);
}

TEST_F(SimulatedEventSystemTest, CursorFollowsMovementUnlessDissociatedAndFlagsFollowModifierChanges) {
    Event command = keyDown(55, 0x100108);
    command.type = EventType::flagsChanged;
    events.inject(moved(100, 200));
    events.inject(command);
    scheduler.runReady();
    EXPECT_EQ(events.cursorLocation(), (Event::Location{100, 200}));
    EXPECT_EQ(events.flagsState(), 0x100108u);
    // A key carries flags but changes no modifier: neither typed nor posted (a shortcut's).
    events.inject(keyDown(1, 0x20002));
    Event up = keyDown(1, 0xC0000);
    up.type = EventType::keyUp;
    events.post(keyDown(1, 0xC0000), EventLevel::hid);
    events.post(up, EventLevel::hid);
    events.post(up, EventLevel::session);
    scheduler.runReady();
    EXPECT_EQ(events.flagsState(), 0x100108u);
    command.flags = 0;
    events.post(command, EventLevel::hid);
    scheduler.runReady();
    EXPECT_EQ(events.flagsState(), 0u);

    events.associateMouseAndCursor(false);
    events.inject(moved(300, 300));
    scheduler.runReady();
    EXPECT_EQ(events.cursorLocation(), (Event::Location{100, 200}));
    EXPECT_EQ(events.delivered().back().location, (Event::Location{100, 200}));
    events.associateMouseAndCursor(true);
    EXPECT_EQ(events.associationCalls(), (std::vector<bool>{false, true}));
}

TEST_F(SimulatedEventSystemTest, TapCreationNeedsAccessibilityAndFailsOnTheSwitch) {
    TapSpec spec{EventLevel::hid, TapPlacement::headInsert, TapOptions::active, 0};
    auto pass = [](EventType, Event&, const auto&) { return TapAnswer::pass; };
    grants.setAccessibility(PermissionState::Grant::denied);
    EXPECT_FALSE(events.createTap(spec, pass));
    grants.setAccessibility(PermissionState::Grant::granted);
    events.setFailsTapCreation(true);
    EXPECT_FALSE(events.createTap(spec, pass));
    events.setFailsTapCreation(false);
    auto port = events.createTap(spec, pass);
    ASSERT_TRUE(port);
    ManualExecutor other{scheduler, "other"};
    EXPECT_FALSE(events.attach(*port, other));  // input arrives on the tap executor only
}

TEST_F(SimulatedEventSystemTest, DisablingNotifiesTheCallbackUnlessSilent) {
    TapPort port = tap("tap");
    events.disableTap(port, SimulatedEventSystem::DisableNotice::timeout);
    events.disableTap(port, SimulatedEventSystem::DisableNotice::userInput);
    events.disableTap(port, SimulatedEventSystem::DisableNotice::silent);
    EXPECT_TRUE(events.isEnabled(port));  // the system acts on its own thread
    scheduler.runReady();
    EXPECT_EQ(seen, (std::vector<std::string>{"tap:4294967294", "tap:4294967295"}));
    EXPECT_FALSE(events.isEnabled(port));
    events.invalidateTap(port);
    scheduler.runReady();
    EXPECT_FALSE(events.isValid(port));
}

TEST_F(SimulatedEventSystemTest, ATapInvalidatedFromItsOwnCallbackIsNeverCalledAgain) {
    int calls = 0;
    std::optional<TapPort> port;
    port = events.createTap({EventLevel::hid, TapPlacement::headInsert, TapOptions::active,
                             eventMaskBit(EventType::keyDown)},
                            [&](EventType, Event&, const auto&) {
                                ++calls;
                                events.invalidate(*port);
                                return TapAnswer::drop;
                            });
    events.attach(*port, input);
    events.inject(keyDown(1));
    events.inject(keyDown(2));
    scheduler.runReady();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(events.delivered().size(), 1u);
    EXPECT_EQ(events.tapCount(), 0u);
}

TEST_F(SimulatedEventSystemTest, DisplaysUnderPointsAndRefreshing) {
    events.setScreens({Screen{1, {0, 0, 100, 100}, 60}, Screen{2, {100, 0, 100, 100}, 144}});
    EXPECT_EQ(events.displayAt({50, 50}), DisplayID{1});
    EXPECT_EQ(events.displayAt({150, 50}), DisplayID{2});
    EXPECT_EQ(events.displayAt({250, 50}), std::nullopt);
    EXPECT_TRUE(events.isRefreshing(2));
    events.setRefreshing(2, false);
    EXPECT_FALSE(events.isRefreshing(2));
    EXPECT_FALSE(events.isRefreshing(3));
    events.setScreens({});
    EXPECT_TRUE(events.screens().empty());
}

TEST_F(SimulatedEventSystemTest, EventsInjectedFromOtherThreadsAreAllDelivered) {
    tap("tap");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) events.inject(keyDown(i));
        });
    for (auto& thread : threads) thread.join();
    scheduler.runReady();
    EXPECT_EQ(events.delivered().size(), 200u);
}

TEST(SimulatedSymbolicHotKeys, ReadsSwitchesAndUnavailability) {
    SimulatedSymbolicHotKeys hotKeys;
    ASSERT_TRUE(hotKeys.value(32));
    EXPECT_EQ(hotKeys.value(32)->keyCode, 0x7E);
    EXPECT_TRUE(hotKeys.isEnabled(32));
    hotKeys.setEnabled(32, false);
    EXPECT_FALSE(hotKeys.isEnabled(32));
    hotKeys.forget(33);
    EXPECT_FALSE(hotKeys.value(33));
    hotKeys.setAvailable(false);
    EXPECT_FALSE(hotKeys.isAvailable());
    EXPECT_FALSE(hotKeys.value(79));
}

}  // namespace
