#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Core/Devices/PropertyBag.h"
#include "Platform/Simulated/HID/VirtualMouseDescription.h"

namespace tindlewave {

// One HID interface of a simulated device: its own properties (the device's ids, name, transport
// and location are added when it is attached) and what sits below it.
struct SimulatedInterface {
    std::int64_t primaryUsagePage = 1;
    std::int64_t primaryUsage = 2;
    // The interface's top-level collections; the primary pair alone when empty.
    std::vector<std::pair<std::int64_t, std::int64_t>> usagePairs;
    // "MaxInputReportSize"; absent leaves the property out.
    std::optional<std::int64_t> maxInputReportSize = 20;
    int eventServices = 1;  // event services published below the interface
    // Present: the interface speaks HID++ as this mouse.
    std::optional<VirtualMouseDescription> hidpp;

    bool hasUsage(std::int64_t page, std::int64_t usage) const;
};

// A simulated device: what a plain HID device or a recorded mouse presents. Interfaces of one
// device share its vendor, product, built-in flag, transport and location, so the hub groups them.
struct SimulatedDevice {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::optional<std::string> name;
    std::string transport = "USB";
    bool builtIn = false;
    std::uint32_t locationID = 0;
    std::vector<SimulatedInterface> interfaces;

    // A recorded (or made-up) HID++ mouse: one interface carrying the mouse collection and the
    // HID++ vendor collection (0xFF43), "MaxInputReportSize" 20, one event service.
    static SimulatedDevice hidppMouse(const VirtualMouseDescription& mouse,
                                      std::uint32_t locationID);
    // The built-in keyboard ("Built-In": 1, keyboard collection, transport "SPI").
    static SimulatedDevice builtInKeyboard();
    static SimulatedDevice externalKeyboard(std::uint16_t vendor, std::uint16_t product,
                                            std::optional<std::string> name,
                                            std::uint32_t locationID);
    static SimulatedDevice plainMouse(std::uint16_t vendor, std::uint16_t product,
                                      std::optional<std::string> name, std::uint32_t locationID);

    // A device of several interfaces, as a wireless receiver presents itself: a mouse interface,
    // a keyboard interface and a consumer-control interface, each with one event service.
    static SimulatedDevice receiver(std::uint16_t vendor, std::uint16_t product,
                                    std::optional<std::string> name, std::uint32_t locationID);

    // The properties an interface of this device presents.
    PropertyBag properties(const SimulatedInterface& interface) const;
};

// The HID++ vendor collection of a simulated HID++ interface.
inline constexpr std::int64_t simulatedHIDPPUsagePage = 0xFF43;
inline constexpr std::int64_t simulatedHIDPPUsage = 0x0202;

}  // namespace tindlewave
