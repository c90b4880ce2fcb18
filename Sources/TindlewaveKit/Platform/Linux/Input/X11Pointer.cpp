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
    bool lost = false;  // the display went away: never asked again

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

X11Pointer::X11Pointer(std::unique_ptr<Library> library) : library_(std::move(library)) {}

X11Pointer::~X11Pointer() = default;

std::optional<Event::Location> X11Pointer::location(std::chrono::milliseconds maxAge) {
    std::lock_guard lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    if (library_->lost) return std::nullopt;
    if (last_ && now - askedAt_ < maxAge) return last_;
    Library::Window rootReturn = 0, child = 0;
    int rootX = 0, rootY = 0, windowX = 0, windowY = 0;
    unsigned int mask = 0;
    if (!library_->query(library_->display, library_->root, &rootReturn, &child, &rootX, &rootY,
                         &windowX, &windowY, &mask) ||
        library_->lost) {
        last_.reset();
        return std::nullopt;
    }
    last_ = Event::Location{static_cast<double>(rootX), static_cast<double>(rootY)};
    askedAt_ = now;
    return last_;
}

}  // namespace tindlewave
