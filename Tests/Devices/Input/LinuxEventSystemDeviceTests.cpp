// The Linux event system over emulated evdev nodes and uinput: which nodes are grabbed and
// mirrored, when, and what reaches the mirrors and the program's own devices.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <utility>

#include "Core/Evdev/EvdevKeys.h"
#include "Platform/Linux/Input/TerminalStop.h"
#include "EventDeviceWorld.h"
#include "Model/Keys.h"

extern char** environ;

namespace tindlewave::testkit::umockdev {
namespace {

using namespace std::chrono_literals;

constexpr std::uint64_t keyMask = eventMaskBit(EventType::keyDown) | eventMaskBit(EventType::keyUp);
const Code syn{EV_SYN, SYN_REPORT, 0};

TEST(LinuxEventSystemDevices, GrabsAndMirrorsMiceAndKeyboardsNeverTouchPadsNorItsOwn) {
    EventDeviceWorld world;
    EXPECT_TRUE(world.grabbed().empty());  // no tap, no grab
    ASSERT_TRUE(world.tap(keyMask));
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return world.grabbed().size() == 3; }));
    auto grabbed = world.grabbed();
    std::sort(grabbed.begin(), grabbed.end());
    EXPECT_EQ(grabbed, (std::vector<std::string>{world.mouse.event, world.hidppMouse.event,
                                                 world.keyboard.event}));
    EXPECT_TRUE(world.mouseSide->isGrabbed());
    EXPECT_TRUE(world.keyboardSide->isGrabbed());
    EXPECT_EQ(world.touchpadSide->grabCalls(), 0);
    EXPECT_EQ(world.ownSide->grabCalls(), 0);

    // Each mirror is its node again, behind the program's phys prefix and without a repeat.
    const auto mirror = world.uinput->named("Test USB Mouse");
    ASSERT_TRUE(mirror);
    const InputDescription original =
        mouseDescription("Test USB Mouse", "usb-0000:00:14.0-4/input0", 0x1234, 0x5678);
    EXPECT_EQ(mirror->description.phys, "tindlewave/usb-0000:00:14.0-4/input0");
    EXPECT_EQ(mirror->description.id.vendor, 0x1234);
    EXPECT_EQ(mirror->description.id.product, 0x5678);
    EXPECT_EQ(mirror->description.id.bustype, BUS_USB);
    EXPECT_EQ(mirror->description.id.version, 0x0111);
    EXPECT_EQ(*mirror->description.codesOf(EV_REL), *original.codesOf(EV_REL));
    EXPECT_EQ(*mirror->description.codesOf(EV_KEY), *original.codesOf(EV_KEY));
    const auto keyboardMirror = world.uinput->named("Test Keyboard");
    ASSERT_TRUE(keyboardMirror);
    EXPECT_FALSE(keyboardMirror->description.has(EV_REP));
    EXPECT_TRUE(keyboardMirror->description.has(EV_LED, LED_CAPSL));
    // And the program's own two devices for its posts.
    EXPECT_TRUE(world.uinput->named("Tindlewave virtual keyboard"));
    EXPECT_TRUE(world.uinput->named("Tindlewave virtual pointer"));
    EXPECT_FALSE(world.uinput->named("SynPS/2 Synaptics TouchPad"));

    // Without a tap that wants them, the grabs go and so do the mirrors.
    world.onInput([&] { world.events->enable(*world.port, false); });
    EXPECT_TRUE(world.grabbed().empty());
    EXPECT_FALSE(world.mouseSide->isGrabbed());
    EXPECT_FALSE(world.uinput->named("Test USB Mouse"));
}

TEST(LinuxEventSystemDevices, AKeyboardsMirrorHasEveryKeyAKeyRouteCanGiveIt) {
    // Its descriptor stops at F12 (so do many), but the key map may route its scan codes to the
    // carriers F13 and up: the kernel would drop those keys on a mirror without them.
    EventDeviceWorld world(true, keyboardDescription(KEY_F12));
    ASSERT_TRUE(world.tap(keyMask));
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return world.grabbed().size() == 3; }));
    const auto mirror = world.uinput->named("Test Keyboard");
    ASSERT_TRUE(mirror);
    for (std::uint16_t code = KEY_F13; code <= KEY_F24; ++code)
        EXPECT_TRUE(mirror->description.has(EV_KEY, code)) << code;
    for (std::uint16_t code : evdevkeys::routableCodes())
        EXPECT_TRUE(mirror->description.has(EV_KEY, code)) << code;
    EXPECT_TRUE(mirror->description.has(EV_KEY, KEY_RIGHTMETA));
    EXPECT_TRUE(mirror->description.has(EV_KEY, KEY_ESC));  // and its own keys still

    // A routed key reaches the desktop through the mirror.
    world.keyboardSide->send({{EV_MSC, MSC_SCAN, 0x70039}, {EV_KEY, KEY_F18, 1}});
    world.keyboardSide->send({{EV_MSC, MSC_SCAN, 0x70039}, {EV_KEY, KEY_F18, 0}});
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return world.uinput->written("Test Keyboard").size() == 6; }));

    // A mouse's mirror stays its node: no keys it cannot have.
    const auto mouseMirror = world.uinput->named("Test USB Mouse");
    ASSERT_TRUE(mouseMirror);
    EXPECT_FALSE(mouseMirror->description.has(EV_KEY, KEY_F13));
}

