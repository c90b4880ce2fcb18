// The Linux event system on a real tap executor: the stall watchdog, and the login session
// followed over a private system bus with a logind of the test's own. Pipes stand in for the
// node and the program's devices.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "Platform/Linux/Input/LinuxEventSystem.h"
#include "Runtime/Executors/RunLoopExecutor.h"
#include "TestKit/EvdevPipes.h"
#include "TestKit/PrivateSystemBus.h"
#include "TestKit/Waiter.h"

namespace tindlewave {
namespace {

using testkit::PrivateSystemBus;
using testkit::Waiter;

constexpr SenderID mouseID{7};
const char* const sessionPath = "/org/freedesktop/login1/session/c1";

// logind as far as the session goes: GetSession("auto") names c1, whose "Active" the test sets
// and announces with PropertiesChanged. Runs its own thread on its own connection.
class FakeLogind {
  public:
    FakeLogind() {
        EXPECT_GE(sd_bus_open_system(&bus_), 0);
        EXPECT_GE(sd_bus_request_name(bus_, "org.freedesktop.login1", 0), 0);
        EXPECT_GE(sd_bus_add_fallback(bus_, nullptr, "/org/freedesktop/login1", handle, this), 0);
        thread_ = std::thread([this] { run(); });
    }
    ~FakeLogind() {
        stop_ = true;
        thread_.join();
        sd_bus_flush_close_unref(bus_);
    }
    void setActive(bool active) {
        std::lock_guard lock(mutex_);
        active_ = active;
        announce_ = true;
    }

  private:
    static int handle(sd_bus_message* m, void* self, sd_bus_error*) {
        auto* fake = static_cast<FakeLogind*>(self);
        if (sd_bus_message_is_method_call(m, "org.freedesktop.login1.Manager", "GetSession"))
            return sd_bus_reply_method_return(m, "o", sessionPath);
        if (sd_bus_message_is_method_call(m, "org.freedesktop.DBus.Properties", "Get")) {
            std::lock_guard lock(fake->mutex_);
            return sd_bus_reply_method_return(m, "v", "b", int(fake->active_));
        }
        return 0;
    }
    void run() {
        while (!stop_) {
            while (sd_bus_process(bus_, nullptr) > 0) {
            }
            bool announce = false, active = false;
            {
                std::lock_guard lock(mutex_);
                announce = std::exchange(announce_, false);
                active = active_;
            }
            if (announce) {
                sd_bus_message* m = nullptr;
                sd_bus_message_new_signal(bus_, &m, sessionPath, "org.freedesktop.DBus.Properties",
                                          "PropertiesChanged");
                sd_bus_message_append(m, "s", "org.freedesktop.login1.Session");
                sd_bus_message_append(m, "a{sv}", 1, "Active", "b", int(active));
                sd_bus_message_append(m, "as", 0);
                sd_bus_send(bus_, m, nullptr);
                sd_bus_message_unref(m);
            }
            sd_bus_wait(bus_, 5'000);
        }
    }

    sd_bus* bus_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    bool active_ = true;
    bool announce_ = false;
};

struct Pipe : testkit::EvdevPipe {
    std::size_t bytesWaiting() const {
        char buffer[4096];
        std::size_t total = 0;
        ssize_t n;
        while ((n = ::read(read, buffer, sizeof buffer)) > 0) total += static_cast<std::size_t>(n);
        return total;
    }
};

// The system on a run-loop executor, a node and the program's devices adopted, one tap that
// notes the notices it gets.
struct World {
    RunLoopExecutor input{"test.evdev"};
    Pipe node, mirror, keyboard, pointer;
    std::unique_ptr<LinuxEventSystem> events;
    Waiter waiter;
    std::vector<EventType> notices;

    // The watchdog at `stallSeconds`: long unless a test means to set it off (a busy machine
    // may hold the executor for a moment).
    explicit World(bool followSession, double stallSeconds = 30) {
        events = std::make_unique<LinuxEventSystem>(
            input, LinuxEventSystem::Options{.stallSeconds = stallSeconds, .followSession = followSession});
        onInput([&] {
            testkit::adoptNode(
                *events, {mouseID, "/nonexistent/event7", EventNodeInfo::Kind::mouse, "input7"},
                node, {}, mirror);
            testkit::adoptVirtualDevices(*events, keyboard, pointer);
            auto port = events->createTap(
                {EventLevel::hid, TapPlacement::headInsert, TapOptions::active,
                 eventMaskBit(EventType::keyDown)},
                [this](EventType type, Event&, const auto&) {
                    if (type == EventType::tapDisabledByTimeout || type == EventType::tapDisabledByUserInput)
                        waiter.update([&] { notices.push_back(type); });
                    return TapAnswer::pass;
                });
            ASSERT_TRUE(port);
            events->attach(*port, input);
            port_ = *port;
        });
    }
    ~World() {
        onInput([&] { events.reset(); });
        input.stop();
        input.join();
    }
    template <class F>
    void onInput(F job) {
        std::promise<void> done;
        input.post([&] {
            job();
            done.set_value();
        });
        done.get_future().wait();
    }
    std::vector<std::string> grabbed() {
        std::vector<std::string> nodes;
        onInput([&] { nodes = events->grabbedNodes(); });
        return nodes;
    }
    bool enabled() {
        bool on = false;
        onInput([&] { on = events->isEnabled(port_); });
        return on;
    }
    void enable() {
        onInput([&] { events->enable(port_, true); });
    }

