// This computer's devices: what keeps the program from them, their listing, and what the quit
// left grabbed.

#include "Program.h"

#include <fmt/format.h>

#include "Core/Devices/DeviceIdentity.h"
#include "Model/HexCoding.h"
#include "Platform/Linux/Devices/LinuxHIDProperties.h"
#include "Runtime/Worlds/LinuxWorld.h"

namespace tindlewave::headless {

void Program::startOverRealDevices() {
    printer_.line("devices: this computer's mice and keyboards (--simulate for simulated ones)");
    const auto problems = world_.linuxWorld()->problems();
    for (const auto& problem : problems) printer_.line("cannot use devices: " + problem);
    if (!problems.empty()) {
        printer_.line("install the device rule (" + std::string(udevRulePath) +
                      ") as the README says; devices are picked up once access comes");
    }
    listRealDevices();
}

void Program::listRealDevices() {
    int listed = 0;
    for (const auto& entry : world_.linuxWorld()->registry.entries()) {
        if (entry.kind != LinuxDeviceRegistry::Kind::interface || !entry.present) continue;
        const auto properties = HIDProperties::fromBag(linuxHIDProperties(entry));
        const bool keyboard = properties.kind() == DeviceKind::keyboard;
        printer_.line(fmt::format("device: {} ({}{}, {}:{})", properties.name.value_or("Unknown device"),
                                  keyboard ? "keyboard" : "mouse",
                                  isHIDPPDevice(properties) ? ", HID++" : "",
                                  hexText(properties.vendor.rawValue, 4),
                                  hexText(properties.product.rawValue, 4)));
        ++listed;
    }
    if (listed == 0) printer_.line("no devices found");
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
