#pragma once

#include <cstdint>
#include <string>

#include "Core/Devices/PropertyBag.h"
#include "Platform/Linux/Devices/LinuxDeviceRegistry.h"

namespace tindlewave {

// The properties of an interface entry of the registry, as the hub and the sessions read them
// ("VendorID", "Transport", "DeviceUsagePairs", "MaxInputReportSize", "HIDPPDeviceIndex", …),
// from what udev, sysfs and the report descriptor say. `rawName` is the node's own name
// (HIDIOCGRAWNAME; a driver may rename a device after udev saw it), empty when unknown.
//
// A HID++ mouse paired to a receiver carries HID++ on the vendor page 0xFF00; such an interface
// (vendor 0x046D, a vendor-page collection with a 19-byte input report 0x11, not a receiver) is
// given the HID++ pair (0xFF43, 0x0202) the hub looks for, and its pairing slot as
// "HIDPPDeviceIndex" when a receiver's driver is above it. The descriptor's own pairs stay in
// "DescriptorUsagePairs"; a descriptor that cannot be read is named in "DescriptorError".
PropertyBag linuxHIDProperties(const LinuxDeviceRegistry::Entry& interface,
                               const std::string& rawName = {});

// The HID++ receiver driver's name, and whether an interface is a receiver's own.
inline constexpr const char* receiverDriver = "logitech-djreceiver";
bool isReceiverInterface(const LinuxDeviceRegistry::Entry& interface);

// The 32-bit location of a USB port: bus in the top byte, then one nibble per port from the root.
std::uint32_t usbLocationID(std::uint32_t busnum, const std::string& devpath);

}  // namespace tindlewave