    TapPort port_;
};

TEST(LinuxEventSystemThreads, AStalledTapExecutorLosesEveryGrabAndItsTapsAreToldOnResuming) {
    World world(false, 0.3);
    EXPECT_EQ(world.grabbed().size(), 1u);
    // The executor's thread is held for longer than the watchdog allows while the node has
    // input waiting.
    world.input.post([] { std::this_thread::sleep_for(std::chrono::milliseconds(900)); });
    ASSERT_EQ(::write(world.node.write, "x", 1), 1);
    ASSERT_TRUE(world.waiter.waitFor([&] { return !world.notices.empty(); }));
    EXPECT_EQ(world.notices.front(), EventType::tapDisabledByTimeout);
    EXPECT_FALSE(world.enabled());
    EXPECT_TRUE(world.grabbed().empty());
    // Enabled again by its owner, it is on (here the node cannot be opened, so it stays closed;
    // that a beating executor keeps its grabs is StallWatchdog's own test).
    world.enable();
    EXPECT_TRUE(world.enabled());
    EXPECT_EQ(world.waiter.read([&] { return world.notices.size(); }), 1u);
}

TEST(LinuxEventSystemThreads, ASuspensionTheExecutorTakesInOnlyAfterTheResumeIsNoStall) {
    // Ctrl-Z stops the process before the executor came round to the release (it was busy):
    // on continuing, the release it takes in is the suspension's, none of the taps' business.
    World world(false);
    std::promise<void> free;
    std::promise<void> busy;
    world.input.post([&] {
        busy.set_value();
        free.get_future().wait();
    });
    busy.get_future().wait();
    world.events->suspend();
    world.events->resume();
    free.set_value();
    EXPECT_TRUE(world.enabled());
    EXPECT_TRUE(world.waiter.read([&] { return world.notices.empty(); }));
}

TEST(LinuxEventSystemThreads, InputReadInTimeKeepsEveryGrabPastTheStallLimitTypedOrStreamingJustAheadOfTheReader) {
    // Each frame the user types is read on the executor soon after it came: input never waits
    // out the limit, however long the typing goes on.
    World world(false, 1.0);
    EXPECT_EQ(world.grabbed().size(), 1u);
    std::array<input_event, 2> frame{};
    frame[0].type = EV_KEY;
    frame[0].code = KEY_A;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    for (int i = 0; std::chrono::steady_clock::now() < until; ++i) {
        frame[0].value = i % 2;
        ASSERT_EQ(::write(world.node.write, frame.data(), sizeof frame), static_cast<ssize_t>(sizeof frame));
        world.onInput([&] { world.events->readNow(mouseID); });
        world.mirror.bytesWaiting();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));  // the typing's pace
    }
    EXPECT_TRUE(world.waiter.read([&] { return world.notices.empty(); }));
    EXPECT_EQ(world.grabbed().size(), 1u);

    // A mouse that never rests, the executor reading it in time but always a turn behind: the
    // node holds input at every look of the watchdog's (a turn reads 512 codes, and as much
    // again waits), which only the reads it sees between looks tell from a stall.
    std::array<input_event, 512> motion{};
    for (std::size_t i = 0; i < motion.size(); i += 2) {
        motion[i].type = EV_REL;
        motion[i].code = REL_X;
        motion[i].value = 1;
    }
    auto send = [&] {
        ASSERT_EQ(::write(world.node.write, motion.data(), sizeof motion), static_cast<ssize_t>(sizeof motion));
    };
    send();
    until = std::chrono::steady_clock::now() + std::chrono::milliseconds(2500);
    while (std::chrono::steady_clock::now() < until) {
        send();
        world.onInput([&] { world.events->readNow(mouseID); });
        world.mirror.bytesWaiting();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));  // the mouse's pace
    }
    EXPECT_TRUE(world.waiter.read([&] { return world.notices.empty(); }));
    EXPECT_EQ(world.grabbed().size(), 1u);
}

