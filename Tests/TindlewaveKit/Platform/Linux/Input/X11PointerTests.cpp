#include "Platform/Linux/Input/X11Pointer.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <string>
#include <thread>

#include "TestKit/Environment.h"
#include "TestKit/SilentDisplay.h"
#include "TestKit/VirtualDisplay.h"
#include "TestKit/Waiter.h"

namespace tindlewave {
namespace {

// Moves the pointer as the user would, through a connection of the test's own.
bool warpPointer(const std::string& display, int x, int y) {
    void* x11 = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!x11) return false;
    auto open = reinterpret_cast<void* (*)(const char*)>(::dlsym(x11, "XOpenDisplay"));
    auto root = reinterpret_cast<unsigned long (*)(void*)>(::dlsym(x11, "XDefaultRootWindow"));
    auto warp = reinterpret_cast<int (*)(void*, unsigned long, unsigned long, int, int, unsigned,
                                         unsigned, int, int)>(::dlsym(x11, "XWarpPointer"));
    auto sync = reinterpret_cast<int (*)(void*, int)>(::dlsym(x11, "XSync"));
    auto close = reinterpret_cast<int (*)(void*)>(::dlsym(x11, "XCloseDisplay"));
    void* d = open(display.c_str());
    if (!d) return false;
    warp(d, 0, root(d), 0, 0, 0, 0, x, y);
    sync(d, 0);
    close(d);
    return true;
}

TEST(X11Pointer, ReadsThePointerOnAnX11DisplayAndNothingOnWaylandOrWithoutADisplay) {
    testkit::VirtualDisplay display;
    if (display.name().empty()) GTEST_SKIP() << "no Xvfb here";
    ::setenv("DISPLAY", display.name().c_str(), 1);
    ::unsetenv("WAYLAND_DISPLAY");
    auto pointer = X11Pointer::open();
    ASSERT_TRUE(pointer) << "display " << display.name();
    ASSERT_TRUE(warpPointer(display.name(), 123, 45));
    // Never waited for: the answer comes to a later call.
    auto answers = [&](Event::Location place) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < end) {
            if (pointer->location(std::chrono::milliseconds(0)) == place) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    };
    EXPECT_TRUE(answers({123, 45}));
    ASSERT_TRUE(warpPointer(display.name(), 700, 500));
    // Asked again within its age, the last answer stands.
    EXPECT_EQ(pointer->location(std::chrono::hours(1)), (Event::Location{123, 45}));
    EXPECT_TRUE(answers({700, 500}));

    // The display goes (the X server ends): the next ask finds the connection broken, and the
    // pointer is none from then on, in a process that goes on.
    display.close();
    EXPECT_TRUE(testkit::pollUntil([&] { return !pointer->location(std::chrono::milliseconds(0)); },
                                   std::chrono::seconds(30), std::chrono::milliseconds(1)));
    EXPECT_FALSE(pointer->location(std::chrono::milliseconds(0)));

    ::setenv("WAYLAND_DISPLAY", "wayland-0", 1);
    EXPECT_FALSE(X11Pointer::open());
    ::unsetenv("WAYLAND_DISPLAY");
    ::unsetenv("DISPLAY");
    EXPECT_FALSE(X11Pointer::open());
}

// A display that takes the connection and never answers holds up neither the thread that opens
// the pointer nor the one that lets go of it (the program's start and its quit).
TEST(X11Pointer, ADisplayThatNeverAnswersHoldsUpNoOneAndIsNeverAsked) {
    testkit::SilentDisplay display;
    if (display.name().empty()) GTEST_SKIP() << "no free display number";
    testkit::Environment named("DISPLAY", display.name().c_str());
    testkit::Environment noWayland("WAYLAND_DISPLAY", nullptr);
    auto openedAndGone = std::async(std::launch::async, [] {
        auto pointer = X11Pointer::open();
        const bool opened = pointer != nullptr;
        const bool answered = pointer && pointer->location(std::chrono::milliseconds(0)).has_value();
        pointer.reset();
        return opened && !answered;
    });
    const bool inTime = openedAndGone.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    display.close();  // what waits on it now ends
    ASSERT_TRUE(inTime) << "waited for a display that never answers";
    EXPECT_TRUE(openedAndGone.get());
    // The thread let go of ends once the display is gone.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (X11Pointer::threadsRunning() > 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(X11Pointer::threadsRunning(), 0);
}

}  // namespace
}  // namespace tindlewave