TEST(LinuxEventSystemDevices, TheProgramsOwnDevicesAreThereBeforeTheFirstPost) {
    // A desktop takes up a device once udev has announced it: made at the first post, the
    // post's own codes would reach no one.
    EventDeviceWorld world;
    EXPECT_TRUE(world.uinput->named("Tindlewave virtual keyboard"));
    EXPECT_TRUE(world.uinput->named("Tindlewave virtual pointer"));
    EXPECT_EQ(world.uinput->devices().size(), 2u);  // no mirror without a tap

    // Another session's turn destroys them (the kernel lets go of what they hold); back in the
    // session, they are made again at once.
    world.onInput([&] { world.events->setSessionActive(false); });
    EXPECT_FALSE(world.uinput->named("Tindlewave virtual keyboard"));
    EXPECT_FALSE(world.uinput->named("Tindlewave virtual pointer"));
    world.onInput([&] { world.events->setSessionActive(true); });
    EXPECT_TRUE(world.uinput->named("Tindlewave virtual keyboard"));
    EXPECT_TRUE(world.uinput->named("Tindlewave virtual pointer"));
}

// Options under which only udev's "add" through the registry announces a device (looks counted),
// and the desktop is given `desktopOpen` to open it: a wait between that and twice that after the
// add (a busy machine's lateness fits in the second half).
constexpr double desktopOpen = 1.5;
LinuxEventSystem::Options announcedOnlyByTheRegistry(std::atomic<int>& looks) {
    auto options = EventDeviceWorld::quickOptions();
    options.desktopOpenSeconds = desktopOpen;
    options.isAnnounced = [&looks](const std::string&) {
        ++looks;
        return false;
    };
    return options;
}

TEST(LinuxEventSystemDevices, PostsWaitInOrderUntilUdevHasAnnouncedTheProgramsDevicesAndNoneIsLost) {
    // A desktop opens the program's keyboard once udev has announced it: a shortcut written
    // before then is lost, or comes without its modifiers.
    std::atomic<int> looks{0};
    auto options = announcedOnlyByTheRegistry(looks);
    EventDeviceWorld world(true, keyboardDescription(), options);
    auto key = [](EventType type, std::int64_t code, std::uint64_t flags) {
        Event e;
        e.type = type;
        e.flags = flags;
        e.setInteger(IntegerField::keyCode, code);
        return e;
    };
    const std::uint64_t command = quartzFlags(Modifiers::command);
    world.onInput([&] {
        world.events->post(key(EventType::flagsChanged, 0x37, command), EventLevel::session);
        world.events->post(key(EventType::keyDown, 0x00, command), EventLevel::session);
        world.events->post(key(EventType::keyUp, 0x00, command), EventLevel::session);
        world.events->post(key(EventType::flagsChanged, 0x37, 0), EventLevel::session);
    });
    // Looked at every 10 ms: a while of looks writes nothing.
    int before = looks.load();
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return looks.load() >= before + 10; }));
    EXPECT_TRUE(world.uinput->written("Tindlewave virtual keyboard").empty());
    // udev's "add" of the keyboard's node through the registry; the pointer's is still to come.
    ASSERT_TRUE(world.announce("Tindlewave virtual keyboard"));
    before = looks.load();
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return looks.load() >= before + 10; }));
    EXPECT_TRUE(world.uinput->written("Tindlewave virtual keyboard").empty());
    // Both announced: written once the desktop has had its moment to open them.
    const auto announcing = std::chrono::steady_clock::now();
    ASSERT_TRUE(world.announce("Tindlewave virtual pointer"));
    const std::vector<Code> shortcut{{EV_KEY, KEY_LEFTMETA, 1}, syn, {EV_KEY, KEY_A, 1}, syn,
                                     {EV_KEY, KEY_A, 0},        syn, {EV_KEY, KEY_LEFTMETA, 0}, syn};
    ASSERT_TRUE(EventDeviceWorld::eventually(
        [&] { return world.uinput->written("Tindlewave virtual keyboard").size() >= shortcut.size(); }));
    const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - announcing;
    EXPECT_GE(waited.count(), desktopOpen);
    EXPECT_LT(waited.count(), 2 * desktopOpen);
    EXPECT_EQ(world.uinput->written("Tindlewave virtual keyboard"), shortcut);
    // The journal says how long they waited, once the last of them is written.
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return !world.waiter.read([&] { return world.journal.empty(); }); }));
    const auto said = world.waiter.read([&] { return world.journal; });
    ASSERT_EQ(said.size(), 1u);
    EXPECT_NE(said[0].find("posted what waited"), std::string::npos) << said[0];
    EXPECT_NE(said[0].find("(4 events)"), std::string::npos) << said[0];

    // More than the queue holds, before any announcement: none is lost, all go out in order, and
    // the journal says why they did not wait.
    EventDeviceWorld flooded(true, keyboardDescription(), options);
    constexpr int floods = 300;
    flooded.onInput([&] {
        for (int i = 0; i < floods; ++i)
            flooded.events->post(key(i % 2 == 0 ? EventType::keyDown : EventType::keyUp, 0x00, 0), EventLevel::session);
    });
    std::vector<Code> all;
    for (int i = 0; i < floods; ++i) all.insert(all.end(), {{EV_KEY, KEY_A, i % 2 == 0 ? 1 : 0}, syn});
    EXPECT_TRUE(EventDeviceWorld::eventually(
        [&] { return flooded.uinput->written("Tindlewave virtual keyboard").size() >= all.size(); }));
    EXPECT_EQ(flooded.uinput->written("Tindlewave virtual keyboard"), all);
    EXPECT_TRUE(flooded.waiter.read([&] {
        return !flooded.journal.empty() && flooded.journal[0].find("more than 256 posts waited") != std::string::npos;
    }));

    // Where no udev announces at all: written at once, and the journal says so once.
    options.udevAnnounces = false;
    options.isAnnounced = [](const std::string&) { return false; };
    EventDeviceWorld unannounced(true, keyboardDescription(), options);
    unannounced.onInput([&] {
        unannounced.events->post(key(EventType::keyDown, 0x00, 0), EventLevel::session);
        unannounced.events->post(key(EventType::keyUp, 0x00, 0), EventLevel::session);
    });
    EXPECT_TRUE(EventDeviceWorld::eventually(
        [&] { return unannounced.uinput->written("Tindlewave virtual keyboard").size() >= 4; }));
    EXPECT_EQ(unannounced.uinput->written("Tindlewave virtual keyboard"),
              (std::vector<Code>{{EV_KEY, KEY_A, 1}, syn, {EV_KEY, KEY_A, 0}, syn}));
    const auto lines = unannounced.waiter.read([&] { return unannounced.journal; });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("udev announces no device here"), std::string::npos) << lines[0];
}

