#include "TapHostHarness.h"

using namespace tindlewave;
using namespace tindlewave::testkit;

namespace {

constexpr KeyCode f18{79};
constexpr std::uint64_t hyperFlags = 0x1E0000;

TapRules holdAndGestureRules() {
    TapRules rules;
    rules.carriers.emplace(f18, CarrierMeaning::holdModifiers(Modifiers::hyper));
    rules.carriers.emplace(KeyCode{105},
                           CarrierMeaning::press(Action::system(SystemAction::missionControl)));
    rules.buttons.emplace(ButtonKey{tapMouse, 4},
                          ControlBehavior::hold(KeyHold{{HeldModifier::leftCommand}, {}}));
    GesturePlan swipes{1000, Action::system(SystemAction::appExpose),
                       GestureMoves::swipes({{Direction::left, Action::system(SystemAction::spaceLeft)}},
                                            GestureFire::pastDistance)};
    rules.buttons.emplace(ButtonKey{tapMouse, 2}, ControlBehavior::gesture(swipes));
    return rules;
}

bool isRemoved(const TapSignal& s) { return is<TapSignal::Removed>(s); }
bool isInstalled(const TapSignal& s) { return is<TapSignal::Installed>(s); }
bool isReenabled(const TapSignal& s) { return is<TapSignal::Reenabled>(s); }

// The flags-changed events posted for the left Command key: its press and its release.
std::vector<std::uint64_t> commandChanges(const TapHostHarness& h) {
    std::vector<std::uint64_t> flags;
    for (const auto& posted : h.postedOf(EventType::flagsChanged)) {
        EXPECT_EQ(posted.level, EventLevel::hid);
        EXPECT_TRUE(posted.event.carriesMarker());
        if (posted.event.integer(IntegerField::keyCode) == 55) flags.push_back(posted.event.flags);
    }
    return flags;
}

struct TapHostTest : TapHostHarness {};

TEST_F(TapHostTest, InstallsOnceFailsWithoutAccessibilityAndRemovesOnAnOrderWithoutInstall) {
    grants.setAccessibility(PermissionState::Grant::denied);
    follow(holdAndGestureRules());
    ASSERT_EQ(signals.size(), 1u);
    EXPECT_TRUE(is<TapSignal::InstallFailed>(signals[0]));
    EXPECT_FALSE(host->isInstalled());

    grants.setAccessibility(PermissionState::Grant::granted);
    follow(holdAndGestureRules());
    follow(holdAndGestureRules());  // already installed: nothing
    EXPECT_EQ(countSignals(isInstalled), 1u);
    EXPECT_EQ(events.tapCount(), 1u);

    // A key-hold button and the overlay it brings, then the same rules without install.
    inject(button(EventType::otherMouseDown, 4));
    EXPECT_TRUE(host->hasOverlay());
    EXPECT_EQ(events.tapCount(), 2u);
    follow(holdAndGestureRules(), false);
    EXPECT_EQ(commandChanges(*this), (std::vector<std::uint64_t>{0x100108, 0x100}));
    EXPECT_TRUE(host->heldKeys().holds().empty());
    EXPECT_EQ(countSignals(isRemoved), 1u);
    EXPECT_EQ(events.tapCount(), 0u);
    EXPECT_FALSE(host->hasOverlay());
    follow(holdAndGestureRules(), false);  // nothing installed: nothing removed
    EXPECT_EQ(countSignals(isRemoved), 1u);
}

TEST_F(TapHostTest, AFailedTapIsOffOnceNoTapIsWanted) {
    grants.setAccessibility(PermissionState::Grant::denied);
    follow(holdAndGestureRules());
    ASSERT_EQ(signals.size(), 1u);
    follow(holdAndGestureRules(), false);
    ASSERT_EQ(signals.size(), 2u);
    EXPECT_TRUE(is<TapSignal::Removed>(signals[1]));
    follow(holdAndGestureRules(), false);  // said once
    EXPECT_EQ(signals.size(), 2u);

    // The quit says it as well.
    follow(holdAndGestureRules());
    onTap([&] { host->shutdown(); });
    ASSERT_EQ(signals.size(), 4u);
    EXPECT_TRUE(is<TapSignal::InstallFailed>(signals[2]));
    EXPECT_TRUE(is<TapSignal::Removed>(signals[3]));
}

TEST_F(TapHostTest, TheOverlayOfAControlsHoldGoesWithoutAMainTap) {
    const auto holder = KeyHolder::control(DeviceInstanceID{1}, CID{0xC3});
    const KeyHold shift{{HeldModifier::leftShift}, {}};
    for (bool quit : {false, true}) {
        follow(TapRules::empty(), false);
        onTap([&] { host->receive(KeyHoldEvent::press(holder, shift)); });
        ASSERT_TRUE(host->hasOverlay());
        ASSERT_FALSE(host->isInstalled());
        if (quit) {
            onTap([&] { host->shutdown(); });
        } else {
            follow(TapRules::empty(), false);
        }
        EXPECT_FALSE(host->hasOverlay()) << "quit " << quit;
        EXPECT_EQ(events.tapCount(), 0u) << "quit " << quit;
        EXPECT_TRUE(host->heldKeys().holds().empty());
    }
}

TEST_F(TapHostTest, ANewOrderWhileAGestureButtonIsDownReplaysItsDownAndLetsItsUpPass) {
    follow(holdAndGestureRules());
    inject(button(EventType::otherMouseDown, 2));
    EXPECT_TRUE(events.delivered().empty());  // swallowed while the gesture is open
    follow(holdAndGestureRules());
    auto downs = postedOf(EventType::otherMouseDown);
    ASSERT_EQ(downs.size(), 1u);
    EXPECT_EQ(downs[0].level, EventLevel::hid);
    EXPECT_TRUE(downs[0].event.carriesMarker());
    inject(button(EventType::otherMouseUp, 2));
    auto delivered = events.delivered();
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[0].type, EventType::otherMouseDown);
    EXPECT_EQ(delivered[1].type, EventType::otherMouseUp);
}

