#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>

#include "Core/Tap/Event.h"

namespace tindlewave {

// Where the pointer is on an X11 display, asked with XQueryPointer through libX11 loaded when
// needed (the build does not depend on it). There is none on Wayland, where a program cannot
// know the pointer's place (XWayland answers with a constant), nor without a display.
// The X server is asked on a thread of the pointer's own, so the thread that reads input never
// waits for its answer; that thread sleeps until an answer is wanted.
class X11Pointer {
  public:
    // None unless DISPLAY names a display, WAYLAND_DISPLAY is unset and libX11 loads.
    static std::unique_ptr<X11Pointer> open();
    // Stops and joins its thread.
    ~X11Pointer();
    X11Pointer(const X11Pointer&) = delete;
    X11Pointer& operator=(const X11Pointer&) = delete;

    // In the root window's pixels, as last answered; none before the first answer and once the
    // display stopped answering. Never waits: an answer older than `maxAge` (or none yet) has
    // the pointer's thread ask again, and a later call has its answer. Any thread.
    std::optional<Event::Location> location(
        std::chrono::milliseconds maxAge = std::chrono::milliseconds(50));

  private:
    struct Library;
    explicit X11Pointer(std::unique_ptr<Library> library);
    void run();

    std::unique_ptr<Library> library_;  // its thread's once it runs
    std::atomic<std::uint64_t> place_{0};         // x and y, 32 bits each
    std::atomic<std::int64_t> answeredAt_{0};     // steady nanoseconds; 0: no answer yet
    std::atomic<bool> lost_{false};
    std::atomic<bool> asking_{false};             // an ask is on its way
    std::atomic<std::uint32_t> asks_{0};          // bumped to wake the thread
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace tindlewave