TEST(LinuxEventSystemThreads, PostsFromAnotherThreadKeepTheirOrderWhileTheNodeIsRead) {
    // A shortcut's posts: the key down waits for the tap on the input thread, what no tap sees
    // (the up, the flag changes) is written on the posting thread unless a post waits before it.
    // Meanwhile the input thread reads the node's keys through the tap to its mirror.
    World world(false);
    auto event = [](EventType type, std::uint64_t flags) {
        Event e;
        e.type = type;
        e.flags = flags;
        e.setInteger(IntegerField::keyCode, 0x00);
        e.mark();
        return e;
    };
    const std::array<Event, 4> shortcut{event(EventType::flagsChanged, QuartzFlag::shift),
                                        event(EventType::keyDown, QuartzFlag::shift),
                                        event(EventType::keyUp, QuartzFlag::shift),
                                        event(EventType::flagsChanged, 0)};
    // First flag changes alone (none ever waits), then whole shortcuts.
    constexpr int flagRounds = 100;
    constexpr int rounds = 150;
    std::atomic<bool> posting{true};
    std::thread poster([&] {
        for (int i = 0; i < flagRounds; ++i) {
            world.events->post(shortcut[0], EventLevel::hid);
            world.events->post(shortcut[3], EventLevel::hid);
        }
        for (int i = 0; i < rounds; ++i) {
            for (const Event& e : shortcut) world.events->post(e, EventLevel::hid);
        }
        posting = false;
    });
    std::array<input_event, 2> frame{};
    frame[0].type = EV_KEY;
    frame[0].code = KEY_B;
    for (int i = 0; posting; ++i) {
        frame[0].value = i % 2;
        ASSERT_EQ(::write(world.node.write, frame.data(), sizeof frame), static_cast<ssize_t>(sizeof frame));
        world.onInput([&] { world.events->readNow(mouseID); });
        world.mirror.bytesWaiting();
    }
    poster.join();
    world.onInput([&] { world.events->awaitWrites(); });

    std::vector<std::pair<int, int>> keys;  // (code, value) of each key the keyboard got
    std::array<input_event, 64> buffer;
    ssize_t n;
    while ((n = ::read(world.keyboard.read, buffer.data(), sizeof buffer)) > 0) {
        for (std::size_t i = 0; i < static_cast<std::size_t>(n) / sizeof(input_event); ++i)
            if (buffer[i].type == EV_KEY) keys.emplace_back(buffer[i].code, buffer[i].value);
    }
    std::vector<std::pair<int, int>> expected;
    for (int i = 0; i < flagRounds; ++i) expected.insert(expected.end(), {{KEY_LEFTSHIFT, 1}, {KEY_LEFTSHIFT, 0}});
    for (int i = 0; i < rounds; ++i) {
        expected.insert(expected.end(), {{KEY_LEFTSHIFT, 1}, {KEY_A, 1}, {KEY_A, 0}, {KEY_LEFTSHIFT, 0}});
    }
    EXPECT_EQ(keys, expected);
}

TEST(LinuxEventSystemThreads, AnInactiveSessionReleasesGrabsAndWritesNothing) {
    PrivateSystemBus bus;
    ASSERT_TRUE(bus.isRunning());
    FakeLogind logind;
    World world(true);
    EXPECT_EQ(world.grabbed().size(), 1u);

    EXPECT_EQ(world.events->sessionUnfollowed(), std::nullopt);

    logind.setActive(false);
    ASSERT_TRUE(world.waiter.waitFor([&] { return !world.notices.empty(); }));
    EXPECT_EQ(world.notices.front(), EventType::tapDisabledByUserInput);
    EXPECT_TRUE(world.grabbed().empty());
    // Re-enabled by its owner, the tap still grabs nothing while another session is active.
    world.enable();
    EXPECT_TRUE(world.grabbed().empty());
    // Nothing is written for another session's user.
    Event key;
    key.type = EventType::keyDown;
    key.setInteger(IntegerField::keyCode, 0);
    world.events->post(key, EventLevel::session);
    world.onInput([] {});
    EXPECT_EQ(world.keyboard.bytesWaiting(), 0u);

    // Active again: a notice is sent only on the way out.
    logind.setActive(true);
    world.onInput([] {});
    EXPECT_EQ(world.waiter.read([&] { return world.notices.size(); }), 1u);
}

TEST(LinuxEventSystemThreads, ASessionThatCannotBeFollowedSaysWhy) {
    const char* previous = ::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    const std::optional<std::string> kept = previous ? std::optional<std::string>(previous) : std::nullopt;
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/system_bus_socket", 1);
    {
        World world(true);
        const auto why = world.events->sessionUnfollowed();
        ASSERT_TRUE(why);
        EXPECT_FALSE(why->empty());
        // The session counts as active: the node is grabbed all the same.
        EXPECT_EQ(world.grabbed().size(), 1u);
    }
    if (kept) ::setenv("DBUS_SYSTEM_BUS_ADDRESS", kept->c_str(), 1);
    else ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    World unasked(false);
    EXPECT_EQ(unasked.events->sessionUnfollowed(), std::nullopt);
}

}  // namespace
}  // namespace tindlewave
