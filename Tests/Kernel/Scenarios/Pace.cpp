// The machine's pace: how many times slower than on an unloaded host the machine runs now, from a
// fixed piece of work and from the time udevd takes to announce a new input device (a desktop,
// and the program's own devices, wait for that announcement; a udev slowed by the host's load, or
// by a rule's slow program, slows every scenario that makes a device).

#include <fcntl.h>
#include <libudev.h>
#include <linux/uinput.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Kernel/Scenarios/Guest.h"

namespace tindlewave::kernel {
namespace {

// The fixed piece of work's time in a machine on an unloaded host (the dev build).
constexpr double unloadedWorkMs = 30;
// The time udevd takes to announce a new input device's event node in a machine on an unloaded
// host, and the most its part in the pace counts (a udev slower than that is told in the log, and
// waiting longer still would only hold the tier for hours).
constexpr double unloadedAnnouncementMs = 100;
constexpr double mostAnnouncementPace = 20;  // as the log says
// How long the announcement is waited for.
constexpr auto announcementLimit = 120s;

// The fixed piece of work's time now in milliseconds: the median of three.
double timeTheWork() {
    std::vector<double> times;
    for (int round = 0; round < 3; ++round) {
        const auto start = std::chrono::steady_clock::now();
        volatile std::uint64_t sink = 0;
        std::uint64_t x = 0x9E3779B97F4A7C15ull;
        for (int i = 0; i < 2'000'000; ++i) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
        }
        sink = x;
        (void)sink;
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[1];
}

// udevd's events for input devices, as a desktop hears them (after every rule's programs ended).
class InputAnnouncements {
  public:
    InputAnnouncements() : udev_(udev_new()) {
        if (udev_) monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
        if (monitor_ && (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "input", nullptr) < 0 ||
                         udev_monitor_enable_receiving(monitor_) < 0)) {
            udev_monitor_unref(monitor_);
            monitor_ = nullptr;
        }
    }
    ~InputAnnouncements() {
        if (monitor_) udev_monitor_unref(monitor_);
        if (udev_) udev_unref(udev_);
    }
    InputAnnouncements(const InputAnnouncements&) = delete;
    InputAnnouncements& operator=(const InputAnnouncements&) = delete;

    bool ok() const { return monitor_ != nullptr; }

    // Waits until udevd announces `action` for an event node under the input device `sysname`.
    bool waitFor(const char* action, const std::string& sysname, std::chrono::steady_clock::time_point end) {
        const std::string under = "/" + sysname + "/event";
        pollfd ready{udev_monitor_get_fd(monitor_), POLLIN, 0};
        while (true) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0) return false;
            udev_device* device = udev_monitor_receive_device(monitor_);
            if (!device) continue;
            const char* seen = udev_device_get_action(device);
            const char* path = udev_device_get_devpath(device);
            const bool match = seen && path && std::strcmp(seen, action) == 0 && std::strstr(path, under.c_str());
            udev_device_unref(device);
            if (match) return true;
        }
    }

  private:
    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
};

// Makes an input device through uinput and times its announcement by udevd, in milliseconds (the
// limit when it never came); then removes it and waits for that to be announced too, so that the
// scenario starts with udev idle. Negative when no device could be made.
double timeTheAnnouncement() {
    InputAnnouncements announcements;
    const int fd = ::open("/dev/uinput", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (!announcements.ok() || fd < 0) {
        if (fd >= 0) ::close(fd);
        return -1;
    }
    uinput_setup setup{};
    setup.id.bustype = BUS_VIRTUAL;
    std::snprintf(setup.name, sizeof setup.name, "kernel tier pace probe");
    char sysname[64] = {};
    double ms = -1;
    if (::ioctl(fd, UI_SET_EVBIT, EV_KEY) == 0 && ::ioctl(fd, UI_SET_KEYBIT, KEY_A) == 0 &&
        ::ioctl(fd, UI_DEV_SETUP, &setup) == 0) {
        const auto start = std::chrono::steady_clock::now();
        if (::ioctl(fd, UI_DEV_CREATE) == 0) {
            if (::ioctl(fd, UI_GET_SYSNAME(sizeof sysname - 1), sysname) >= 0) {
                announcements.waitFor("add", sysname, start + announcementLimit);
                ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            }
            ::ioctl(fd, UI_DEV_DESTROY);
            if (ms >= 0) announcements.waitFor("remove", sysname, std::chrono::steady_clock::now() + announcementLimit);
        }
    }
    ::close(fd);
    return ms;
}

struct PaceMeasured {
    double pace;
    std::string description;
};

PaceMeasured measurePaceNow() {
    const double workMs = timeTheWork();
    const double announcementMs = timeTheAnnouncement();
    const double announcementPace = announcementMs / unloadedAnnouncementMs;
    const double value = std::max({1.0, workMs / unloadedWorkMs, std::min(mostAnnouncementPace, announcementPace)});
    char work[160];
    std::snprintf(work, sizeof work, "the fixed work takes %.0f ms now, %.0f ms on an unloaded host", workMs,
                  unloadedWorkMs);
    char udev[200] = "no input device could be made through uinput to time udev";
    if (announcementMs >= 0)
        std::snprintf(udev, sizeof udev, "udev announces a new input device after %.0f ms, %.0f ms on an unloaded host%s",
                      announcementMs, unloadedAnnouncementMs,
                      announcementPace > mostAnnouncementPace ? " (counted as at most 20 times that)" : "");
    char line[512];
    std::snprintf(line, sizeof line, "machine pace: %.2f (every wait's limit is scaled by it; %s; %s)", value, work,
                  udev);
    return {value, line};
}

// Set for the pace alone: the program prints the pace measured now, then what it was measured
// from, and ends (stage 2 uses it to scale a scenario's own time limit, and puts the second line
// at the head of the scenario's log).
[[maybe_unused]] const bool measuringPaceOnly = [] {
    if (!std::getenv("TW_KERNEL_MEASURE_PACE")) return false;
    const auto measured = measurePaceNow();
    std::printf("%.2f\n%s\n", measured.pace, measured.description.c_str());
    std::fflush(stdout);
    std::_Exit(0);
}();

}  // namespace

double measurePace() { return measurePaceNow().pace; }

double pace() {
    static const double value = [] {
        if (const char* given = std::getenv("TW_GUEST_PACE")) return std::max(1.0, std::atof(given));
        const auto measured = measurePaceNow();
        std::printf("%s\n", measured.description.c_str());
        std::fflush(stdout);
        return measured.pace;
    }();
    return value;
}

std::chrono::milliseconds scaled(std::chrono::milliseconds limit) {
    return std::chrono::milliseconds(static_cast<long long>(static_cast<double>(limit.count()) * pace()));
}

}  // namespace tindlewave::kernel
