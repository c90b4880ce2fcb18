#include "Platform/Linux/Session/LogindSessionWatch.h"

#include "Platform/Linux/Session/SystemBusMatch.h"

#include <systemd/sd-bus.h>

#include <cstring>
#include <utility>

namespace tindlewave {

namespace {

constexpr const char* logind = "org.freedesktop.login1";
constexpr const char* sessionInterface = "org.freedesktop.login1.Session";

// The "Active" entry of a PropertiesChanged signal's changed properties, if any.
int readActive(sd_bus_message* message, int& active) {
    const char* interface = nullptr;
    if (int r = sd_bus_message_read(message, "s", &interface); r < 0) return r;
    if (!interface || std::strcmp(interface, sessionInterface) != 0) return 0;
    if (int r = sd_bus_message_enter_container(message, 'a', "{sv}"); r < 0) return r;
    int found = 0;
    while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
        const char* name = nullptr;
        if (sd_bus_message_read(message, "s", &name) < 0) return -EBADMSG;
        if (name && std::strcmp(name, "Active") == 0) {
            if (sd_bus_message_read(message, "v", "b", &active) < 0) return -EBADMSG;
            found = 1;
        } else if (sd_bus_message_skip(message, "v") < 0) {
            return -EBADMSG;
        }
        sd_bus_message_exit_container(message);
    }
    return found;
}

}  // namespace

struct LogindSessionWatch::Bus : SystemBusMatch {};

std::variant<std::unique_ptr<LogindSessionWatch>, LogindSessionWatch::Unavailable>
LogindSessionWatch::open() {
    auto bus = std::make_unique<Bus>();
    if (int r = sd_bus_open_system(&bus->bus); r < 0) {
        bus->bus = nullptr;
        return Unavailable{busError("no system bus", r)};
    }
    sd_bus_error error{};  // empty, as SD_BUS_ERROR_NULL (a compound literal in C++)
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call_method(bus->bus, logind, "/org/freedesktop/login1",
                               "org.freedesktop.login1.Manager", "GetSession", &error, &reply,
                               "s", "auto");
    if (r < 0) {
        Unavailable failed{busError("no login session", r, &error)};
        sd_bus_error_free(&error);
        return failed;
    }
    const char* found = nullptr;
    r = sd_bus_message_read(reply, "o", &found);
    std::string path = r >= 0 && found ? found : "";
    sd_bus_message_unref(reply);
    if (path.empty()) return Unavailable{"logind named no session"};

    int active = 1;
    r = sd_bus_get_property_trivial(bus->bus, logind, path.c_str(), sessionInterface, "Active",
                                    &error, 'b', &active);
    if (r < 0) {
        Unavailable failed{busError("the session's state cannot be read", r, &error)};
        sd_bus_error_free(&error);
        return failed;
    }
    std::unique_ptr<LogindSessionWatch> watch(
        new LogindSessionWatch(std::move(bus), path, active != 0));
    auto changed = [](sd_bus_message* message, void* context, sd_bus_error*) -> int {
        int value = 0;
        if (readActive(message, value) > 0) {
            auto* self = static_cast<LogindSessionWatch*>(context);
            self->active_ = value != 0;
            self->received_.push_back(value != 0);
        }
        return 0;
    };
    r = sd_bus_match_signal(watch->bus_->bus, &watch->bus_->match, logind, path.c_str(),
                            "org.freedesktop.DBus.Properties", "PropertiesChanged", changed,
                            watch.get());
    if (r < 0) return Unavailable{busError("the system bus refused the session's match", r)};
    return watch;
}

LogindSessionWatch::LogindSessionWatch(std::unique_ptr<Bus> bus, std::string path, bool active)
    : bus_(std::move(bus)), path_(std::move(path)), active_(active) {}

LogindSessionWatch::~LogindSessionWatch() = default;

int LogindSessionWatch::fd() const { return sd_bus_get_fd(bus_->bus); }

std::vector<bool> LogindSessionWatch::process() {
    if (connected_) connected_ = bus_->processReady();
    return std::exchange(received_, {});
}

}  // namespace tindlewave