TEST_F(TapHostTest, ATimeOutForgetsTheHyperKeyReleasesKeyHoldsAndReenables) {
    follow(holdAndGestureRules());
    inject(key(EventType::keyDown, f18.rawValue, 0x800100), tapKeyboard);
    ASSERT_EQ(events.delivered().size(), 1u);
    EXPECT_EQ(events.delivered()[0].flags & hyperFlags, hyperFlags);
    inject(button(EventType::otherMouseDown, 4));

    events.disableTap(TapPort{1}, SimulatedEventSystem::DisableNotice::timeout);
    scheduler.runReady();
    EXPECT_EQ(countSignals(isReenabled), 1u);
    EXPECT_TRUE(events.isEnabled(TapPort{1}));
    EXPECT_TRUE(host->pipeline().carriers.held().empty());
    // Command went down over the hyper flags the session had; the hyper key's modifiers were
    // cleared (Command, whose key the hold keeps down, stays), then Command came up without
    // setting them again.
    auto changes = commandChanges(*this);
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes[0], hyperFlags | 0x108);
    EXPECT_EQ(changes[1] & hyperFlags, QuartzFlag::command);
    EXPECT_EQ(changes[2] & (hyperFlags | 0x8), 0u);

    // F18's up is swallowed: the system was already told its modifiers are up.
    const std::size_t delivered = events.delivered().size();
    inject(key(EventType::keyUp, f18.rawValue, 0x800100 | hyperFlags), tapKeyboard);
    EXPECT_EQ(events.delivered().size(), delivered);
}

