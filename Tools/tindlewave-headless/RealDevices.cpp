// This computer's devices: what keeps the program from them, their listing, and what the quit
// left grabbed.

#include "Program.h"

#include <fmt/format.h>

#include "Core/Devices/DeviceIdentity.h"
#include "Model/HexCoding.h"
#include "Platform/Linux/Devices/LinuxHIDProperties.h"
#include "Platform/Linux/Input/LinuxEventSystem.h"
#include "Platform/Linux/System/Files.h"
#include "Runtime/Worlds/LinuxWorld.h"

namespace tindlewave::headless {

void Program::startOverRealDevices() {
    printer_.line("devices: this computer's mice and keyboards (--simulate for simulated ones)");
    const auto problems = world_.linuxWorld()->problems();
    for (const auto& problem : problems) printer_.line("cannot use devices: " + problem);
    if (!problems.empty()) {
        const auto remedies = NodePermissionGrants::remedyTexts(
            world_.linuxWorld()->grants.remedies(), ": README, \"Using it with real devices\"");
        for (const auto& remedy : remedies) printer_.line("to use them: " + remedy);
        printer_.line("devices are picked up once access comes, without a restart");
    }
    listRealDevices();
}

namespace {

using Entry = LinuxDeviceRegistry::Entry;

enum class Listed { mouse, keyboard, receiver, other };

// What an interface is to the listing: by the event nodes below it (and an input device without
// HID by its own marks), as udev marks them: a mouse has relative axes and buttons, a keyboard a
// keyboard's keys; touch pads, tablets and the like are neither. A HID interface without event
// nodes is what its collections say, a HID++ one a mouse's; a receiver's own is a receiver.
Listed listedKind(const Entry& interface, const std::vector<Entry>& entries) {
    if (interface.hid && isReceiverInterface(interface)) return Listed::receiver;
    bool nodes = !interface.hid, mouse = false, keyboard = false;
    auto look = [&](const Entry& node) {
        const auto kind = eventNodeKind(node);
        mouse = mouse || kind == EventNodeInfo::Kind::mouse;
        keyboard = keyboard || kind == EventNodeInfo::Kind::keyboard;
    };
    for (const auto& entry : entries) {
        if (entry.kind != LinuxDeviceRegistry::Kind::eventService || entry.parent != interface.id) continue;
        nodes = true;
        look(entry);
    }
    if (!interface.hid) look(interface);
    if (mouse) return Listed::mouse;
    if (keyboard) return Listed::keyboard;
    if (nodes) return Listed::other;  // a touch pad, a tablet, a power button
    const auto properties = HIDProperties::fromBag(linuxHIDProperties(interface));
    if (properties.hasUsage(usages::mouse) || isHIDPPDevice(properties)) return Listed::mouse;
    if (properties.hasUsage(usages::keyboard)) return Listed::keyboard;
    return Listed::other;
}

// The interface's name as the kernel has it now: a driver may rename a device after udev
// announced it (a paired mouse gets its own name once it answers), and the registry keeps what
// udev said. Empty when sysfs does not say.
std::string currentName(const Entry& interface) {
    if (!interface.hid) {
        auto name = files::read(interface.syspath + "/name", 4096);
        if (!name.ok()) return {};
        std::string text = *name;
        while (!text.empty() && text.back() == '\n') text.pop_back();
        return text;
    }
    auto uevent = files::read(interface.syspath + "/uevent", 64 * 1024);
    if (!uevent.ok()) return {};
    std::string_view text = *uevent;
    constexpr std::string_view key = "HID_NAME=";
    while (!text.empty()) {
        const auto end = text.find('\n');
        const auto line = text.substr(0, end);
        if (line.starts_with(key)) return std::string(line.substr(key.size()));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return {};
}

}  // namespace

void Program::listRealDevices() {
    int listed = 0;
    std::vector<std::string> others;
    const auto entries = world_.linuxWorld()->registry.entries();
    for (const auto& entry : entries) {
        if (entry.kind != LinuxDeviceRegistry::Kind::interface || !entry.present) continue;
        const auto properties = HIDProperties::fromBag(linuxHIDProperties(entry, currentName(entry)));
        std::string name = properties.name.value_or("Unknown device");
        if (!entry.hid) {
            if (auto current = currentName(entry); !current.empty()) name = current;
        }
        const Listed kind = listedKind(entry, entries);
        if (kind == Listed::other) {
            others.push_back(name);
            continue;
        }
        printer_.line(fmt::format("device: {} ({}{}, {}:{})", name,
                                  kind == Listed::mouse      ? "mouse"
                                  : kind == Listed::keyboard ? "keyboard"
                                                             : "receiver",
                                  kind != Listed::receiver && isHIDPPDevice(properties) ? ", HID++" : "",
                                  hexText(properties.vendor.rawValue, 4),
                                  hexText(properties.product.rawValue, 4)));
        ++listed;
    }
    if (listed == 0) printer_.line("no devices found");
    if (!others.empty()) {
        std::string names;
        for (const auto& name : others) names += (names.empty() ? "" : ", ") + name;
        printer_.line("not listed, neither mice nor keyboards: " + names);
    }
}

void Program::reportRealDevicesAtExit() {
    tap_.post([this] {
        const auto grabbed = world_.linuxWorld()->events.grabbedNodes();
        main_.post([this, grabbed] {
            report({fmt::format("at exit, event system: {} nodes grabbed", grabbed.size())});
        });
    });
}

}  // namespace tindlewave::headless
