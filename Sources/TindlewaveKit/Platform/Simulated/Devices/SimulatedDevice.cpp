#include "Platform/Simulated/Devices/SimulatedDevice.h"

#include <algorithm>

namespace tindlewave {

bool SimulatedInterface::hasUsage(std::int64_t page, std::int64_t usage) const {
    if (usagePairs.empty()) return primaryUsagePage == page && primaryUsage == usage;
    return std::find(usagePairs.begin(), usagePairs.end(), std::pair{page, usage}) !=
           usagePairs.end();
}

SimulatedDevice SimulatedDevice::hidppMouse(const VirtualMouseDescription& mouse,
                                            std::uint32_t locationID) {
    SimulatedInterface interface;
    interface.usagePairs = {{1, 2}, {simulatedHIDPPUsagePage, simulatedHIDPPUsage}};
    interface.hidpp = mouse;
    SimulatedDevice device;
    device.vendor = mouse.vendorID;
    device.product = mouse.productID;
    if (!mouse.name.empty()) device.name = mouse.name;
    device.transport = mouse.connection == "bluetooth" ? "Bluetooth Low Energy" : "USB";
    device.locationID = locationID;
    device.interfaces = {std::move(interface)};
    return device;
}

SimulatedDevice SimulatedDevice::builtInKeyboard() {
    SimulatedDevice device = externalKeyboard(0x05AC, 0x0342, "Built-in Keyboard", 0x00100000);
    device.builtIn = true;
    device.transport = "SPI";
    return device;
}

SimulatedDevice SimulatedDevice::externalKeyboard(std::uint16_t vendor, std::uint16_t product,
                                                  std::optional<std::string> name,
                                                  std::uint32_t locationID) {
    SimulatedInterface interface;
    interface.primaryUsage = 6;
    interface.usagePairs = {{1, 6}};
    return {vendor, product, std::move(name), "USB", false, locationID, {interface}};
}

SimulatedDevice SimulatedDevice::plainMouse(std::uint16_t vendor, std::uint16_t product,
                                            std::optional<std::string> name,
                                            std::uint32_t locationID) {
    SimulatedInterface interface;
    interface.usagePairs = {{1, 2}};
    return {vendor, product, std::move(name), "USB", false, locationID, {interface}};
}

SimulatedDevice SimulatedDevice::receiver(std::uint16_t vendor, std::uint16_t product,
                                          std::optional<std::string> name,
                                          std::uint32_t locationID) {
    SimulatedDevice device = plainMouse(vendor, product, std::move(name), locationID);
    SimulatedInterface keyboard;
    keyboard.primaryUsage = 6;
    keyboard.usagePairs = {{1, 6}};
    SimulatedInterface consumer;
    consumer.primaryUsagePage = 0x0C;
    consumer.primaryUsage = 1;
    consumer.usagePairs = {{0x0C, 1}};
    device.interfaces.push_back(keyboard);
    device.interfaces.push_back(consumer);
    return device;
}

PropertyBag SimulatedDevice::properties(const SimulatedInterface& interface) const {
    PropertyBag bag;
    bag["VendorID"] = vendor;
    bag["ProductID"] = product;
    if (builtIn) bag["Built-In"] = 1;
    bag["Transport"] = transport;
    bag["LocationID"] = locationID;
    if (name) bag["Product"] = *name;
    bag["PrimaryUsagePage"] = interface.primaryUsagePage;
    bag["PrimaryUsage"] = interface.primaryUsage;
    std::vector<PropertyBag> pairs;
    if (interface.usagePairs.empty()) {
        pairs.push_back({{"DeviceUsagePage", interface.primaryUsagePage},
                         {"DeviceUsage", interface.primaryUsage}});
    }
    for (const auto& [page, usage] : interface.usagePairs) {
        pairs.push_back({{"DeviceUsagePage", page}, {"DeviceUsage", usage}});
    }
    bag["DeviceUsagePairs"] = std::move(pairs);
    if (interface.maxInputReportSize) bag["MaxInputReportSize"] = *interface.maxInputReportSize;
    // A mouse paired to a receiver is reached at its slot, as a receiver's driver tells it.
    if (interface.hidpp && interface.hidpp->deviceIndex != 0xFF) {
        bag["HIDPPDeviceIndex"] = std::int64_t(interface.hidpp->deviceIndex);
    }
    return bag;
}

}  // namespace tindlewave
