// The Linux event system's frames and posts, with pipes in place of the nodes and the uinput
// devices (the emulated-device tests cover grabbing, mirrors and the kernel's calls).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <functional>
#include <initializer_list>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "Core/Evdev/EvdevKeys.h"
#include "Core/Keys/KeyRoutes.h"
#include "Platform/Linux/Input/LinuxEventSystem.h"
#include "TestKit/EvdevPipes.h"
#include "TestKit/ManualExecutor.h"

namespace tindlewave {
namespace {

using testkit::ManualExecutor;
using testkit::ManualScheduler;
using Code = std::tuple<int, int, int>;

const Code syn{EV_SYN, SYN_REPORT, 0};
constexpr SenderID mouseID{41};
constexpr SenderID keyboardID{42};

struct Pipe : testkit::EvdevPipe {
    void send(std::initializer_list<Code> codes) const {
        std::vector<input_event> frame;
        for (auto [type, code, value] : codes) {
            input_event e{};
            e.type = static_cast<std::uint16_t>(type);
            e.code = static_cast<std::uint16_t>(code);
            e.value = value;
            frame.push_back(e);
        }
        frame.push_back(input_event{});
        ASSERT_EQ(::write(write, frame.data(), frame.size() * sizeof(input_event)),
                  static_cast<ssize_t>(frame.size() * sizeof(input_event)));
    }
    // Everything written so far, as codes.
    std::vector<Code> taken() const {
        std::vector<Code> codes;
        std::array<input_event, 64> buffer;
        ssize_t n;
        while ((n = ::read(read, buffer.data(), sizeof buffer)) > 0) {
            for (std::size_t i = 0; i < static_cast<std::size_t>(n) / sizeof(input_event); ++i)
                codes.emplace_back(buffer[i].type, buffer[i].code, buffer[i].value);
        }
        return codes;
    }
};

struct World {
    ManualScheduler scheduler;
    ManualExecutor input{scheduler, "input"};
    Pipe mouse, mouseMirror, keyboard, keyboardMirror, virtualKeyboard, virtualPointer;
    // The manual clock never moves by itself: no stall watchdog here.
    LinuxEventSystem events{input, {.stallSeconds = 3600, .followSession = false}};
    std::vector<std::pair<EventType, Event>> seen;
    std::vector<std::optional<HIDOrigin>> origins;

    World() {
        InputDescription mouseDescription;
        for (auto rel : {REL_X, REL_Y, REL_WHEEL, REL_WHEEL_HI_RES}) mouseDescription.add(EV_REL, rel);
        testkit::adoptNode(events,
                           {mouseID, "/dev/input/event1", EventNodeInfo::Kind::mouse, "input1"},
                           mouse, mouseDescription, mouseMirror);
        InputDescription keyboardDescription;
        keyboardDescription.add(EV_KEY, KEY_A);
        testkit::adoptNode(
            events, {keyboardID, "/dev/input/event2", EventNodeInfo::Kind::keyboard, "input2"},
            keyboard, keyboardDescription, keyboardMirror);
        testkit::adoptVirtualDevices(events, virtualKeyboard, virtualPointer);
    }

