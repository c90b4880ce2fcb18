// Listening for one press: refusals, presses through a HID++ link and through the tap, the
// time-out, replacing and ending a listen, and the record of devices diverted for listening.

#include <gtest/gtest.h>

#include "Platform/Simulated/HID/SimulatedHIDInterface.h"
#include "TestKit/EngineHarness.h"
#include "TindlewaveKit/Runtime/Engine/EngineConfigs.h"

namespace tindlewave {
namespace {

using namespace testkit;
using std::chrono::seconds;

struct EngineListenTest : EngineHarness {
    void listen(const DeviceMatch& match) {
        onHID([&] { engine->listen(match); });
    }
    std::optional<ListenStatus> listenRow(std::size_t row) const {
        return latest().devices.at(row).listen;
    }
    static Event buttonDown(std::int64_t number) {
        Event event;
        event.type = EventType::otherMouseDown;
        event.location = {500, 500};
        event.setInteger(IntegerField::buttonNumber, number);
        return event;
    }
};

TEST_F(EngineListenTest, RefusalsSayWhyInTheJournalAndTheRow) {
    attach(plainMouse());
    start();
    listen(plainMouseMatch);  // no configuration yet
    EXPECT_TRUE(hasLine("listen refused: disconnected"));

    send(configWith({plainMouseProfile()}));
    onHID([&] { engine->setPaused(true); });
    listen(plainMouseMatch);
    EXPECT_TRUE(hasLine("listen refused: paused"));
    EXPECT_EQ(listenRow(0), ListenStatus::ended(ListenEnd::paused));

    onHID([&] { engine->setPaused(false); });
    sendPermissions(Grant::denied, Grant::granted);
    listen(plainMouseMatch);  // a plain mouse is heard only through the tap
    EXPECT_TRUE(hasLine("listen refused: needsAccessibility"));
    EXPECT_EQ(listenRow(0), ListenStatus::ended(ListenEnd::needsAccessibility));

    // Stopping an ended listen clears it without a line.
    onHID([&] { engine->stopListening(); });
    EXPECT_FALSE(listenRow(0).has_value());
    EXPECT_EQ(countLines("listen stopped"), 0u);
}

TEST_F(EngineListenTest, ARecordedMouseIsHeardWithoutAccessibilityThroughItsLink) {
    const auto master = attach(SimulatedDevice::hidppMouse(masterThree(), 0x10));
    start();
    send(configWith({masterProfile()}));
    sendPermissions(Grant::denied, Grant::granted);
    settle(seconds(2));

    listen(masterMatch);
    settle(seconds(2));
    EXPECT_EQ(countLines("listen #1 on #1 MX Master 3 Wireless Mouse"), 1u);
    ASSERT_TRUE(listenRow(0) && is<ListenStatus::Listening>(*listenRow(0)));
    EXPECT_TRUE(diverted(master, 0x56));  // every control, for the listen

    click(master, CID{0x56});
    settle(seconds(2));
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0], (LearnedPress{masterMatch, Heard::control(Control::hidpp(CID{0x56}))}));
    EXPECT_TRUE(hasLine("listen #1 heard control 0x56"));
    EXPECT_FALSE(listenRow(0).has_value());
    EXPECT_FALSE(diverted(master, 0x56));  // back as the configuration wants it
    EXPECT_TRUE(diverted(master, 0x53));
}

TEST_F(EngineListenTest, ASecondListenReplacesTheFirstAndBothDevicesApplyAgain) {
    attach(SimulatedDevice::hidppMouse(masterThree(), 0x10));
    attach(hyperKeyboard());
    start();
    send(configWith({masterProfile(), hyperKeyboardProfile()}));
    settle(seconds(2));

    listen(masterMatch);
    settle(seconds(2));
    advance(seconds(5));
    listen(keyboardMatch);
    settle(seconds(2));
    EXPECT_EQ(countLines("hidpp #1 MX Master 3 Wireless Mouse reasons=listen"), 2u);
    EXPECT_EQ(countLines("apply #2 Keyboard reasons=listen"), 1u);
    EXPECT_FALSE(listenRow(0).has_value());
    EXPECT_TRUE(listenRow(1).has_value());

    advance(seconds(6));  // past the first listen's window: its time-out does nothing
    EXPECT_EQ(countLines("timed out"), 0u);
    advance(seconds(4));
    EXPECT_TRUE(hasLine("listen #2 timed out"));
    EXPECT_EQ(listenRow(1), ListenStatus::ended(ListenEnd::timedOut));

    // The record names each HID++ device once, however often it is listened to.
    listen(masterMatch);
    listen(masterMatch);
    EXPECT_EQ(defaults.stringArray("listenDiverted")->size(), 1u);
}