TEST(LinuxEventSystemDevices, AGrabWaitsUntilNoKeyOfTheNodeIsDown) {
    EventDeviceWorld world;
    world.keyboardSide->setKeysDown({KEY_A});
    ASSERT_TRUE(world.tap(keyMask));
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return world.mouseSide->isGrabbed(); }));
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(world.keyboardSide->isGrabbed());  // its up must still reach the desktop
    world.keyboardSide->setKeysDown({});
    EXPECT_TRUE(EventDeviceWorld::eventually([&] { return world.keyboardSide->isGrabbed(); }));
}

TEST(LinuxEventSystemDevices, ANodeAnotherProgramGrabsIsLeftAloneAndReported) {
    EventDeviceWorld world;
    world.hidppSide->setHeldElsewhere(true);
    ASSERT_TRUE(world.tap(keyMask));
    ASSERT_TRUE(EventDeviceWorld::eventually([&] {
        return world.read<std::vector<std::string>>([&] { return world.events->busyNodes(); }) ==
               std::vector<std::string>{world.hidppMouse.event};
    }));
    EXPECT_FALSE(world.hidppSide->isGrabbed());
    EXPECT_FALSE(world.uinput->named("MX Master 3 Wireless Mouse"));  // no mirror of it
    EXPECT_TRUE(world.mouseSide->isGrabbed());

    // The next time taps want grabs, it is tried again.
    world.onInput([&] { world.events->enable(*world.port, false); });
    world.hidppSide->setHeldElsewhere(false);
    world.onInput([&] { world.events->enable(*world.port, true); });
    EXPECT_TRUE(EventDeviceWorld::eventually([&] { return world.hidppSide->isGrabbed(); }));
}

TEST(LinuxEventSystemDevices, FramesPassVerbatimAndEventsCarryThePublishedOrigin) {
    EventDeviceWorld world;
    ASSERT_TRUE(world.tap(keyMask | eventMaskBit(EventType::scrollWheel)));
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return world.grabbed().size() == 3; }));
    const auto mouseID = world.idOf(world.mouse);
    const auto keyboardID = world.idOf(world.keyboard);
    ASSERT_TRUE(mouseID && keyboardID);

    // Motion no tap sees: to the mirror in one write, byte for byte, no callback.
    world.mouseSide->send({{EV_REL, REL_X, 3}, {EV_REL, REL_Y, -2}, {EV_MSC, MSC_SCAN, 9}});
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return !world.uinput->written("Test USB Mouse").empty(); }));
    EXPECT_EQ(world.uinput->take("Test USB Mouse"),
              (std::vector<Code>{{EV_REL, REL_X, 3}, {EV_REL, REL_Y, -2}, {EV_MSC, MSC_SCAN, 9}, syn}));
    EXPECT_EQ(world.seenCount(), 0u);

    // A detent of a high-resolution wheel, then a fraction of one.
    world.mouseSide->send({{EV_REL, REL_WHEEL, 1}, {EV_REL, REL_WHEEL_HI_RES, 120}});
    world.mouseSide->send({{EV_REL, REL_WHEEL_HI_RES, 40}});
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return world.seenCount() == 2; }));
    world.waiter.read([&] {
        const auto& [detent, detentOrigin] = world.seen[0];
        EXPECT_EQ(detent.type, EventType::scrollWheel);
        EXPECT_EQ(detent.integer(IntegerField::scrollIsContinuous), 0);
        EXPECT_EQ(detentOrigin, (HIDOrigin{SenderID{*mouseID}, 1.0}));
        const auto& [fine, fineOrigin] = world.seen[1];
        EXPECT_EQ(fine.integer(IntegerField::scrollIsContinuous), 1);
        EXPECT_DOUBLE_EQ(fine.fixedPoint(FixedPointField::scrollFixedDelta1), 1.0 / 3);
        EXPECT_DOUBLE_EQ(fineOrigin->wheelDetents, 1.0 / 3);
        return 0;
    });
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return world.uinput->written("Test USB Mouse").size() == 5; }));
    EXPECT_EQ(world.uinput->take("Test USB Mouse"),
              (std::vector<Code>{{EV_REL, REL_WHEEL, 1}, {EV_REL, REL_WHEEL_HI_RES, 120}, syn,
                                 {EV_REL, REL_WHEEL_HI_RES, 40}, syn}));

    // A key, translated, with the keyboard's id.
    world.keyboardSide->send({{EV_MSC, MSC_SCAN, 0x70004}, {EV_KEY, KEY_A, 1}});
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return world.seenCount() == 3; }));
    world.waiter.read([&] {
        EXPECT_EQ(world.seen[2].first.type, EventType::keyDown);
        EXPECT_EQ(world.seen[2].first.integer(IntegerField::keyCode), 0);
        EXPECT_EQ(world.seen[2].second->sender, SenderID{*keyboardID});
        return 0;
    });
}