    // A tap that records what it sees and answers with `answer`.
    TapPort tap(std::uint64_t mask, std::function<TapAnswer(EventType, Event&)> answer = nullptr) {
        auto port = events.createTap(
            {EventLevel::hid, TapPlacement::headInsert, TapOptions::active, mask},
            [this, answer](EventType type, Event& event, const std::optional<HIDOrigin>& origin) {
                seen.emplace_back(type, event);
                origins.push_back(origin);
                return answer ? answer(type, event) : TapAnswer::pass;
            });
        EXPECT_TRUE(port);
        EXPECT_TRUE(events.attach(*port, input));
        return *port;
    }
    void read(SenderID id) {
        events.readNow(id);
        events.awaitWrites();
    }
    void post(const Event& event, EventLevel level) {
        events.post(event, level);
        scheduler.runReady();
        events.awaitWrites();
    }
};

Event buttonEvent(EventType type, int number) {
    Event e;
    e.type = type;
    e.setInteger(IntegerField::buttonNumber, number);
    e.mark();
    return e;
}

constexpr std::uint64_t buttonMask = eventMaskBit(EventType::otherMouseDown) |
                                     eventMaskBit(EventType::otherMouseUp) |
                                     eventMaskBit(EventType::rightMouseDown);
constexpr std::uint64_t keyMask = eventMaskBit(EventType::keyDown) | eventMaskBit(EventType::keyUp);

TEST(LinuxEventSystemFrames, UnmaskedFramesPassByteForByteWithoutACallback) {
    World world;
    world.tap(keyMask);
    world.mouse.send({{EV_REL, REL_X, 4}, {EV_MSC, MSC_SCAN, 3}, {EV_KEY, BTN_EXTRA, 1}, {EV_REL, REL_Y, -1}});
    world.read(mouseID);
    EXPECT_EQ(world.mouseMirror.taken(), (std::vector<Code>{{EV_REL, REL_X, 4}, {EV_MSC, MSC_SCAN, 3},
                                                            {EV_KEY, BTN_EXTRA, 1}, {EV_REL, REL_Y, -1}, syn}));
    EXPECT_TRUE(world.seen.empty());

    // Masked and answered unchanged: still the same bytes.
    world.keyboard.send({{EV_MSC, MSC_SCAN, 0x70004}, {EV_KEY, KEY_A, 1}});
    world.read(keyboardID);
    EXPECT_EQ(world.keyboardMirror.taken(),
              (std::vector<Code>{{EV_MSC, MSC_SCAN, 0x70004}, {EV_KEY, KEY_A, 1}, syn}));
    ASSERT_EQ(world.seen.size(), 1u);
    EXPECT_EQ(world.seen[0].first, EventType::keyDown);
    EXPECT_EQ(world.seen[0].second.integer(IntegerField::keyCode), 0);
    // The origin is the node's registry id.
    EXPECT_EQ(world.origins[0], (HIDOrigin{keyboardID, 0}));
    EXPECT_TRUE(world.mouseMirror.taken().empty());
}

TEST(LinuxEventSystemFrames, ASwallowedDownAndItsReplayGoToTheSourceMirror) {
    World world;
    // As the button stage does: the device's press is swallowed, the program's own passes.
    world.tap(buttonMask, [](EventType type, Event& event) {
        return type == EventType::otherMouseDown && !event.carriesMarker() ? TapAnswer::drop
                                                                           : TapAnswer::pass;
    });
    world.mouse.send({{EV_KEY, BTN_SIDE, 1}});
    world.read(mouseID);
    EXPECT_TRUE(world.mouseMirror.taken().empty());
    ASSERT_EQ(world.seen.size(), 1u);
    EXPECT_EQ(world.seen[0].second.integer(IntegerField::buttonNumber), 3);
    EXPECT_EQ(world.origins[0], (HIDOrigin{mouseID, 0}));

    // The replay (a click the host posts for the swallowed press) goes to the same mouse's
    // mirror, so the desktop never sees a button of one device go up on another.
    world.post(buttonEvent(EventType::otherMouseDown, 3), EventLevel::hid);
    world.post(buttonEvent(EventType::otherMouseUp, 3), EventLevel::hid);
    EXPECT_EQ(world.mouseMirror.taken(),
              (std::vector<Code>{{EV_KEY, BTN_SIDE, 1}, syn, {EV_KEY, BTN_SIDE, 0}, syn}));
    EXPECT_TRUE(world.virtualPointer.taken().empty());
    // The posts went through the program's own tap, without an origin.
    ASSERT_EQ(world.origins.size(), 3u);
    EXPECT_EQ(world.origins[1], std::nullopt);

    // A button nobody swallowed goes to the program's own pointer.
    world.post(buttonEvent(EventType::otherMouseUp, 3), EventLevel::session);
    EXPECT_EQ(world.virtualPointer.taken(), (std::vector<Code>{{EV_KEY, BTN_SIDE, 0}, syn}));
}

TEST(LinuxEventSystemFrames, ChangedFlagsBecomeModifierKeysOnTheProgramsKeyboard) {
    World world;
    const std::uint64_t hyper = quartzFlags(Modifiers::hyper);
    const auto f18 = Carrier::hyperKey().keyCode.rawValue;
    // As the carrier stage does: F18 becomes a flag change holding the four modifiers.
    world.tap(keyMask, [&](EventType type, Event& event) {
        if (event.integer(IntegerField::keyCode) != f18) return TapAnswer::pass;
        event.flags = type == EventType::keyDown ? event.flags | hyper
                                                 : withoutModifiers(event.flags, Modifiers::hyper);
        event.type = EventType::flagsChanged;
        event.setInteger(IntegerField::keyCode, 0x37);
        return TapAnswer::pass;
    });
    world.keyboard.send({{EV_KEY, KEY_F18, 1}});
    world.read(keyboardID);
    EXPECT_TRUE(world.keyboardMirror.taken().empty());
    EXPECT_EQ(world.virtualKeyboard.taken(),
              (std::vector<Code>{{EV_KEY, KEY_LEFTCTRL, 1}, {EV_KEY, KEY_LEFTSHIFT, 1},
                                 {EV_KEY, KEY_LEFTALT, 1}, {EV_KEY, KEY_LEFTMETA, 1}, syn}));
    EXPECT_EQ(world.events.flagsState() & hyper, hyper);

    // A key typed meanwhile carries them already (they are held down): its codes as they came.
    world.keyboard.send({{EV_KEY, KEY_A, 1}});
    world.read(keyboardID);
    EXPECT_EQ(world.seen.back().second.flags & hyper, hyper);
    EXPECT_EQ(world.keyboardMirror.taken(), (std::vector<Code>{{EV_KEY, KEY_A, 1}, syn}));
    EXPECT_TRUE(world.virtualKeyboard.taken().empty());

    world.keyboard.send({{EV_KEY, KEY_F18, 0}});
    world.read(keyboardID);
    EXPECT_EQ(world.virtualKeyboard.taken(),
              (std::vector<Code>{{EV_KEY, KEY_LEFTCTRL, 0}, {EV_KEY, KEY_LEFTSHIFT, 0},
                                 {EV_KEY, KEY_LEFTALT, 0}, {EV_KEY, KEY_LEFTMETA, 0}, syn}));
    EXPECT_EQ(world.events.flagsState(), 0u);
}

TEST(LinuxEventSystemFrames, ModifiersTheTapsAddReachTheDesktopBeforeTheKeyTheyCameWith) {
    // The keyboard's mirror and the program's keyboard write into one pipe: what it holds is the
    // order in which the desktop gets the two devices' codes.
    ManualScheduler scheduler;
    ManualExecutor input{scheduler, "input"};
    LinuxEventSystem events{input, {.stallSeconds = 3600, .followSession = false}};
    Pipe keyboard, desktop, pointer;
    InputDescription description;
    description.add(EV_KEY, KEY_A);
    testkit::adoptNode(events, {keyboardID, "/dev/input/event2", EventNodeInfo::Kind::keyboard, "input2"},
                       keyboard, description, desktop);
    testkit::adoptVirtualDevices(events, desktop, pointer);
    // As a key route giving A with Command does.
    auto port = events.createTap({EventLevel::hid, TapPlacement::headInsert, TapOptions::active, keyMask},
                                 [](EventType, Event& event, const std::optional<HIDOrigin>&) {
                                     event.flags |= QuartzFlag::command;
                                     return TapAnswer::pass;
                                 });
    ASSERT_TRUE(port && events.attach(*port, input));
    keyboard.send({{EV_KEY, KEY_A, 1}});
    events.readNow(keyboardID);
    events.awaitWrites();
    EXPECT_EQ(desktop.taken(), (std::vector<Code>{{EV_KEY, KEY_LEFTMETA, 1}, syn, {EV_KEY, KEY_A, 1}, syn}));
}

TEST(LinuxEventSystemFrames, PostsHeldForTheAnnouncementKeepTheirOrderAndAreNeverWrittenIntoAnotherSession) {
    ManualScheduler scheduler;
    ManualExecutor input{scheduler, "input"};
    bool announced = false;  // udev's word on the program's keyboard and pointer, at each look
    LinuxEventSystem events{input,
                            {.uinputPath = "/nonexistent/uinput",
                             .stallSeconds = 3600,
                             .isAnnounced = [&](const std::string&) { return announced; },
                             .udevAnnounces = true,
                             .followSession = false}};
    Pipe keyboard, pointer;
    testkit::adoptVirtualDevices(events, keyboard, pointer, "input91", "input92");
    auto post = [&](EventType type, std::int64_t keyCode) {
        Event key;
        key.type = type;
        key.setInteger(IntegerField::keyCode, keyCode);
        key.mark();
        events.post(key, EventLevel::session);
        scheduler.runReady();  // the post's job, not the next look
        events.awaitWrites();
    };
    constexpr auto look = std::chrono::milliseconds(10);

    // Announced between two looks, and the devices looked at before the next one (a tap made
    // meanwhile looks at them, as a registry change or a resume does): a post that comes then
    // goes out behind what was held, never before it, whichever thread it is made on.
    post(EventType::keyDown, 0x00);
    announced = true;
    input.post([&] {
        EXPECT_TRUE(events.createTap({EventLevel::hid, TapPlacement::headInsert, TapOptions::active, keyMask},
                                     [](EventType, Event&, const std::optional<HIDOrigin>&) { return TapAnswer::pass; }));
    });
    scheduler.runReady();
    post(EventType::keyUp, 0x00);
    scheduler.advance(look);
    events.awaitWrites();
    EXPECT_EQ(keyboard.taken(), (std::vector<Code>{{EV_KEY, KEY_A, 1}, syn, {EV_KEY, KEY_A, 0}, syn}));

    // Held when the user switches to another session: dropped, and nothing looks for the
    // announcement meanwhile. Back in the session, with new devices announced, only what is
    // posted then is written.
    auto switchBack = [&](const char* keyboardSysname, const char* pointerSysname) {
        events.setSessionActive(false);
        events.setSessionActive(true);  // no uinput here: the program's devices are given again
        testkit::adoptVirtualDevices(events, keyboard, pointer, keyboardSysname, pointerSysname);
    };
    announced = false;
    switchBack("input93", "input94");
    post(EventType::keyDown, 0x00);
    events.setSessionActive(false);
    scheduler.advance(3 * look);
    EXPECT_EQ(scheduler.timerCount(), 0u);
    events.setSessionActive(true);
    testkit::adoptVirtualDevices(events, keyboard, pointer, "input95", "input96");
    post(EventType::keyDown, 0x01);
    // Looked for as long as udev takes, and written once it has announced them.
    scheduler.advance(3 * look);
    events.awaitWrites();
    EXPECT_TRUE(keyboard.taken().empty());
    announced = true;
    scheduler.advance(look);
    events.awaitWrites();
    EXPECT_EQ(keyboard.taken(), (std::vector<Code>{{EV_KEY, KEY_S, 1}, syn}));
}

TEST(LinuxEventSystemFrames, TheSessionFlagsFollowModifierKeysNeverAPostedKeysFlags) {
    World world;
    world.keyboard.send({{EV_KEY, KEY_RIGHTSHIFT, 1}});
    world.read(keyboardID);
    EXPECT_EQ(world.events.flagsState(), 0x4u | QuartzFlag::shift);

    // A posted Command-C: Command goes down around the key on the program's keyboard, and the
    // session's flags never show it.
    Event c;
    c.type = EventType::keyDown;
    c.flags = QuartzFlag::command;
    c.setInteger(IntegerField::keyCode, 0x08);
    c.mark();
    world.post(c, EventLevel::hid);
    EXPECT_EQ(world.events.flagsState(), 0x4u | QuartzFlag::shift);
    c.type = EventType::keyUp;
    world.post(c, EventLevel::hid);
    EXPECT_EQ(world.virtualKeyboard.taken(),
              (std::vector<Code>{{EV_KEY, KEY_LEFTMETA, 1}, syn, {EV_KEY, KEY_C, 1}, syn,
                                 {EV_KEY, KEY_C, 0}, syn, {EV_KEY, KEY_LEFTMETA, 0}, syn}));

    // A posted flag change (a held modifier) counts, until it is let go.
    Event option;
    option.type = EventType::flagsChanged;
    option.flags = 0x4u | QuartzFlag::shift | 0x20 | QuartzFlag::option;
    option.mark();
    world.post(option, EventLevel::hid);
    EXPECT_EQ(world.events.flagsState(), option.flags);
    EXPECT_EQ(world.virtualKeyboard.taken(), (std::vector<Code>{{EV_KEY, KEY_LEFTALT, 1}, syn}));
    option.flags = 0x4u | QuartzFlag::shift;
    world.post(option, EventLevel::hid);
    EXPECT_EQ(world.events.flagsState(), 0x4u | QuartzFlag::shift);

    world.keyboard.send({{EV_KEY, KEY_RIGHTSHIFT, 0}});
    world.read(keyboardID);
    EXPECT_EQ(world.events.flagsState(), 0u);
}

TEST(LinuxEventSystemFrames, APostWrittenOnItsOwnThreadNeverOvertakesOneWaitingForTheTaps) {
    World world;
    // The tap sees key downs (as a key route does), never their ups; what it is given to do
    // while at a down runs on the input executor, inside the dispatch.
    std::function<void()> atTheDown;
    world.tap(eventMaskBit(EventType::keyDown), [&](EventType, Event&) {
        if (atTheDown) std::exchange(atTheDown, nullptr)();
        return TapAnswer::pass;
    });
    Event a;
    a.type = EventType::keyDown;
    a.setInteger(IntegerField::keyCode, 0x00);
    a.mark();
    Event shift;
    shift.type = EventType::flagsChanged;
    shift.flags = QuartzFlag::shift;
    shift.mark();

    // The key waits for the input executor, where the tap sees it; the flag change, which no tap
    // sees, waits behind it.
    world.events.post(a, EventLevel::hid);
    world.events.post(shift, EventLevel::hid);
    world.events.awaitWrites();
    EXPECT_TRUE(world.virtualKeyboard.taken().empty());
    world.scheduler.runReady();
    world.events.awaitWrites();
    EXPECT_EQ(world.virtualKeyboard.taken(),
              (std::vector<Code>{{EV_KEY, KEY_A, 1}, syn, {EV_KEY, KEY_LEFTSHIFT, 1}, syn}));
    EXPECT_EQ(world.seen.size(), 1u);

    // With nothing waiting, it is written on the posting thread, before the executor comes round.
    shift.flags = 0;
    world.events.post(shift, EventLevel::hid);
    world.events.awaitWrites();
    EXPECT_EQ(world.virtualKeyboard.taken(), (std::vector<Code>{{EV_KEY, KEY_LEFTSHIFT, 0}, syn}));

    // A post the tap is at still waits: the up of a shortcut's key, posted on another thread
    // while the tap holds its down, goes out behind that down.
    Event up = a;
    up.type = EventType::keyUp;
    atTheDown = [&] { std::thread([&] { world.events.post(up, EventLevel::hid); }).join(); };
    world.events.post(a, EventLevel::hid);
    world.scheduler.runReady();
    world.events.awaitWrites();
    EXPECT_EQ(world.virtualKeyboard.taken(),
              (std::vector<Code>{{EV_KEY, KEY_A, 1}, syn, {EV_KEY, KEY_A, 0}, syn}));
}

TEST(LinuxEventSystemFrames, SmoothFramesGoOutInHighResolutionWithADetentEvery120) {
    World world;
    Event frame;
    frame.type = EventType::scrollWheel;
    frame.setFixedPoint(FixedPointField::scrollFixedDelta1, 1.5);  // 15 points: 45 units
    frame.mark();
    std::vector<Code> written;
    for (int i = 0; i < 8; ++i) {
        world.post(frame, EventLevel::session);
        for (const Code& c : world.virtualPointer.taken()) written.push_back(c);
    }
    int hiRes = 0, detents = 0;
    for (auto [type, code, value] : written) {
        if (type == EV_REL && code == REL_WHEEL_HI_RES) hiRes += value;
        if (type == EV_REL && code == REL_WHEEL) detents += value;
    }
    EXPECT_EQ(hiRes, 360);
    EXPECT_EQ(detents, 3);

    // Once a high-resolution wheel has scrolled, the frames go to its mirror.
    world.tap(keyMask);
    world.mouse.send({{EV_REL, REL_WHEEL_HI_RES, 30}});
    world.read(mouseID);
    EXPECT_EQ(world.mouseMirror.taken(), (std::vector<Code>{{EV_REL, REL_WHEEL_HI_RES, 30}, syn}));
    world.post(frame, EventLevel::session);
    EXPECT_EQ(world.mouseMirror.taken(), (std::vector<Code>{{EV_REL, REL_WHEEL_HI_RES, 45}, syn}));
}

TEST(LinuxEventSystemFrames, APostThatComesToNoCodeWritesNothing) {
    // Datagram sockets in place of the program's devices: each write() is one datagram, an
    // empty one included, which a pipe would not show.
    int keyboardSockets[2], pointerSockets[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, keyboardSockets), 0);
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pointerSockets), 0);
    ManualScheduler scheduler;
    ManualExecutor input{scheduler, "input"};
    LinuxEventSystem events{input, {.stallSeconds = 3600, .followSession = false}};
    events.adoptVirtualDevices(UinputDevice::adopt(keyboardSockets[1]), UinputDevice::adopt(pointerSockets[1]));
    auto writes = [](int fd) {
        std::vector<ssize_t> sizes;
        std::array<input_event, 64> buffer;
        ssize_t n;
        while ((n = ::recv(fd, buffer.data(), sizeof buffer, 0)) >= 0) sizes.push_back(n);
        return sizes;
    };
    auto post = [&](const Event& event) {
        events.post(event, EventLevel::session);
        scheduler.runReady();
        events.awaitWrites();
    };

    Event tiny;  // a smooth-scroll frame's last sliver: less than one high-resolution unit
    tiny.type = EventType::scrollWheel;
    tiny.setFixedPoint(FixedPointField::scrollFixedDelta1, 0.01);
    tiny.mark();
    post(tiny);
    Event sameFlags;  // a flag change to the flags already held
    sameFlags.type = EventType::flagsChanged;
    sameFlags.flags = 0;
    sameFlags.mark();
    post(sameFlags);
    Event unnamed;  // a key the kernel has no code for
    unnamed.type = EventType::keyDown;
    unnamed.setInteger(IntegerField::keyCode, 0xFF);
    unnamed.mark();
    post(unnamed);
    EXPECT_TRUE(writes(pointerSockets[0]).empty());
    EXPECT_TRUE(writes(keyboardSockets[0]).empty());

    // A frame with something in it is one write of its codes and the report.
    Event notch = tiny;
    notch.setFixedPoint(FixedPointField::scrollFixedDelta1, 4.0);  // 40 points: a detent
    post(notch);
    EXPECT_EQ(writes(pointerSockets[0]), (std::vector<ssize_t>{3 * sizeof(input_event)}));
    ::close(keyboardSockets[0]);
    ::close(pointerSockets[0]);
}

