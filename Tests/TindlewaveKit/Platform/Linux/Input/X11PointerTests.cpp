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

// A display that went away is never closed (its address is never another display's), so the
// connection Xlib made for it stays; and Xlib, answering a call on a connection its exit handler
// gave up, unlocks its display's lock once more than it locked it. Both are Xlib's, in this
// program's tests of a display that goes away, not the pointer's: the sanitizers are told so.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:XOpenDisplay\nleak:xcb_connect_to_fd\n";
}
extern "C" const char* __tsan_default_suppressions() { return "mutex:libX11.so.6\n"; }

namespace tindlewave {
namespace {

// A connection of the test's own: moves the pointer as the user would, and can hold back every
// other connection's requests (a server grab) while it checks what the pointer answers meanwhile.
class UserConnection {
  public:
    explicit UserConnection(const std::string& display) {
        void* x11 = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        if (!x11) return;
        auto open = reinterpret_cast<void* (*)(const char*)>(::dlsym(x11, "XOpenDisplay"));
        root_ = reinterpret_cast<unsigned long (*)(void*)>(::dlsym(x11, "XDefaultRootWindow"));
        warp_ = reinterpret_cast<Warp>(::dlsym(x11, "XWarpPointer"));
        grab_ = reinterpret_cast<int (*)(void*)>(::dlsym(x11, "XGrabServer"));
        ungrab_ = reinterpret_cast<int (*)(void*)>(::dlsym(x11, "XUngrabServer"));
        sync_ = reinterpret_cast<int (*)(void*, int)>(::dlsym(x11, "XSync"));
        close_ = reinterpret_cast<int (*)(void*)>(::dlsym(x11, "XCloseDisplay"));
        if (open && root_ && warp_ && grab_ && ungrab_ && sync_ && close_) display_ = open(display.c_str());
    }
    ~UserConnection() { close(); }
    // Before the server ends: a connection it breaks would end the test's process.
    void close() {
        if (display_) close_(display_);
        display_ = nullptr;
    }
    bool opened() const { return display_ != nullptr; }
    // Each returns once the server has done it.
    void warp(int x, int y) {
        warp_(display_, 0, root_(display_), 0, 0, 0, 0, x, y);
        sync_(display_, 0);
    }
    void holdOthersBack() {
        grab_(display_);
        sync_(display_, 0);
    }
    void letOthersOn() {
        ungrab_(display_);
        sync_(display_, 0);
    }

  private:
    using Warp = int (*)(void*, unsigned long, unsigned long, int, int, unsigned, unsigned, int, int);
    void* display_ = nullptr;
    unsigned long (*root_)(void*) = nullptr;
    Warp warp_ = nullptr;
    int (*grab_)(void*) = nullptr;
    int (*ungrab_)(void*) = nullptr;
    int (*sync_)(void*, int) = nullptr;
    int (*close_)(void*) = nullptr;
};

TEST(X11Pointer, ReadsThePointerOnAnX11DisplayAndNothingOnWaylandOrWithoutADisplay) {
    testkit::VirtualDisplay display;
    if (display.name().empty()) GTEST_SKIP() << "no Xvfb here";
    ::setenv("DISPLAY", display.name().c_str(), 1);
    ::unsetenv("WAYLAND_DISPLAY");
    auto pointer = X11Pointer::open();
    ASSERT_TRUE(pointer) << "display " << display.name();
    UserConnection user(display.name());
    ASSERT_TRUE(user.opened()) << "display " << display.name();
    user.warp(123, 45);
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
    // Asked again within its age, the last answer stands, though the pointer has moved since. The
    // call that saw the answer asked again (its age was 0): the server holds that ask back until
    // after the check, unless it answered before the move, with the same place.
    user.holdOthersBack();
    user.warp(700, 500);
    EXPECT_EQ(pointer->location(std::chrono::hours(1)), (Event::Location{123, 45}));
    user.letOthersOn();
    EXPECT_TRUE(answers({700, 500}));

    // The display goes (the X server ends): the next ask finds the connection broken, and the
    // pointer is none from then on, in a process that goes on.
    user.close();
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