TEST(LinuxEventSystemDevices, AGrabWaitsForTheRegistrysAddOfTheMirrorsNodeWhereUdevAnnounces) {
    std::atomic<int> looks{0};
    auto options = announcedOnlyByTheRegistry(looks);
    EventDeviceWorld world(true, keyboardDescription(), options);
    // The nodes of the sysnames uinput gives the three mirrors are in udev's tree already, their
    // "add" heard before any mirror was made: being there is not being announced.
    std::vector<std::string> heard;
    Subscription hearing = world.read<Subscription>([&] {
        return world.registry->watchOwnNodes(world.input, [&](const std::string& sysname) {
            world.waiter.update([&] { heard.push_back(sysname); });
        });
    });
    int next = 0;
    for (const auto& device : world.uinput->devices())
        next = std::max(next, std::stoi(device.sysname.substr(5)) + 1);
    std::map<std::string, FixtureDevice> early;
    for (int n = next; n < next + 3; ++n) {
        const std::string sysname = "input" + std::to_string(n);
        early.emplace(sysname, EventDeviceWorld::ownNode(sysname, "early " + sysname));
        ASSERT_TRUE(world.testbed.add(early.at(sysname).text()));
    }
    // Heard by the event system too (its watch came first, on the same executor).
    ASSERT_TRUE(world.waiter.waitFor([&] { return heard.size() == 3; }, 20s));
    ASSERT_TRUE(world.tap(keyMask));
    ASSERT_TRUE(EventDeviceWorld::eventually([&] {
        return world.uinput->named("Test Keyboard") && world.uinput->named("Test USB Mouse") &&
               world.uinput->named("MX Master 3 Wireless Mouse");
    }));
    // Mirrored, not grabbed, look after look: the desktop has not been told of the mirrors yet.
    const int before = looks.load();
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return looks.load() >= before + 30; }));
    EXPECT_TRUE(world.grabbed().empty());
    EXPECT_FALSE(world.keyboardSide->isGrabbed());

    // udev announces the keyboard's mirror: that node is grabbed, the mice wait on.
    auto announce = [&](const std::string& name) {
        const std::string sysname = world.uinput->named(name)->sysname;
        ASSERT_TRUE(early.contains(sysname)) << name << ": " << sysname;
        world.testbed.uevent(early.at(sysname).eventPath, "add");
    };
    // Grabbed once the desktop has had its moment to open the mirror.
    const auto announcing = std::chrono::steady_clock::now();
    announce("Test Keyboard");
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return world.keyboardSide->isGrabbed(); }));
    const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - announcing;
    EXPECT_GE(waited.count(), desktopOpen);
    EXPECT_LT(waited.count(), 2 * desktopOpen);
    EXPECT_EQ(world.grabbed(), std::vector<std::string>{world.keyboard.event});
    announce("Test USB Mouse");
    announce("MX Master 3 Wireless Mouse");
    EXPECT_TRUE(EventDeviceWorld::eventually([&] { return world.grabbed().size() == 3; }));
    EXPECT_TRUE(world.waiter.read([&] { return world.journal.empty(); }));

    // Where no udev announces at all: grabbed at once, and the journal says so once.
    options = EventDeviceWorld::quickOptions();
    options.udevAnnounces = false;
    EventDeviceWorld unannounced(true, keyboardDescription(), options);
    unannounced.announcing = false;
    ASSERT_TRUE(unannounced.tap(keyMask));
    EXPECT_TRUE(EventDeviceWorld::eventually([&] { return unannounced.grabbed().size() == 3; }));
    const auto lines = unannounced.waiter.read([&] { return unannounced.journal; });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("udev announces no device here"), std::string::npos) << lines[0];
}

TEST(LinuxEventSystemDevices, WhatCameBeforeTheGrabIsTheDesktopsAndWhatCameSinceIsTheProgramsOrGivenBack) {
    auto options = EventDeviceWorld::quickOptions();
    EventDeviceWorld world(true, keyboardDescription(), options);
    world.announcing = false;
    ASSERT_TRUE(world.tap(keyMask));
    ASSERT_TRUE(EventDeviceWorld::eventually([&] {
        return world.uinput->named("Test USB Mouse").has_value() && world.uinput->named("Test Keyboard").has_value();
    }));
    // Open and mirrored, not grabbed: what the mouse sends now reaches the desktop from the node.
    world.mouseSide->send({{EV_REL, REL_X, 5}});
    // The moment of the grab, the mouse moves and a key that went down before goes up.
    world.mouseSide->sendOnGrab({{EV_REL, REL_X, 7}});
    world.keyboardSide->sendOnGrab({{EV_KEY, KEY_B, 0}});
    world.announcing = true;

    // The mouse's later move is the program's, to its mirror; the earlier one is not.
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return !world.uinput->written("Test USB Mouse").empty(); }));
    EXPECT_EQ(world.uinput->take("Test USB Mouse"), (std::vector<Code>{{EV_REL, REL_X, 7}, syn}));
    // The key's up belongs where its down went: the keyboard is let go of, the up given back to
    // its node (once let go of: to a grabbed node it would come back to the program alone), and
    // it is grabbed at the next look.
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return !world.keyboardSide->written().empty(); }));
    EXPECT_EQ(world.keyboardSide->written(), (std::vector<Code>{{EV_KEY, KEY_B, 0}, syn}));
    EXPECT_TRUE(world.keyboardSide->writtenWhileGrabbed().empty());
    EXPECT_TRUE(EventDeviceWorld::eventually([&] { return world.keyboardSide->isGrabbed(); }));
    EXPECT_EQ(world.seenCount(), 0u);
    EXPECT_TRUE(world.uinput->written("Test Keyboard").empty());
}

TEST(LinuxEventSystemDevices, ANodeRemovedMidGrabIsDroppedWithItsMirror) {
    EventDeviceWorld world;
    ASSERT_TRUE(world.tap(keyMask));
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return world.grabbed().size() == 3; }));
    ASSERT_TRUE(world.uinput->named("Test USB Mouse"));
    for (const auto& path : world.mouse.removalOrder()) world.testbed.unplug(path);
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return world.grabbed().size() == 2; }));
    EXPECT_FALSE(world.uinput->named("Test USB Mouse"));
    EXPECT_TRUE(world.keyboardSide->isGrabbed());
}