TEST(LinuxEventSystemFrames, MotionIsNotForwardedWhileTheCursorIsDissociated) {
    World world;
    world.events.associateMouseAndCursor(false);
    world.mouse.send({{EV_REL, REL_X, 5}, {EV_REL, REL_Y, 5}});
    world.read(mouseID);
    EXPECT_TRUE(world.mouseMirror.taken().empty());
    world.mouse.send({{EV_REL, REL_X, 5}, {EV_KEY, BTN_RIGHT, 1}});
    world.read(mouseID);
    EXPECT_EQ(world.mouseMirror.taken(), (std::vector<Code>{{EV_KEY, BTN_RIGHT, 1}, syn}));
    // Taps still see the motion.
    world.tap(eventMaskBit(EventType::rightMouseDragged));
    world.mouse.send({{EV_REL, REL_X, 7}});
    world.read(mouseID);
    ASSERT_EQ(world.seen.size(), 1u);
    EXPECT_EQ(world.seen[0].second.integer(IntegerField::deltaX), 7);
    EXPECT_TRUE(world.mouseMirror.taken().empty());

    world.events.associateMouseAndCursor(true);
    world.mouse.send({{EV_REL, REL_X, 7}});
    world.read(mouseID);
    EXPECT_EQ(world.mouseMirror.taken(), (std::vector<Code>{{EV_REL, REL_X, 7}, syn}));
}

