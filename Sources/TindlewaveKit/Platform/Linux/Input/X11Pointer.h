#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

#include "Core/Tap/Event.h"

namespace tindlewave {

// Where the pointer is on an X11 display, asked with XQueryPointer through libX11 loaded when
// needed (the build does not depend on it). There is none on Wayland, where a program cannot
// know the pointer's place (XWayland answers with a constant), nor without a display.
// Thread-safe: one connection behind a lock, asked at most every `maxAge`.
class X11Pointer {
  public:
    // None unless DISPLAY names a display, WAYLAND_DISPLAY is unset and libX11 loads.
    static std::unique_ptr<X11Pointer> open();
    ~X11Pointer();
    X11Pointer(const X11Pointer&) = delete;
    X11Pointer& operator=(const X11Pointer&) = delete;

    // In the root window's pixels; none when the display stopped answering.
    std::optional<Event::Location> location(
        std::chrono::milliseconds maxAge = std::chrono::milliseconds(50));

  private:
    struct Library;
    explicit X11Pointer(std::unique_ptr<Library> library);

    std::mutex mutex_;
    std::unique_ptr<Library> library_;
    std::optional<Event::Location> last_;
    std::chrono::steady_clock::time_point askedAt_{};
};

}  // namespace tindlewave