TEST(LinuxEventSystemDevices, LostCodesResyncFromTheNodesKeys) {
    EventDeviceWorld world;
    ASSERT_TRUE(world.tap(eventMaskBit(EventType::otherMouseDragged) | eventMaskBit(EventType::mouseMoved)));
    // Once the node is grabbed, whatever it sends is the program's, however soon it comes.
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return world.mouseSide->isGrabbed(); }));
    world.mouseSide->send({{EV_KEY, BTN_SIDE, 1}});
    world.mouseSide->send({{EV_REL, REL_X, 1}});
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return world.seenCount() == 1; }));
    EXPECT_EQ(world.waiter.read([&] { return world.seen[0].first.type; }), EventType::otherMouseDragged);

    // The kernel's buffer overflowed while the button went up: the up is lost with the rest of
    // that frame, the node's keys say it is up, and so the mirror is told and motion is a move.
    world.mouseSide->setKeysDown({});
    world.mouseSide->sendRaw({input_event{{}, EV_KEY, BTN_SIDE, 0}, input_event{{}, EV_SYN, SYN_DROPPED, 0},
                              input_event{{}, EV_REL, REL_X, 9}, input_event{{}, EV_SYN, SYN_REPORT, 0}});
    ASSERT_TRUE(EventDeviceWorld::eventually([&] {
        const auto written = world.uinput->written("Test USB Mouse");
        return std::find(written.begin(), written.end(), Code{EV_KEY, BTN_SIDE, 0}) != written.end();
    }));
    EXPECT_TRUE(nothingDown(world.uinput->written("Test USB Mouse")));
    world.mouseSide->send({{EV_REL, REL_X, 2}});
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return world.seenCount() == 2; }));
    EXPECT_EQ(world.waiter.read([&] { return world.seen[1].first.type; }), EventType::mouseMoved);
    EXPECT_EQ(world.waiter.read([&] { return world.seen[1].first.integer(IntegerField::deltaX); }), 2);
    EXPECT_TRUE(nothingDown(world.uinput->take("Test USB Mouse")));
}

TEST(LinuxEventSystemDevices, LostCodesResyncEveryKeyUpsAndDownsThroughTheTaps) {
    EventDeviceWorld world;
    ASSERT_TRUE(world.tap(keyMask | eventMaskBit(EventType::flagsChanged)));
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return world.grabbed().size() == 3; }));
    world.keyboardSide->send({{EV_KEY, KEY_B, 1}});
    world.keyboardSide->send({{EV_KEY, KEY_LEFTSHIFT, 1}});
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return world.seenCount() == 2; }));
    // The taps hear of a frame before it is written to the mirror.
    ASSERT_TRUE(EventDeviceWorld::eventually([&] {
        const auto written = world.uinput->written("Test Keyboard");
        return std::find(written.begin(), written.end(), Code{EV_KEY, KEY_LEFTSHIFT, 1}) != written.end();
    }));

    // The buffer overflowed while B and Shift went up and C went down: all three are lost. What
    // the node sent after the overflow (I typed, then D down) is in its state already, and comes
    // out of it: nothing the node sent before D's down may follow it.
    world.uinput->take("Test Keyboard");
    world.keyboardSide->setKeysDown({KEY_C, KEY_D});
    world.keyboardSide->sendRaw({input_event{{}, EV_KEY, KEY_B, 0}, input_event{{}, EV_SYN, SYN_DROPPED, 0},
                                 input_event{{}, EV_KEY, KEY_C, 1}, input_event{{}, EV_SYN, SYN_REPORT, 0},
                                 input_event{{}, EV_KEY, KEY_I, 1}, input_event{{}, EV_SYN, SYN_REPORT, 0},
                                 input_event{{}, EV_KEY, KEY_I, 0}, input_event{{}, EV_SYN, SYN_REPORT, 0},
                                 input_event{{}, EV_KEY, KEY_D, 1}, input_event{{}, EV_SYN, SYN_REPORT, 0}});
    // B and Shift go up, then D and C go down on the mirror, and the taps hear of them like any key.
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return world.seenCount() == 6; }));
    // Written to the mirror after the taps heard of them, on the writer's thread.
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return world.uinput->written("Test Keyboard").size() >= 8; }));
    EXPECT_EQ(world.uinput->take("Test Keyboard"),
              (std::vector<Code>{{EV_KEY, KEY_LEFTSHIFT, 0}, syn, {EV_KEY, KEY_B, 0}, syn,
                                 {EV_KEY, KEY_D, 1}, syn, {EV_KEY, KEY_C, 1}, syn}));
    world.waiter.read([&] {
        EXPECT_EQ(world.seen[2].first.type, EventType::flagsChanged);  // Shift, the lower code
        EXPECT_EQ(world.seen[3].first.type, EventType::keyUp);
        EXPECT_EQ(world.seen[4].first.type, EventType::keyDown);
        EXPECT_EQ(world.seen[4].first.integer(IntegerField::keyCode), 2);  // D, the lower code
        EXPECT_EQ(world.seen[5].first.type, EventType::keyDown);
        EXPECT_EQ(world.seen[5].first.integer(IntegerField::keyCode), 8);  // C
        return 0;
    });
    EXPECT_TRUE(EventDeviceWorld::eventually([&] { return world.events->flagsState() == 0; }));

    // Their ups later are ordinary frames.
    world.keyboardSide->setKeysDown({});
    world.keyboardSide->send({{EV_KEY, KEY_C, 0}});
    world.keyboardSide->send({{EV_KEY, KEY_D, 0}});
    EXPECT_TRUE(EventDeviceWorld::eventually([&] {
        const auto written = world.uinput->written("Test Keyboard");
        return std::count(written.begin(), written.end(), Code{EV_KEY, KEY_D, 0}) == 1 && nothingDown(written);
    }));

    // Let go of, the keyboard's overflow is told once in the journal.
    world.onInput([&] { world.events->invalidate(*std::exchange(world.port, std::nullopt)); });
    world.waiter.read([&] {
        const auto told = std::count_if(world.journal.begin(), world.journal.end(), [](const std::string& line) {
            return line.find("overflowed 1 time while grabbed") != std::string::npos;
        });
        EXPECT_EQ(told, 1) << world.journal.size() << " lines";
        return 0;
    });
}

