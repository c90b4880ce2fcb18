#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "Core/Tap/Event.h"

namespace tindlewave {

// Where the pointer is on an X11 display, asked with XQueryPointer through libX11 loaded when
// needed (the build does not depend on it). There is none on Wayland, where a program cannot
// know the pointer's place (XWayland answers with a constant), nor without a display.
// The display is opened, and the X server asked, on a thread of the pointer's own, so neither the
// thread that makes it nor the one that reads input ever waits for the server (one that takes a
// connection and never answers holds up that thread alone); it sleeps until an answer is wanted.
// A display that goes away ends neither the thread nor the process (Xlib's process-wide I/O error
// handler passes the pointers' connections over; another connection's error goes to the handler
// there was): the pointer is none from then on.
class X11Pointer {
  public:
    // None unless DISPLAY names a display, WAYLAND_DISPLAY is unset and libX11 loads. Never
    // waits for the display: a display that cannot be opened is, for location(), one that went
    // away.
    static std::unique_ptr<X11Pointer> open();
    // Stops its thread: joined, unless it still waits for the display to answer its opening
    // (then it ends by itself once the display answers or goes, and nothing waits for it).
    ~X11Pointer();
    X11Pointer(const X11Pointer&) = delete;
    X11Pointer& operator=(const X11Pointer&) = delete;

    // In the root window's pixels, as last answered; none before the first answer and once the
    // display stopped answering. Never waits: an answer older than `maxAge` (or none yet) has
    // the pointer's thread ask again, and a later call has its answer. Any thread.
    std::optional<Event::Location> location(
        std::chrono::milliseconds maxAge = std::chrono::milliseconds(50));

    // How many pointers' threads still run, those let go of while their display had not answered
    // among them (each ends once its display answers or goes); tests wait for none.
    static int threadsRunning();

  private:
    struct Library;
    // What the pointer's thread and the pointer share: the thread holds it too, so a thread let
    // go of while the display has not answered its opening never reads freed memory.
    struct Shared {
        std::atomic<std::uint64_t> place{0};         // x and y, 32 bits each
        std::atomic<std::int64_t> answeredAt{0};     // steady nanoseconds; 0: no answer yet
        std::atomic<bool> lost{false};
        std::atomic<bool> asking{false};             // an ask is on its way
        std::atomic<std::uint32_t> asks{0};          // bumped to wake the thread
        std::atomic<bool> stopping{false};
        std::atomic<bool> opening{true};             // the display has not answered its opening yet
    };
    X11Pointer(std::unique_ptr<Library> library, std::string display);
    static void run(std::shared_ptr<Shared> shared, std::unique_ptr<Library> library, std::string display);

    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

}  // namespace tindlewave
