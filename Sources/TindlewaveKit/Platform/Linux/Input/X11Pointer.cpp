#include "Platform/Linux/Input/X11Pointer.h"

#include <dlfcn.h>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace tindlewave {

namespace {

// Xlib's I/O error handler is one for the whole process, and the default one ends it before a
// connection's exit handler is called: the pointers' connections are passed over (their exit
// handlers mark them lost), every other goes to the handler there was (a toolkit's, which ends the
// program its own way).
using IOErrorHandler = int (*)(void*);
using SetIOErrorHandler = IOErrorHandler (*)(IOErrorHandler);

std::mutex pointerDisplaysMutex;
std::vector<void*> pointerDisplays;  // open, or lost and never closed (so never another's address)
IOErrorHandler otherDisplaysHandler = nullptr;

int onIOError(void* display) {
    IOErrorHandler other = nullptr;
    {
        std::lock_guard lock(pointerDisplaysMutex);
        if (std::find(pointerDisplays.begin(), pointerDisplays.end(), display) != pointerDisplays.end()) return 0;
        other = otherDisplaysHandler;
    }
    return other ? other(display) : 0;
}

void passOverIOErrorsOf(void* display, SetIOErrorHandler setHandler) {
    std::lock_guard lock(pointerDisplaysMutex);
    pointerDisplays.push_back(display);
    static std::once_flag installed;
    std::call_once(installed, [setHandler] { otherDisplaysHandler = setHandler(&onIOError); });
}

void forget(void* display) {
    std::lock_guard lock(pointerDisplaysMutex);
    std::erase(pointerDisplays, display);
}

}  // namespace

// The few Xlib functions used, by their C signatures (Display and Window as opaque values).
struct X11Pointer::Library {
    using Display = void;
    using Window = unsigned long;
    using OpenDisplay = Display* (*)(const char*);
    using CloseDisplay = int (*)(Display*);
    using DefaultRootWindow = Window (*)(Display*);
    using QueryPointer = int (*)(Display*, Window, Window*, Window*, int*, int*, int*, int*,
                                 unsigned int*);
    using ExitHandler = void (*)(Display*, void*);
    using SetIOErrorExitHandler = void (*)(Display*, ExitHandler, void*);

    void* handle = nullptr;
    Display* display = nullptr;
    Window root = 0;
    OpenDisplay openDisplay = nullptr;
    CloseDisplay close = nullptr;
    DefaultRootWindow rootOf = nullptr;
    QueryPointer query = nullptr;
    SetIOErrorExitHandler setExitHandler = nullptr;
    SetIOErrorHandler setIOErrorHandler = nullptr;
    bool lost = false;  // the display went away (set and read on the pointer's thread)

    // Xlib ends the process when its connection breaks, unless told otherwise.
    static void connectionLost(Display*, void* self) { static_cast<Library*>(self)->lost = true; }

    // The library stays loaded: Xlib and xcb do not come back cleanly from an unload.
    ~Library() {
        if (!display || lost) return;
        forget(display);
        close(display);
    }
};

std::unique_ptr<X11Pointer> X11Pointer::open() {
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (!display || !*display || (wayland && *wayland)) return nullptr;
    auto library = std::make_unique<Library>();
    library->handle = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!library->handle) return nullptr;
    library->openDisplay = reinterpret_cast<Library::OpenDisplay>(::dlsym(library->handle, "XOpenDisplay"));
    library->close = reinterpret_cast<Library::CloseDisplay>(::dlsym(library->handle, "XCloseDisplay"));
    library->rootOf = reinterpret_cast<Library::DefaultRootWindow>(::dlsym(library->handle, "XDefaultRootWindow"));
    library->query = reinterpret_cast<Library::QueryPointer>(::dlsym(library->handle, "XQueryPointer"));
    library->setExitHandler = reinterpret_cast<Library::SetIOErrorExitHandler>(
        ::dlsym(library->handle, "XSetIOErrorExitHandler"));
    library->setIOErrorHandler =
        reinterpret_cast<SetIOErrorHandler>(::dlsym(library->handle, "XSetIOErrorHandler"));
    // Without a way to survive a broken connection, the pointer is not worth the risk.
    if (!library->openDisplay || !library->close || !library->rootOf || !library->query || !library->setExitHandler ||
        !library->setIOErrorHandler)
        return nullptr;
    return std::unique_ptr<X11Pointer>(new X11Pointer(std::move(library), display));
}

namespace {

std::atomic<int> pointerThreads{0};  // running

}  // namespace

X11Pointer::X11Pointer(std::unique_ptr<Library> library, std::string display) : shared_(std::make_shared<Shared>()) {
    pointerThreads.fetch_add(1);
    thread_ = std::thread(&X11Pointer::run, shared_, std::move(library), std::move(display));
}

int X11Pointer::threadsRunning() { return pointerThreads.load(std::memory_order_acquire); }

X11Pointer::~X11Pointer() {
    shared_->stopping = true;
    shared_->asks.fetch_add(1);
    shared_->asks.notify_one();
    if (!thread_.joinable()) return;
    // A display that took the connection and never answers would hold the quit forever.
    if (shared_->opening) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

namespace {

std::int64_t steadyNow() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::optional<Event::Location> X11Pointer::location(std::chrono::milliseconds maxAge) {
    Shared& shared = *shared_;
    if (shared.lost) return std::nullopt;
    const std::int64_t at = shared.answeredAt.load();
    if ((at == 0 || steadyNow() - at >= std::chrono::nanoseconds(maxAge).count()) && !shared.asking.exchange(true)) {
        shared.asks.fetch_add(1);
        shared.asks.notify_one();
    }
    if (at == 0) return std::nullopt;
    const std::uint64_t place = shared.place.load();
    return Event::Location{static_cast<double>(static_cast<std::int32_t>(place >> 32)),
                           static_cast<double>(static_cast<std::int32_t>(place & 0xFFFFFFFFu))};
}

void X11Pointer::run(std::shared_ptr<Shared> shared, std::unique_ptr<Library> library, std::string display) {
    // A write to a server that went away fails on this thread instead of ending the process.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    library->display = library->openDisplay(display.c_str());
    if (library->display) {
        passOverIOErrorsOf(library->display, library->setIOErrorHandler);
        library->setExitHandler(library->display, &Library::connectionLost, library.get());
        library->root = library->rootOf(library->display);
    } else {
        shared->lost = true;  // no display to ask: as one that went away
    }
    shared->opening = false;
    std::uint32_t seen = 0;
    while (library->display) {
        shared->asks.wait(seen);
        seen = shared->asks.load();
        if (shared->stopping) break;
        Library::Window rootReturn = 0, child = 0;
        int rootX = 0, rootY = 0, windowX = 0, windowY = 0;
        unsigned int mask = 0;
        const bool answered = !library->lost && library->query(library->display, library->root, &rootReturn, &child,
                                                               &rootX, &rootY, &windowX, &windowY, &mask);
        if (library->lost) {
            shared->lost = true;  // the display went away: never asked again
        } else if (answered) {
            shared->place = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(rootX)) << 32) |
                            static_cast<std::uint32_t>(rootY);
            shared->answeredAt = steadyNow();
        } else {
            shared->answeredAt = 0;
        }
        shared->asking = false;
    }
    library.reset();  // the display closed, the last of the library's work
    pointerThreads.fetch_sub(1, std::memory_order_release);
}

}  // namespace tindlewave
