#include "Platform/Linux/Session/LogindSleepWatch.h"

#include "Platform/Linux/Session/SystemBusMatch.h"

#include <systemd/sd-bus.h>

#include <utility>

namespace tindlewave {

struct LogindSleepWatch::Bus : SystemBusMatch {};

std::variant<std::unique_ptr<LogindSleepWatch>, LogindSleepWatch::Unavailable>
LogindSleepWatch::open() {
    auto bus = std::make_unique<Bus>();
    if (int r = sd_bus_open_system(&bus->bus); r < 0) {
        bus->bus = nullptr;
        return Unavailable{busError("no system bus", r)};
    }
    std::unique_ptr<LogindSleepWatch> watch(new LogindSleepWatch(std::move(bus)));
    auto received = [](sd_bus_message* message, void* context, sd_bus_error*) -> int {
        int sleeping = 0;
        if (sd_bus_message_read(message, "b", &sleeping) >= 0) {
            static_cast<LogindSleepWatch*>(context)->received_.push_back(sleeping != 0);
        }
        return 0;
    };
    int r = sd_bus_match_signal(watch->bus_->bus, &watch->bus_->match, "org.freedesktop.login1",
                                "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                "PrepareForSleep", received, watch.get());
    if (r < 0) return Unavailable{busError("the system bus refused the sleep signal's match", r)};
    return watch;
}

LogindSleepWatch::LogindSleepWatch(std::unique_ptr<Bus> bus) : bus_(std::move(bus)) {}

LogindSleepWatch::~LogindSleepWatch() = default;

int LogindSleepWatch::fd() const { return sd_bus_get_fd(bus_->bus); }

std::vector<bool> LogindSleepWatch::process() {
    if (connected_) connected_ = bus_->processReady();
    return std::exchange(received_, {});
}

}  // namespace tindlewave
