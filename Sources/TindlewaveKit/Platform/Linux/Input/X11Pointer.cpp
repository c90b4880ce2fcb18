#include "Platform/Linux/Input/X11Pointer.h"

#include <dlfcn.h>

#include <cstdlib>

namespace tindlewave {

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
    CloseDisplay close = nullptr;
    QueryPointer query = nullptr;
    bool lost = false;  // the display went away (set and read on the pointer's thread)

    // Xlib ends the process when its connection breaks, unless told otherwise.
    static void connectionLost(Display*, void* self) { static_cast<Library*>(self)->lost = true; }

    // The library stays loaded: Xlib and xcb do not come back cleanly from an unload.
    ~Library() {
        if (display && close && !lost) close(display);
    }
};

std::unique_ptr<X11Pointer> X11Pointer::open() {
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (!display || !*display || (wayland && *wayland)) return nullptr;
    auto library = std::make_unique<Library>();
    library->handle = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!library->handle) return nullptr;
    auto openDisplay = reinterpret_cast<Library::OpenDisplay>(::dlsym(library->handle, "XOpenDisplay"));
    library->close = reinterpret_cast<Library::CloseDisplay>(::dlsym(library->handle, "XCloseDisplay"));
    auto root = reinterpret_cast<Library::DefaultRootWindow>(::dlsym(library->handle, "XDefaultRootWindow"));
    library->query = reinterpret_cast<Library::QueryPointer>(::dlsym(library->handle, "XQueryPointer"));
    auto setExitHandler = reinterpret_cast<Library::SetIOErrorExitHandler>(
        ::dlsym(library->handle, "XSetIOErrorExitHandler"));
    // Without a way to survive a broken connection, the pointer is not worth the risk.
    if (!openDisplay || !library->close || !root || !library->query || !setExitHandler)
        return nullptr;
    library->display = openDisplay(display);
    if (!library->display) return nullptr;
    setExitHandler(library->display, &Library::connectionLost, library.get());
    library->root = root(library->display);
    return std::unique_ptr<X11Pointer>(new X11Pointer(std::move(library)));
}

X11Pointer::X11Pointer(std::unique_ptr<Library> library)
    : library_(std::move(library)), thread_([this] { run(); }) {}

X11Pointer::~X11Pointer() {
    stopping_ = true;
    asks_.fetch_add(1);
    asks_.notify_one();
    if (thread_.joinable()) thread_.join();
}

namespace {

std::int64_t steadyNow() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::optional<Event::Location> X11Pointer::location(std::chrono::milliseconds maxAge) {
    if (lost_) return std::nullopt;
    const std::int64_t at = answeredAt_.load();
    if ((at == 0 || steadyNow() - at >= std::chrono::nanoseconds(maxAge).count()) && !asking_.exchange(true)) {
        asks_.fetch_add(1);
        asks_.notify_one();
    }
    if (at == 0) return std::nullopt;
    const std::uint64_t place = place_.load();
    return Event::Location{static_cast<double>(static_cast<std::int32_t>(place >> 32)),
                           static_cast<double>(static_cast<std::int32_t>(place & 0xFFFFFFFFu))};
}

void X11Pointer::run() {
    std::uint32_t seen = 0;
    while (true) {
        asks_.wait(seen);
        seen = asks_.load();
        if (stopping_) return;
        Library::Window rootReturn = 0, child = 0;
        int rootX = 0, rootY = 0, windowX = 0, windowY = 0;
        unsigned int mask = 0;
        const bool answered = !library_->lost && library_->query(library_->display, library_->root, &rootReturn,
                                                                 &child, &rootX, &rootY, &windowX, &windowY, &mask);
        if (library_->lost) {
            lost_ = true;  // the display went away: never asked again
        } else if (answered) {
            place_ = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(rootX)) << 32) |
                     static_cast<std::uint32_t>(rootY);
            answeredAt_ = steadyNow();
        } else {
            answeredAt_ = 0;
        }
        asking_ = false;
    }
}

}  // namespace tindlewave