TEST_F(TapHostTest, TheWatchdogReenablesASilentlyDisabledTapAndRemakesAnInvalidOne) {
    follow(holdAndGestureRules());
    events.disableTap(TapPort{1}, SimulatedEventSystem::DisableNotice::silent);
    advance(4.9);
    EXPECT_FALSE(events.isEnabled(TapPort{1}));
    advance(0.1);
    EXPECT_TRUE(events.isEnabled(TapPort{1}));
    EXPECT_EQ(countSignals(isReenabled), 1u);

    events.invalidateTap(TapPort{1});
    advance(5.0);
    EXPECT_TRUE(host->isInstalled());
    EXPECT_EQ(events.tapCount(), 1u);
    ASSERT_GE(signals.size(), 2u);
    EXPECT_TRUE(is<TapSignal::Removed>(signals[signals.size() - 2]));
    EXPECT_TRUE(is<TapSignal::Installed>(signals.back()));
    // The new tap works and is watched in turn.
    inject(key(EventType::keyDown, 105), tapKeyboard);
    EXPECT_EQ(actions, (std::vector<Action>{Action::system(SystemAction::missionControl)}));
    EXPECT_EQ(scheduler.timerCount(), 1u);
}

TEST_F(TapHostTest, TheWatchdogsReinstallReleasesHeldCarriersAndButtons) {
    follow(holdAndGestureRules());
    inject(key(EventType::keyDown, f18.rawValue, 0x800100), tapKeyboard);
    inject(button(EventType::otherMouseDown, 4));
    ASSERT_FALSE(host->pipeline().carriers.held().empty());
    ASSERT_FALSE(host->heldKeys().holds().empty());

    events.invalidateTap(TapPort{1});
    advance(5.0);
    ASSERT_TRUE(host->isInstalled());
    EXPECT_TRUE(host->pipeline().carriers.held().empty());
    EXPECT_TRUE(host->heldKeys().holds().empty());
    const auto changes = commandChanges(*this);
    ASSERT_GE(changes.size(), 2u);
    EXPECT_EQ(changes.back() & QuartzFlag::command, 0u);
    // The button's up passes: the new tap knows of no hold.
    inject(button(EventType::otherMouseUp, 4));
    EXPECT_EQ(events.delivered().back().type, EventType::otherMouseUp);
}

TEST_F(TapHostTest, InstallingRemakesTheOverlayAheadOfTheNewTap) {
    // A HID++ control holds Shift before the main tap runs: its overlay is the first tap.
    const auto holder = KeyHolder::control(DeviceInstanceID{1}, CID{0xC3});
    onTap([&] { host->receive(KeyHoldEvent::press(holder, KeyHold{{HeldModifier::leftShift}, {}})); });
    ASSERT_TRUE(events.isValid(TapPort{1}));
    follow(holdAndGestureRules());
    // The old overlay went; the main tap (2) came, then the overlay again (3), newer, so that it
    // sees events first and the main tap sees them with the held modifiers.
    EXPECT_FALSE(events.isValid(TapPort{1}));
    EXPECT_TRUE(events.isValid(TapPort{3}));
    EXPECT_EQ(events.tapCount(), 2u);
}

TEST_F(TapHostTest, PerformAndHeardVerdictsReachTheirChannelsInOrder) {
    TapRules rules = holdAndGestureRules();
    rules.carriers.emplace(KeyCode{107},
                           CarrierMeaning::press(Action::system(SystemAction::appExpose)));
    rules.listen = TapListen{ListenID{3}, {tapMouse}};
    follow(rules);
    inject(key(EventType::keyDown, 105), tapKeyboard);
    inject(key(EventType::keyDown, 107), tapKeyboard);
    inject(button(EventType::otherMouseDown, 7));
    EXPECT_EQ(actions, (std::vector<Action>{Action::system(SystemAction::missionControl),
                                            Action::system(SystemAction::appExpose)}));
    ASSERT_EQ(signals.size(), 2u);
    EXPECT_EQ(signals[1], TapSignal::heard(ListenID{3}, ListenPress::button(7)));
    EXPECT_TRUE(events.delivered().empty());
}