TEST(LinuxEventSystemFrames, ScreensAsGivenAndTheCursorAtTheFastestScreensCentre) {
    ::unsetenv("DISPLAY");  // no X11 pointer to ask
    World world;
    EXPECT_EQ(world.events.screens(), (std::vector<Screen>{Screen{1, {0, 0, 1920, 1080}, 60}}));
    EXPECT_EQ(world.events.cursorLocation(), (Event::Location{960, 540}));
    const std::vector<Screen> two{Screen{7, {0, 0, 1000, 800}, 60}, Screen{9, {1000, 0, 2000, 1000}, 144}};
    // Given from another thread (the GUI's), as the program on screen does.
    std::thread([&] { world.events.setScreens(two); }).join();
    EXPECT_EQ(world.events.screens(), two);
    EXPECT_EQ(world.events.cursorLocation(), (Event::Location{2000, 500}));
    EXPECT_EQ(world.events.displayAt({1500, 10}), 9u);
    EXPECT_EQ(world.events.displayAt({-5, 10}), std::nullopt);
    EXPECT_TRUE(world.events.isRefreshing(7));
    EXPECT_FALSE(world.events.isRefreshing(8));

    // Without screens (a display server with none attached) there is nowhere to refresh.
    world.events.setScreens({});
    EXPECT_EQ(world.events.cursorLocation(), (Event::Location{0, 0}));
    EXPECT_EQ(world.events.displayAt({10, 10}), std::nullopt);
    EXPECT_FALSE(world.events.isRefreshing(7));
}

}  // namespace
}  // namespace tindlewave