TEST(LinuxEventSystemDevices, TheDesktopsLightsOnAMirrorReachTheRealKeyboard) {
    EventDeviceWorld world;
    ASSERT_TRUE(world.tap(keyMask));
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return world.keyboardSide->isGrabbed(); }));
    world.uinput->sendToProgram({{EV_LED, LED_CAPSL, 1}});
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return !world.keyboardSide->written().empty(); }));
    EXPECT_EQ(world.keyboardSide->written(), (std::vector<Code>{{EV_LED, LED_CAPSL, 1}, syn}));
    EXPECT_TRUE(EventDeviceWorld::eventually([&] { return (world.events->flagsState() & 0x10000) != 0; }));
}

TEST(LinuxEventSystemDevices, AStalledTapExecutorReleasesEveryGrabWithinTheWatchdogsSecond) {
    EventDeviceWorld world(true, keyboardDescription(), EventDeviceWorld::stallingOptions());
    ASSERT_TRUE(world.tap(keyMask));
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return world.grabbed().size() == 3; }));
    // The tap executor is held and the user types: the user's devices come back to the desktop
    // while it is.
    std::atomic<bool> holding{true};
    world.hold(holding);
    world.keyboardSide->send({{EV_KEY, KEY_A, 1}});
    EXPECT_TRUE(EventDeviceWorld::eventually([&] {
        return !world.mouseSide->isGrabbed() && !world.keyboardSide->isGrabbed() &&
               !world.hidppSide->isGrabbed();
    }));
    EXPECT_TRUE(holding);  // released while still stuck
    holding = false;
    // Once it comes round, the tap is told and (enabled again by its owner) grabs anew.
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return !world.read<bool>([&] { return world.events->isEnabled(*world.port); }); }));
    world.onInput([&] { world.events->enable(*world.port, true); });
    EXPECT_TRUE(EventDeviceWorld::eventually([&] { return world.mouseSide->isGrabbed(); }));
}

TEST(LinuxEventSystemDevices, ANodeGoneDuringAStallIsDroppedWhenTheGrabsAreTakenAgain) {
    EventDeviceWorld world(true, keyboardDescription(), EventDeviceWorld::stallingOptions());
    world.enableAgainOnTimeout();
    ASSERT_TRUE(world.tap(keyMask));
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return world.grabbed().size() == 3; }));
    // The mouse goes while the executor is stuck; its node is still open.
    ASSERT_TRUE(world.stallUntilReleased([&] { world.mouseSide->setGone(); }));
    // The notice enables the tap again at once: each node is looked at anew, the mouse is
    // dropped with its mirror and the others are grabbed.
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return world.grabbed().size() == 2; }));
    auto grabbed = world.grabbed();
    std::sort(grabbed.begin(), grabbed.end());
    EXPECT_EQ(grabbed, (std::vector<std::string>{world.hidppMouse.event, world.keyboard.event}));
    EXPECT_FALSE(world.uinput->named("Test USB Mouse"));
}

TEST(LinuxEventSystemDevices, AGrabDueWhenTheWatchdogLetsGoIsTakenOnlyAfterTheStallIsHandled) {
    // A look at the keyboard every millisecond, so that one is due when the executor comes back.
    auto options = EventDeviceWorld::quickOptions();
    options.settleSeconds = 0.001;
    options.stallSeconds = 2;
    EventDeviceWorld world(true, keyboardDescription(), options);
    world.enableAgainOnTimeout();
    world.keyboardSide->setKeysDown({KEY_A});
    ASSERT_TRUE(world.tap(keyMask));
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return world.grabbed().size() == 2; }));
    ASSERT_TRUE(world.stallUntilReleased([&] { world.keyboardSide->setKeysDown({}); }));
    // Every node is grabbed again, the keyboard too: none is taken for another program's.
    EXPECT_TRUE(EventDeviceWorld::eventually([&] { return world.grabbed().size() == 3; }));
    EXPECT_TRUE(world.keyboardSide->isGrabbed());
    EXPECT_TRUE(world.read<std::vector<std::string>>([&] { return world.events->busyNodes(); }).empty());
}