TEST_F(EngineListenTest, APressFromAnotherDeviceOrAnOldListenIsIgnored) {
    const auto mouse = attach(plainMouse());
    const auto keyboard = attach(hyperKeyboard());
    start();
    send(configWith({plainMouseProfile(), hyperKeyboardProfile()}));
    listen(plainMouseMatch);
    ASSERT_TRUE(engine->sentTapOrder()->rules.listen.has_value());

    inject(buttonDown(5), sender(keyboard));  // not the listened device: it passes
    EXPECT_TRUE(heard.empty());

    // A press heard for listen #1 arrives after listen #2 replaced it.
    events.inject(buttonDown(5), HIDOrigin{sender(mouse), 1});
    hid.post([&] { engine->listen(plainMouseMatch); });
    settle();
    EXPECT_TRUE(heard.empty());
    EXPECT_EQ(countLines("heard"), 0u);
    ASSERT_TRUE(is<Listener::Armed>(engine->listener().state));
    EXPECT_EQ(as<Listener::Armed>(engine->listener().state)->id, ListenID{2});

    inject(buttonDown(5), sender(mouse));
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].heard, Heard::control(Control::button(5)));
}

TEST_F(EngineListenTest, AListenEndsWithTheDeviceItListensToAndWithPauseAndSleep) {
    attach(SimulatedDevice::hidppMouse(masterThree(), 0x10));
    const auto keyboard = attach(hyperKeyboard());
    start();
    send(configWith({masterProfile(), hyperKeyboardProfile()}));

    listen(masterMatch);
    detach(keyboard);  // another device: the listen goes on
    EXPECT_TRUE(is<Listener::Armed>(engine->listener().state));

    wake();
    EXPECT_TRUE(hasLine("listen ended: slept"));
    EXPECT_EQ(listenRow(0), ListenStatus::ended(ListenEnd::slept));

    listen(masterMatch);
    onHID([&] { engine->setPaused(true); });
    EXPECT_TRUE(hasLine("listen ended: paused"));
    onHID([&] { engine->setPaused(false); });

    listen(masterMatch);
    onHID([&] { engine->stopListening(); });
    EXPECT_TRUE(hasLine("listen stopped"));
    EXPECT_FALSE(listenRow(0).has_value());
}

TEST_F(EngineListenTest, AFailedListeningApplyShowsGettingReady) {
    const auto master = attach(SimulatedDevice::hidppMouse(masterThree(), 0x10));
    start();
    send(configWith({masterProfile()}));
    settle(seconds(2));
    ASSERT_TRUE(is<HIDPPStatus::Progress::SetUp>(latest().devices[0].hidpp->progress));

    world.interface(master.interfaces[0])->failingReports = 1'000'000;
    listen(masterMatch);
    advance(seconds(6));
    ASSERT_TRUE(is<HIDPPStatus::Progress::NotSetUp>(latest().devices[0].hidpp->progress));
    EXPECT_TRUE(listenRow(0) && is<ListenStatus::GettingReady>(*listenRow(0)));
}

TEST_F(EngineListenTest, APermissionChangeEndsAListenThatCanNoLongerBeHeard) {
    attach(plainMouse());
    attach(SimulatedDevice::hidppMouse(masterThree(), 0x10));
    start();
    send(configWith({plainMouseProfile(), masterProfile()}));
    settle(seconds(2));
    const std::size_t plainRow = latest().devices[0].name == "Plain Mouse" ? 0 : 1;

    // A plain mouse is heard only through the tap.
    listen(plainMouseMatch);
    ASSERT_TRUE(is<Listener::Armed>(engine->listener().state));
    sendPermissions(Grant::denied, Grant::granted);
    EXPECT_TRUE(hasLine("listen ended: needsAccessibility"));
    EXPECT_EQ(listenRow(plainRow), ListenStatus::ended(ListenEnd::needsAccessibility));

    // The recorded mouse is heard through its link while Input Monitoring lasts.
    listen(masterMatch);
    ASSERT_TRUE(is<Listener::Armed>(engine->listener().state));
    sendPermissions(Grant::denied, Grant::granted);  // unchanged: goes on
    EXPECT_TRUE(is<Listener::Armed>(engine->listener().state));
    sendPermissions(Grant::denied, Grant::denied);
    EXPECT_EQ(countLines("listen ended: needsAccessibility"), 2u);
}

TEST_F(EngineListenTest, AListenIsNotReadyWhileAKeyMapPassRuns) {
    attach(hyperKeyboard());
    start();
    send(configWith({hyperKeyboardProfile()}));
    settle(seconds(2));
    ASSERT_GT(mappedPairs(), 0u);

    // The listen's key-map pass is on its way (its hidutil run not yet done).
    hid.post([&] { engine->listen(keyboardMatch); });
    scheduler.runReady();
    ASSERT_GT(pool.pending(), 0u);
    ASSERT_TRUE(listenRow(0).has_value());
    EXPECT_TRUE(is<ListenStatus::GettingReady>(*listenRow(0)));
    settle();
    ASSERT_TRUE(listenRow(0).has_value());
    EXPECT_TRUE(is<ListenStatus::Listening>(*listenRow(0)));
}

TEST_F(EngineListenTest, AListenIsRefusedOnceTheQuitBegan) {
    attach(plainMouse());
    start();
    send(configWith({plainMouseProfile()}));
    onHID([&] { engine->shutdown(nullptr); });
    listen(plainMouseMatch);
    EXPECT_TRUE(hasLine("listen refused: paused"));
    EXPECT_FALSE(is<Listener::Armed>(engine->listener().state));
}

}  // namespace
}  // namespace tindlewave
