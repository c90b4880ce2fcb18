#include "Runtime/Worlds/DeviceCheck.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fmt/format.h>
#include <optional>

#include "Core/Devices/DeviceIdentity.h"
#include "Core/HIDPP/Inbound.h"
#include "Core/HIDPP/Step.h"
#include "Platform/Linux/HID/HidrawDevice.h"
#include "Platform/Linux/Devices/LinuxDeviceRegistry.h"
#include "Platform/Linux/Devices/LinuxHIDProperties.h"
#include "Platform/Linux/HID/LinuxHIDSystem.h"
#include "Platform/Linux/Permissions/NodePermissionGrants.h"
#include "Platform/Linux/Session/LogindSessionWatch.h"
#include "Platform/Linux/System/UniqueFd.h"
#include "Runtime/Stores/LogStore.h"

namespace tindlewave {

namespace {

using SteadyClock = std::chrono::steady_clock;
using Entry = LinuxDeviceRegistry::Entry;

// The kernel's own check for this process (its groups and the node's access lists included).
std::string access(const std::string& node, int mode) {
    if (::access(node.c_str(), mode) == 0) return "yes";
    return fmt::format("no ({})", std::strerror(errno));
}

std::string ownerAndMode(const std::string& node) {
    struct stat info {};
    if (::stat(node.c_str(), &info) != 0) return fmt::format("cannot stat: {}", std::strerror(errno));
    const passwd* user = ::getpwuid(info.st_uid);
    const group* group = ::getgrgid(info.st_gid);
    return fmt::format("mode {:04o}, owner {}:{}", info.st_mode & 07777,
                       user ? user->pw_name : std::to_string(info.st_uid),
                       group ? group->gr_name : std::to_string(info.st_gid));
}

template <class T>
std::optional<T> numberOf(const PropertyBag& bag, const char* name) {
    auto found = bag.find(name);
    if (found == bag.end() || !as<std::int64_t>(found->second)) return std::nullopt;
    return T(*as<std::int64_t>(found->second));
}

std::string textOf(const PropertyBag& bag, const char* name) {
    auto found = bag.find(name);
    return found != bag.end() && as<std::string>(found->second) ? *as<std::string>(found->second) : "";
}

std::string pairsOf(const PropertyBag& bag, const char* name) {
    auto found = bag.find(name);
    if (found == bag.end() || !as<std::vector<PropertyBag>>(found->second)) return "none";
    std::string text;
    for (const auto& pair : *as<std::vector<PropertyBag>>(found->second)) {
        if (!text.empty()) text += " ";
        text += fmt::format("0x{:X}/0x{:X}", numberOf<std::int64_t>(pair, "DeviceUsagePage").value_or(0),
                            numberOf<std::int64_t>(pair, "DeviceUsage").value_or(0));
    }
    return text.empty() ? "none" : text;
}

// How a ping went, for the summary.
enum class PingOutcome { answered, notOpened, otherwise };

// The root feature's ping at `index`: the answer's protocol version and the round trip, or why
// there is none.
std::string ping(const std::string& node, std::uint8_t index, std::chrono::milliseconds timeout,
                 PingOutcome& how) {
    how = PingOutcome::notOpened;
    const UniqueFd fd(::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!fd.isOpen()) return fmt::format("not sent: cannot open ({})", std::strerror(errno));
    how = PingOutcome::otherwise;
    const std::uint8_t data = 0x5A;
    const HIDPPReport request = HIDPPStep::ping(data).request().report(0, index);
    const auto start = SteadyClock::now();
    std::string outcome;
    if (::write(fd.get(), request.data(), request.size()) != static_cast<ssize_t>(request.size())) {
        outcome = fmt::format("not sent: the write failed ({})", std::strerror(errno));
    } else {
        const auto written = SteadyClock::now();
        const auto deadline = start + timeout;
        std::uint8_t buffer[4096];
        while (outcome.empty()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
            pollfd ready{fd.get(), POLLIN, 0};
            if (left.count() <= 0 || ::poll(&ready, 1, int(left.count()) + 1) <= 0) {
                outcome = fmt::format("no answer within {} ms", timeout.count());
                break;
            }
            const auto count = ::read(fd.get(), buffer, sizeof buffer);
            if (count < 0 && errno == EAGAIN) continue;
            if (count <= 0) {
                outcome = fmt::format("the node failed ({})", count < 0 ? std::strerror(errno) : "end of file");
                break;
            }
            splitHidrawReports(std::span<const std::uint8_t>(buffer, std::size_t(count)),
                               [&](std::span<const std::uint8_t> report) {
                if (!outcome.empty()) return;
                const auto inbound = HIDPPInbound::read(report, index);
                const auto ms = std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
                const auto writeMs = std::chrono::duration<double, std::milli>(written - start).count();
                if (const auto* reply = as<HIDPPInbound::Reply>(inbound);
                    reply && reply->featureIndex == 0 && reply->function == 1 && reply->payload[2] == data) {
                    how = PingOutcome::answered;
                    outcome = fmt::format("answered in {:.1f} ms (write {:.1f} ms), HID++ {}.{}", ms,
                                          writeMs, reply->payload[0], reply->payload[1]);
                } else if (const auto* error = as<HIDPPInbound::Error>(inbound);
                           error && error->featureIndex == 0 && error->function == 1) {
                    outcome = fmt::format("refused in {:.1f} ms with error 0x{:02X}", ms, error->code);
                } else if (report.size() >= 3 && report[0] == 0x10 && report[1] == index && report[2] == 0x8F) {
                    // A HID++ 1.0 error report: the device does not speak HID++ 2.0.
                    outcome = fmt::format("answered in {:.1f} ms as a HID++ 1.0 device", ms);
                }
            });
        }
    }
    return outcome;
}

const char* kindOf(const Entry& service) {
    if (service.property("ID_INPUT_TOUCHPAD") == "1") return "touch pad";
    if (service.property("ID_INPUT_MOUSE") == "1") return "mouse";
    if (service.property("ID_INPUT_KEYBOARD") == "1") return "keyboard";
    if (service.property("ID_INPUT_KEY") == "1") return "keys";
    return "other";
}

}  // namespace

DeviceCheck::Outcome DeviceCheck::run(const Options& options) {
    Outcome outcome;
    std::string& out = outcome.text;
    utsname system{};
    ::uname(&system);
    out += fmt::format("Tindlewave device check\nkernel {} {}, user {} (uid {})\n", system.sysname,
                       system.release, ::getpwuid(::geteuid()) ? ::getpwuid(::geteuid())->pw_name : "?",
                       ::geteuid());

    LinuxDeviceRegistry registry;
    const auto entries = registry.entries();

    out += "\nHID interfaces (hidraw):\n";
    int hidppMice = 0, answered = 0, notOpened = 0, interfaces = 0;
    for (const auto& entry : entries) {
        if (entry.kind != LinuxDeviceRegistry::Kind::interface || !entry.hid || !entry.present) continue;
        ++interfaces;
        const PropertyBag bag = linuxHIDProperties(entry, LinuxHIDSystem::rawName(entry.devnode));
        // Names come from the devices (and anything with uinput can name one): escaped, so that
        // none can move the cursor, clear the screen or make a line of its own.
        out += fmt::format("  {}  \"{}\"  {:04X}:{:04X}  {}  driver {}\n", terminalText(entry.devnode),
                           terminalText(textOf(bag, "Product")),
                           numberOf<unsigned>(bag, "VendorID").value_or(0),
                           numberOf<unsigned>(bag, "ProductID").value_or(0),
                           textOf(bag, "Transport").empty() ? "unknown bus" : textOf(bag, "Transport"),
                           entry.driver.empty() ? "none" : terminalText(entry.driver));
        out += fmt::format("    {}; read {}, write {}\n", ownerAndMode(entry.devnode),
                           access(entry.devnode, R_OK), access(entry.devnode, W_OK));
        out += fmt::format("    usages {}", pairsOf(bag, "DescriptorUsagePairs"));
        if (auto error = textOf(bag, "DescriptorError"); !error.empty())
            out += fmt::format(" (report descriptor unreadable: {})", error);
        out += "\n";
        const HIDProperties properties = HIDProperties::fromBag(bag);
        if (isReceiverInterface(entry)) {
            out += "    a receiver: its paired devices are checked on their own nodes\n";
        } else if (isHIDPPDevice(properties)) {
            ++hidppMice;
            const auto index = numberOf<std::uint8_t>(bag, "HIDPPDeviceIndex").value_or(hidppDeviceIndex);
            PingOutcome how = PingOutcome::otherwise;
            const std::string result = ping(entry.devnode, index, options.pingTimeout, how);
            if (how == PingOutcome::answered) ++answered;
            if (how == PingOutcome::notOpened) ++notOpened;
            const bool ownPage = pairsOf(bag, "DescriptorUsagePairs").find("0xFF43") != std::string::npos;
            out += fmt::format("    HID++ on page {}, device index 0x{:02X}; ping: {}\n",
                               ownPage ? "0xFF43" : "0xFF00 (taken as 0xFF43)", index, result);
        }
    }
    if (interfaces == 0) {
        out += ::access("/sys/class/hidraw", F_OK) == 0
                   ? "  none: the kernel lists no hidraw device\n"
                   : "  none: this system has no hidraw devices (/sys/class/hidraw is missing: no HID "
                     "device is connected, or the kernel has no hidraw support)\n";
    }

    out += "\nInput event nodes:\n";
    int services = 0;
    for (const auto& entry : entries) {
        if (entry.kind != LinuxDeviceRegistry::Kind::eventService) continue;
        ++services;
        out += fmt::format("  {}  {}  \"{}\"; read {}\n", terminalText(entry.devnode), kindOf(entry),
                           terminalText(entry.input ? entry.input->name : ""), access(entry.devnode, R_OK));
    }
    if (services == 0) {
        out += ::access("/dev/input", F_OK) == 0 ? "  none: /dev/input holds no event node\n"
                                                 : "  none: /dev/input is missing (no input devices, or "
                                                   "this runs in a container without them)\n";
    }

    // Posting events and the grabbed devices' mirrors: no node is a module not loaded, which no
    // rule brings; a node there but refused is what the device rule gives.
    out += fmt::format("\n{} (posting events, the mirrors of grabbed devices):\n", terminalText(options.uinput));
    if (::access(options.uinput.c_str(), F_OK) != 0) {
        out += fmt::format("  missing ({}): the uinput module is not loaded\n", std::strerror(errno));
        for (const auto& line : NodePermissionGrants::remedyTexts({.loadUinput = true}, ""))
            out += "  " + line + "\n";
    } else {
        const bool writable = ::access(options.uinput.c_str(), W_OK) == 0;
        const std::string write = writable ? "yes" : fmt::format("no ({})", std::strerror(errno));
        out += fmt::format("  present, {}; write {}\n", ownerAndMode(options.uinput), write);
        if (!writable)
            for (const auto& line :
                 NodePermissionGrants::remedyTexts({.installRule = true}, ": README, \"Using it with real devices\""))
                out += "  " + line + "\n";
    }

    out += "\nLogin session (logind):\n";
    auto session = LogindSessionWatch::open();
    if (auto* watch = std::get_if<std::unique_ptr<LogindSessionWatch>>(&session)) {
        out += fmt::format("  followed: {} ({})\n", (*watch)->isActive() ? "active" : "not active",
                           terminalText((*watch)->sessionPath()));
    } else {
        out += fmt::format("  not followed: {}. Switching to another user or console then does not "
                           "let go of the devices the program holds.\n",
                           terminalText(std::get<LogindSessionWatch::Unavailable>(session).reason));
    }

    out += "\n";
    if (hidppMice == 0) {
        out += "No HID++ mouse was found, so none could be checked.\n";
    } else {
        out += fmt::format("{} of {} HID++ mice answered.\n", answered, hidppMice);
        if (notOpened > 0)
            out += "A mouse that cannot be opened needs read and write access to its hidraw node.\n";
        if (const int silent = hidppMice - answered - notOpened; silent > 0) {
            out += fmt::format("{} opened but did not answer as a HID++ 2.0 mouse (its ping line says "
                               "how): access is not what stands in the way. A mouse asleep, switched "
                               "off or out of range answers once it is woken.\n",
                               silent == 1 ? "1 mouse" : std::to_string(silent) + " mice");
        }
    }
    outcome.status = hidppMice > 0 && answered == hidppMice ? 0 : 1;
    return outcome;
}

}  // namespace tindlewave
