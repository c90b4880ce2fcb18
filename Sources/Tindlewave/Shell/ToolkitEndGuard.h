#pragma once

#include <functional>

namespace tindlewave {

class EngineAssembly;

// The toolkit ends the program by itself at times, without the program's quit: it aborts when it
// cannot reach its display at start (a fatal message), and it exits when its display connection
// breaks at any time (the X server or the Wayland compositor ended: a logout, a crash, a virtual
// display stopped; it says "The X11 connection broke" or "The Wayland connection broke" first).
// Either way the engine first puts every device back (every control native, every node let go of,
// the key tables as they were), on the thread the toolkit ends the program from (a second such
// thread waits for it), waiting for the engine's threads within a deadline and touching neither
// the toolkit nor the display; then the toolkit's end goes on, with its non-zero status. A start
// that failed for want of a display ends instead with the program's own word on standard error
// ("cannot open the display :99 (why)") and status 1.
// Make it on the main thread, after the assembly and before the engine's run and the application;
// one at a time.
class ToolkitEndGuard {
  public:
    // `putBack` runs on the HID executor once the engine has put the devices back at such an end,
    // before the toolkit's end goes on (for the log).
    ToolkitEndGuard(EngineAssembly& assembly, std::function<void()> putBack);
    ~ToolkitEndGuard();
    ToolkitEndGuard(const ToolkitEndGuard&) = delete;
    ToolkitEndGuard& operator=(const ToolkitEndGuard&) = delete;

    // The toolkit is set up: a fatal message ends the program as it did before; a broken
    // display connection still has the devices put back.
    void toolkitReady();
    // The program's own quit has put the devices back, and the engine's threads are about to
    // stop: the toolkit's end has nothing left to wait for.
    void quitDone();
};

}  // namespace tindlewave