TEST_F(TapHostTest, TheOverlayAddsHeldModifiersToUnmarkedEventsAndIsMadeOnce) {
    follow(holdAndGestureRules());
    const auto holder = KeyHolder::control(DeviceInstanceID{1}, CID{0xC3});
    onTap([&] { host->receive(KeyHoldEvent::press(holder, KeyHold{{HeldModifier::leftShift}, {}})); });
    EXPECT_EQ(events.tapCount(), 2u);

    inject(button(EventType::leftMouseDown, 0));
    Event marked = button(EventType::leftMouseUp, 0);
    marked.mark();
    inject(marked);
    auto delivered = events.delivered();
    ASSERT_GE(delivered.size(), 2u);
    EXPECT_EQ(delivered[delivered.size() - 2].flags, 0x20002u);
    EXPECT_EQ(delivered.back().flags, 0u);

    // Let go and hold again: the same overlay, disabled and enabled.
    onTap([&] { host->receive(KeyHoldEvent::release(holder)); });
    EXPECT_FALSE(events.isEnabled(TapPort{2}));
    onTap([&] { host->receive(KeyHoldEvent::press(holder, KeyHold{{HeldModifier::leftShift}, {}})); });
    EXPECT_TRUE(events.isEnabled(TapPort{2}));
    EXPECT_EQ(events.tapCount(), 2u);
    // A time-out of the overlay turns it on again while modifiers are held.
    events.disableTap(TapPort{2}, SimulatedEventSystem::DisableNotice::timeout);
    scheduler.runReady();
    EXPECT_TRUE(events.isEnabled(TapPort{2}));

    onTap([&] { host->shutdown(); });
    EXPECT_EQ(events.tapCount(), 0u);
    EXPECT_FALSE(host->hasOverlay());
}

TEST_F(TapHostTest, QuitReleasesAButtonHeldThroughTheTapBeforeRemovingIt) {
    TapRules rules = holdAndGestureRules();
    rules.listen = TapListen{ListenID{9}, {tapKeyboard}};
    follow(rules);
    inject(button(EventType::otherMouseDown, 4));
    std::size_t postedBeforeQuit = events.posted().size();
    onTap([&] { host->shutdown(); });
    EXPECT_EQ(commandChanges(*this), (std::vector<std::uint64_t>{0x100108, 0x100}));
    EXPECT_GT(events.posted().size(), postedBeforeQuit);
    EXPECT_TRUE(is<TapSignal::Removed>(signals.back()));
    EXPECT_FALSE(host->isInstalled());
    EXPECT_EQ(host->pipeline().buttons.rules().size(), 0u);
    ASSERT_FALSE(events.associationCalls().empty());
    EXPECT_EQ(events.associationCalls().back(), true);  // given back even though never frozen
}

TEST_F(TapHostTest, ADestroyedHostLeavesNoTapTimerOrHeldKeyBehind) {
    TapRules rules = holdAndGestureRules();
    rules.smoothScroll.emplace(tapMouse, SmoothScroll::defaults());
    follow(rules);
    inject(wheel());  // (first: with Command held the wheel keeps its own meaning)
    inject(button(EventType::otherMouseDown, 4));
    ASSERT_NE(host->frames(), nullptr);
    EXPECT_EQ(events.tapCount(), 2u);
    onTap([&] { host.reset(); });
    EXPECT_EQ(events.tapCount(), 0u);
    EXPECT_EQ(scheduler.timerCount(), 0u);
    EXPECT_EQ(commandChanges(*this), (std::vector<std::uint64_t>{0x100108, 0x100}));
    inject(key(EventType::keyDown, 105), tapKeyboard);  // reaches no host
    EXPECT_EQ(events.delivered().back().integer(IntegerField::keyCode), 105);
}

}  // namespace