TEST(LinuxEventSystemDevices, AnInactiveSessionLetsGoOfEverythingTheProgramHoldsUntilItIsActiveAgain) {
    EventDeviceWorld world;
    std::vector<EventType> notices;
    world.answer = [&](EventType type, Event&) {
        if (type == EventType::tapDisabledByUserInput) notices.push_back(type);
        return TapAnswer::pass;
    };
    ASSERT_TRUE(world.tap(keyMask));
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return world.grabbed().size() == 3; }));
    // The program holds Control on its keyboard (as the hyper key holds its four).
    const std::uint64_t control = quartzFlags(Modifiers::control);
    Event held;
    held.type = EventType::flagsChanged;
    held.flags = control;
    held.setInteger(IntegerField::keyCode, 0x3B);
    world.onInput([&] { world.events->post(held, EventLevel::session); });
    EXPECT_EQ(world.uinput->written("Tindlewave virtual keyboard"),
              (std::vector<Code>{{EV_KEY, KEY_LEFTCTRL, 1}, syn}));
    EXPECT_EQ(world.events->flagsState() & control, control);

    // Another user's session or console: nothing stays grabbed, mirrored or held, the tap is
    // told, and nothing is written for the other user.
    world.onInput([&] { world.events->setSessionActive(false); });
    EXPECT_TRUE(world.grabbed().empty());
    EXPECT_FALSE(world.mouseSide->isGrabbed() || world.keyboardSide->isGrabbed() || world.hidppSide->isGrabbed());
    // Each grab was ended through the watchdog before its descriptor closed (not by the close):
    // a number it kept would be polled and ungrabbed later, whichever file had it by then.
    for (const auto* side : {world.mouseSide.get(), world.keyboardSide.get(), world.hidppSide.get()})
        EXPECT_EQ(side->grabCalls(), 2);
    EXPECT_FALSE(world.uinput->named("Test USB Mouse"));
    EXPECT_FALSE(world.uinput->named("Tindlewave virtual keyboard"));  // its keys went with it
    EXPECT_EQ(world.events->flagsState(), 0u);
    EXPECT_EQ(world.read<std::vector<EventType>>([&] { return notices; }),
              std::vector<EventType>{EventType::tapDisabledByUserInput});
    EXPECT_FALSE(world.read<bool>([&] { return world.events->isEnabled(*world.port); }));
    world.onInput([&] {
        world.events->enable(*world.port, true);
        world.events->post(held, EventLevel::session);
    });
    EXPECT_TRUE(world.grabbed().empty());
    EXPECT_FALSE(world.uinput->named("Tindlewave virtual keyboard"));

    // Back: the tap grabs again and posts are written again.
    world.onInput([&] { world.events->setSessionActive(true); });
    EXPECT_TRUE(EventDeviceWorld::eventually([&] { return world.grabbed().size() == 3; }));
    world.onInput([&] { world.events->post(held, EventLevel::session); });
    EXPECT_EQ(world.uinput->written("Tindlewave virtual keyboard"),
              (std::vector<Code>{{EV_KEY, KEY_LEFTCTRL, 1}, syn}));
    EXPECT_EQ(world.read<std::vector<EventType>>([&] { return notices; }).size(), 1u);
}

// Nothing the program's devices hold down is left held: every living device has let go of
// each key and button written to it (a destroyed one's the kernel let go of).
bool nothingHeld(const UinputSide& uinput) {
    for (const auto& device : uinput.devices()) {
        if (device.created && !device.destroyed && !nothingDown(device.written)) return false;
    }
    return true;
}

TEST(LinuxEventSystemDevices, AStallLetsGoOfEveryKeyAndModifierTheProgramHoldsBeforeItUngrabs) {
    EventDeviceWorld world(true, keyboardDescription(), EventDeviceWorld::stallingOptions());
    ASSERT_TRUE(world.tap(keyMask));
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return world.grabbed().size() == 3; }));
    // A key down on the keyboard's mirror, a button on the mouse's, and Control held on the
    // program's keyboard (as the hyper key holds its four).
    world.keyboardSide->send({{EV_KEY, KEY_A, 1}});
    world.mouseSide->send({{EV_KEY, BTN_SIDE, 1}});
    Event control;
    control.type = EventType::flagsChanged;
    control.flags = QuartzFlag::control;
    control.mark();
    world.events->post(control, EventLevel::session);
    ASSERT_TRUE(EventDeviceWorld::eventually([&] {
        return !nothingDown(world.uinput->written("Test Keyboard")) &&
               !nothingDown(world.uinput->written("Test USB Mouse")) &&
               !nothingDown(world.uinput->written("Tindlewave virtual keyboard"));
    }));

    // The tap executor is stuck as the mouse moves: the user's release would reach the desktop
    // from the real device, which never saw the key go down there, so the program lets go of
    // all it holds.
    std::atomic<bool> holding{true};
    world.hold(holding);
    world.mouseSide->send({{EV_REL, REL_X, 1}});
    EXPECT_TRUE(EventDeviceWorld::eventually([&] {
        return !world.keyboardSide->isGrabbed() && !world.mouseSide->isGrabbed() &&
               !world.hidppSide->isGrabbed();
    }));
    EXPECT_TRUE(nothingHeld(*world.uinput));
    EXPECT_FALSE(world.uinput->named("Tindlewave virtual keyboard"));
    EXPECT_FALSE(world.uinput->named("Test Keyboard"));
    EXPECT_TRUE(holding);
    holding = false;

    // Come round, the program's own devices are made again at once, holding nothing, and the
    // session's flags hold nothing either.
    EXPECT_TRUE(EventDeviceWorld::eventually([&] {
        return world.uinput->named("Tindlewave virtual keyboard") && world.uinput->named("Tindlewave virtual pointer");
    }));
    EXPECT_TRUE(EventDeviceWorld::eventually([&] { return world.events->flagsState() == 0; }));
    EXPECT_TRUE(nothingHeld(*world.uinput));
    // Enabled again by its owner, the tap grabs anew through new mirrors.
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return !world.read<bool>([&] { return world.events->isEnabled(*world.port); }); }));
    world.onInput([&] { world.events->enable(*world.port, true); });
    EXPECT_TRUE(EventDeviceWorld::eventually([&] { return world.grabbed().size() == 3; }));
    EXPECT_TRUE(world.uinput->named("Test Keyboard"));
}

