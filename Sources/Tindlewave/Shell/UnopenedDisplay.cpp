#include "Shell/UnopenedDisplay.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "Platform/Linux/System/UniqueFd.h"

namespace tindlewave {

namespace {

// 0 when something takes a connection at the socket `path` (a leading '@': the abstract one),
// else the error.
int reach(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return ENAMETOOLONG;
    std::memcpy(address.sun_path, path.data(), path.size());
    if (path.front() == '@') address.sun_path[0] = '\0';
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size());
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.isOpen()) return errno;
    // Non-blocking: a listener whose queue is full is no reason to wait.
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), size) == 0 || errno == EAGAIN)
        return 0;
    return errno;
}

// Why nothing could be had at the socket `path` (the error `error` said), with what took a
// connection there: `server` then did not let the program in.
std::string whyAt(const std::string& path, int error, const char* server) {
    if (error == 0) return std::string("the ") + server + " there did not accept the connection";
    if (error == ENOENT || error == ECONNREFUSED) return "nothing listens at " + path;
    return path + ": " + std::strerror(error);
}

// The number of a local X display (":99", ":99.0", "unix:99"), or none for one over the network.
std::optional<std::string> localDisplayNumber(const std::string& name) {
    std::string rest;
    if (name.starts_with(':')) {
        rest = name.substr(1);
    } else if (name.starts_with("unix:")) {
        rest = name.substr(5);
    } else {
        return std::nullopt;
    }
    rest = rest.substr(0, rest.find('.'));
    if (rest.empty() || !std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return rest;
}

std::string whyNotX11(const std::string& name) {
    const auto number = localDisplayNumber(name);
    if (!number) return "no X server answered there";
    // As an X client on Linux tries them: the abstract socket first, then the file.
    const std::string path = "/tmp/.X11-unix/X" + *number;
    if (reach("@" + path) == 0) return whyAt(path, 0, "X server");
    return whyAt(path, reach(path), "X server");
}

std::string whyNotWayland(const std::string& name) {
    std::string path = name;
    if (!name.starts_with('/')) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        if (!runtime || !*runtime) return "XDG_RUNTIME_DIR, where its socket is, is not set";
        path = std::string(runtime) + "/" + name;
    }
    return whyAt(path, reach(path), "compositor");
}

}  // namespace

std::vector<std::string> unopenedDisplayLines(const std::vector<UnopenedDisplay>& tried) {
    std::vector<std::string> lines;
    bool x11Unset = false, waylandUnset = false;
    for (const auto& display : tried) {
        if (display.name.empty()) {
            (display.wayland ? waylandUnset : x11Unset) = true;
            continue;
        }
        const std::string why = display.wayland ? whyNotWayland(display.name) : whyNotX11(display.name);
        const std::string line = "cannot open the display " + display.name + " (" + why + ")";
        if (std::find(lines.begin(), lines.end(), line) == lines.end()) lines.push_back(line);
    }
    if (!lines.empty() || (!x11Unset && !waylandUnset)) return lines;
    const auto set = [](const char* variable) {
        const char* value = std::getenv(variable);
        return value && *value;
    };
    if (!set("DISPLAY") && !set("WAYLAND_DISPLAY"))
        return {"cannot open a display (neither DISPLAY nor WAYLAND_DISPLAY is set)"};
    return {x11Unset ? "cannot open a display (DISPLAY is not set)"
                     : "cannot open a display (WAYLAND_DISPLAY is not set)"};
}

}  // namespace tindlewave
