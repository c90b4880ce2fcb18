#include "Runtime/Worlds/LogindWakes.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <systemd/sd-bus.h>

#include <chrono>

#include "Runtime/Executors/RunLoopExecutor.h"
#include "TestKit/PrivateSystemBus.h"
#include "TestKit/Waiter.h"

namespace tindlewave {
namespace {

using testkit::PrivateSystemBus;
using testkit::Waiter;

// A client of the private bus that may own logind's name and sends the sleep signal.
class TestConnection {
  public:
    explicit TestConnection(bool ownsLogind) {
        EXPECT_GE(sd_bus_open_system(&bus_), 0);
        if (bus_ && ownsLogind) {
            EXPECT_GE(sd_bus_request_name(bus_, "org.freedesktop.login1", 0), 0);
        }
    }
    ~TestConnection() { sd_bus_flush_close_unref(bus_); }
    TestConnection(const TestConnection&) = delete;
    TestConnection& operator=(const TestConnection&) = delete;

    void prepareForSleep(bool sleeping) {
        ASSERT_GE(sd_bus_emit_signal(bus_, "/org/freedesktop/login1",
                                     "org.freedesktop.login1.Manager", "PrepareForSleep", "b",
                                     int(sleeping)),
                  0);
        // A round trip: the bus has routed the signal before it answers.
        sd_bus_message* reply = nullptr;
        ASSERT_GE(sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                     "org.freedesktop.DBus", "GetId", nullptr, &reply, ""),
                  0);
        sd_bus_message_unref(reply);
    }

  private:
    sd_bus* bus_ = nullptr;
};

struct Follower {
    Waiter waiter;
    int wakes = 0;
    RunLoopExecutor executor{"test.logind"};
    std::unique_ptr<LogindWakes> watch;

    void start() {
        auto started = LogindWakes::start(executor, [this] { waiter.update([this] { ++wakes; }); });
        ASSERT_TRUE(std::holds_alternative<std::unique_ptr<LogindWakes>>(started))
            << std::get<LogindSleepWatch::Unavailable>(started).reason;
        watch = std::move(std::get<std::unique_ptr<LogindWakes>>(started));
    }
    int count() {
        return waiter.read([this] { return wakes; });
    }
    ~Follower() {
        watch.reset();
        executor.stop();
        executor.join();
    }
};

TEST(LogindWakes, AResumeIsAWakeAndGoingToSleepIsNone) {
    PrivateSystemBus bus;
    ASSERT_TRUE(bus.isRunning());
    Follower follower;
    follower.start();
    TestConnection logind(true);

    logind.prepareForSleep(true);
    logind.prepareForSleep(false);
    ASSERT_TRUE(follower.waiter.waitFor([&] { return follower.wakes == 1; }));
    // The signals arrive in order: the resume came after going to sleep, which gave nothing.
    EXPECT_EQ(follower.count(), 1);
}

TEST(LogindWakes, OnlyTheOwnerOfLogindsNameIsHeard) {
    PrivateSystemBus bus;
    ASSERT_TRUE(bus.isRunning());
    auto opened = LogindSleepWatch::open();
    ASSERT_TRUE(std::holds_alternative<std::unique_ptr<LogindSleepWatch>>(opened));
    auto& watch = *std::get<std::unique_ptr<LogindSleepWatch>>(opened);
    TestConnection stranger(false);
    TestConnection logind(true);

    // The stranger's resume was routed (or dropped) before the bus answered its round trip, so
    // it would arrive ahead of logind's signal that follows.
    stranger.prepareForSleep(false);
    logind.prepareForSleep(true);
    std::vector<bool> received;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (received.empty() && std::chrono::steady_clock::now() < limit) {
        pollfd ready{watch.fd(), POLLIN, 0};
        ::poll(&ready, 1, 100);
        for (bool sleeping : watch.process()) received.push_back(sleeping);
    }
    EXPECT_EQ(received, std::vector<bool>{true});
    EXPECT_TRUE(watch.isConnected());
}

TEST(LogindWakes, NoSystemBusMakesTheSourceUnavailable) {
    testkit::TempFolder folder;
    const char* previous = ::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    std::string kept = previous ? previous : "";
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + (folder / "missing")).c_str(), 1);
    RunLoopExecutor executor("test.logind");
    auto started = LogindWakes::start(executor, [] { FAIL() << "no bus, no wake"; });
    if (previous) {
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", kept.c_str(), 1);
    } else {
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
    ASSERT_TRUE(std::holds_alternative<LogindSleepWatch::Unavailable>(started));
    EXPECT_NE(std::get<LogindSleepWatch::Unavailable>(started).reason.find("no system bus"),
              std::string::npos);
    executor.stop();
    executor.join();
}

TEST(LogindWakes, ALostBusEndsTheWatchQuietly) {
    Follower follower;
    {
        PrivateSystemBus bus;
        ASSERT_TRUE(bus.isRunning());
        follower.start();
        TestConnection logind(true);
        logind.prepareForSleep(false);
        ASSERT_TRUE(follower.waiter.waitFor([&] { return follower.wakes == 1; }));
    }
    // The daemon is gone: the hang-up is read once and the watch ends instead of spinning.
    Waiter drained;
    bool ran = false;
    follower.executor.post([&] { drained.update([&] { ran = true; }); });
    ASSERT_TRUE(drained.waitFor([&] { return ran; }));
    EXPECT_EQ(follower.count(), 1);
}

}  // namespace
}  // namespace tindlewave