// Only as the child of the tests below: grabs the nodes, says so on the descriptor named by
// TW_GRAB_CHILD_FD, and waits to be killed. With TW_GRAB_CHILD_STOPS, Ctrl-Z in a terminal
// (SIGTSTP) stops it as it stops the programs.
TEST(LinuxEventSystemDevices, DISABLED_HoldsItsGrabsUntilKilled) {
    const char* fd = std::getenv("TW_GRAB_CHILD_FD");
    if (!fd) GTEST_SKIP() << "run by KilledProgramsGrabsEndWithIt";
    if (std::getenv("TW_GRAB_CHILD_STOPS")) releaseInputOnTerminalStop();
    RunLoopExecutor input{"test.child"};
    std::unique_ptr<LinuxDeviceRegistry> registry;
    std::unique_ptr<LinuxEventSystem> events;
    input.post([&] {
        registry = std::make_unique<LinuxDeviceRegistry>(input);
        events = std::make_unique<LinuxEventSystem>(
            input, LinuxEventSystem::Options{.settleSeconds = 0.01, .followSession = false});
        events->follow(*registry);
        auto port = events->createTap(
            {EventLevel::hid, TapPlacement::headInsert, TapOptions::active, keyMask},
            [](EventType, Event&, const auto&) { return TapAnswer::pass; });
        if (port) events->attach(*port, input);
    });
    std::atomic<std::size_t> grabbed{0};
    while (grabbed < 3) {
        input.post([&] { grabbed = events->grabbedNodes().size(); });
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(::write(std::atoi(fd), "g", 1), 1);
    for (;;) ::pause();
}

// Starts the child above and waits (20 s at most) until it has grabbed the nodes; -1 when it
// could not be started or did not say so.
pid_t startGrabbingChild(bool stops) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    std::vector<std::string> environment;
    for (char** variable = environ; *variable; ++variable) environment.emplace_back(*variable);
    environment.push_back("TW_GRAB_CHILD_FD=" + std::to_string(fds[1]));
    if (stops) environment.push_back("TW_GRAB_CHILD_STOPS=1");
    std::vector<char*> envp;
    for (auto& variable : environment) envp.push_back(variable.data());
    envp.push_back(nullptr);
    const char* argv[] = {"/proc/self/exe", "--gtest_also_run_disabled_tests",
                          "--gtest_filter=LinuxEventSystemDevices.DISABLED_HoldsItsGrabsUntilKilled", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    // A process group of its own, whose parent (this test) is in another group of the same
    // session: the kernel discards SIGTSTP sent to an orphaned group, which the test's own group
    // is where the suite runs without a terminal (CI).
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t child = -1;
    const bool spawned =
        posix_spawn(&child, "/proc/self/exe", &actions, &attributes, const_cast<char**>(argv), envp.data()) == 0;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    pollfd ready{fds[0], POLLIN, 0};
    char marker = 0;
    const bool told = spawned && ::poll(&ready, 1, 20'000) == 1 && ::read(fds[0], &marker, 1) == 1;
    ::close(fds[0]);
    if (spawned && !told) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    return told ? child : -1;
}

TEST(LinuxEventSystemDevices, AKilledProgramsGrabsEndWithIt) {
    EventDeviceWorld world;
    const pid_t child = startGrabbingChild(false);
    ASSERT_GT(child, 0);
    EXPECT_TRUE(world.mouseSide->isGrabbed());
    EXPECT_TRUE(world.keyboardSide->isGrabbed());

    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(EventDeviceWorld::eventually([&] {
        return !world.mouseSide->isGrabbed() && !world.keyboardSide->isGrabbed() && !world.hidppSide->isGrabbed();
    }));
    // Nothing of it is left in the way: this program grabs them now.
    ASSERT_TRUE(world.tap(keyMask));
    EXPECT_TRUE(EventDeviceWorld::eventually([&] { return world.grabbed().size() == 3; }));
}

// Waits (20 s at most) until the child has stopped (true) or continued (false).
bool childStopped(pid_t child, bool stopped) {
    const auto limit = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < limit) {
        int status = 0;
        const pid_t changed = ::waitpid(child, &status, WUNTRACED | WCONTINUED | WNOHANG);
        if (changed == child && stopped && WIFSTOPPED(status)) return true;
        if (changed == child && !stopped && WIFCONTINUED(status)) return true;
        if (changed < 0) return false;
        std::this_thread::sleep_for(5ms);
    }
    return false;
}

TEST(LinuxEventSystemDevices, CtrlZLetsGoOfEveryDeviceBeforeTheProgramStopsAndGrabsAgainOnContinuing) {
    EventDeviceWorld world;
    const pid_t child = startGrabbingChild(true);
    ASSERT_GT(child, 0);
    EXPECT_TRUE(world.keyboardSide->isGrabbed());
    // A key down through the child's mirror.
    world.keyboardSide->send({{EV_KEY, KEY_A, 1}});
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return !nothingDown(world.uinput->written("Test Keyboard")); }));

    // Ctrl-Z: stopped, it holds no grab and nothing down (so the user can type "fg").
    ::kill(child, SIGTSTP);
    EXPECT_TRUE(childStopped(child, true));
    EXPECT_FALSE(world.mouseSide->isGrabbed());
    EXPECT_FALSE(world.keyboardSide->isGrabbed());
    EXPECT_FALSE(world.hidppSide->isGrabbed());
    EXPECT_TRUE(nothingHeld(*world.uinput));

    // Continued, it takes the devices up again.
    world.keyboardSide->send({{EV_KEY, KEY_A, 0}});
    ::kill(child, SIGCONT);
    EXPECT_TRUE(childStopped(child, false));
    EXPECT_TRUE(EventDeviceWorld::eventually([&] {
        return world.mouseSide->isGrabbed() && world.keyboardSide->isGrabbed() && world.hidppSide->isGrabbed();
    }));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

TEST(LinuxEventSystemDevices, NoTapWithoutUinput) {
    EventDeviceWorld world(false);
    EXPECT_FALSE(world.tap(keyMask));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(world.mouseSide->grabCalls(), 0);
}

}  // namespace
}  // namespace tindlewave::testkit::umockdev
