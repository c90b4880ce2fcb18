#include "Platform/Linux/Devices/LinuxHIDProperties.h"

#include <charconv>
#include <cstdio>

#include "Core/Devices/ReportDescriptor.h"

namespace tindlewave {

namespace {

constexpr std::int64_t hidppVendor = 0x046D;
constexpr std::uint8_t hidppLongReport = 0x11;
constexpr std::uint8_t djShortReport = 0x20;
constexpr std::uint8_t djLongReport = 0x21;

struct HidID {
    unsigned bus = 0, vendor = 0, product = 0;
};

std::optional<HidID> parseHidID(const std::string& text) {
    HidID id;
    if (std::sscanf(text.c_str(), "%x:%x:%x", &id.bus, &id.vendor, &id.product) != 3) return std::nullopt;
    return id;
}

std::uint32_t fnv1a(const std::string& text) {
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 16777619u;
    }
    return hash;
}

std::optional<int> pairingSlot(const LinuxDeviceRegistry::Entry& interface) {
    if (interface.parentHidDriver != receiverDriver) return std::nullopt;
    const std::string phys = interface.property("HID_PHYS");
    const auto colon = phys.rfind(':');
    if (colon == std::string::npos) return std::nullopt;
    int slot = 0;
    auto [end, error] = std::from_chars(phys.data() + colon + 1, phys.data() + phys.size(), slot);
    if (error != std::errc() || end != phys.data() + phys.size() || slot < 1 || slot > 0xFE)
        return std::nullopt;
    return slot;
}

PropertyBag pairBag(const UsagePair& pair) {
    return {{"DeviceUsagePage", pair.page}, {"DeviceUsage", pair.usage}};
}

// An application on a vendor page carrying the HID++ long report (19 data bytes).
bool carriesHIDPP(const ReportDescriptorInfo& info) {
    if (info.inputReportBytes(hidppLongReport) != 19) return false;
    for (const auto& application : info.applications) {
        if (application.usage.page < 0xFF00) continue;
        for (auto id : application.inputReportIDs)
            if (id == hidppLongReport) return true;
    }
    return false;
}

bool carriesDJReports(const ReportDescriptorInfo& info) {
    return info.inputReportBytes(djShortReport) > 0 || info.inputReportBytes(djLongReport) > 0;
}

}  // namespace

std::uint32_t usbLocationID(std::uint32_t busnum, const std::string& devpath) {
    std::uint32_t location = (busnum & 0xFF) << 24;
    int shift = 20;
    std::size_t at = 0;
    while (at < devpath.size() && shift >= 0) {
        unsigned port = 0;
        auto [end, error] = std::from_chars(devpath.data() + at, devpath.data() + devpath.size(), port);
        if (error != std::errc()) break;
        location |= (port & 0xF) << shift;
        shift -= 4;
        at = std::size_t(end - devpath.data());
        if (at < devpath.size() && devpath[at] == '.') ++at;
    }
    return location;
}

bool isReceiverInterface(const LinuxDeviceRegistry::Entry& interface) {
    if (interface.driver == receiverDriver) return true;
    // A receiver left to a generic driver still shows its receiver reports.
    auto info = readReportDescriptor(interface.reportDescriptor);
    return info && carriesDJReports(*info) && interface.parentHidDriver != receiverDriver;
}

PropertyBag linuxHIDProperties(const LinuxDeviceRegistry::Entry& interface,
                               const std::string& rawName) {
    PropertyBag bag;
    std::vector<UsagePair> pairs;
    std::optional<unsigned> bus;

    if (interface.hid) {
        if (auto id = parseHidID(interface.property("HID_ID"))) {
            bus = id->bus;
            bag["VendorID"] = std::int64_t(id->vendor & 0xFFFF);
            bag["ProductID"] = std::int64_t(id->product & 0xFFFF);
        }
        const std::string name = rawName.empty() ? interface.property("HID_NAME") : rawName;
        if (!name.empty()) bag["Product"] = name;
        auto info = readReportDescriptor(interface.reportDescriptor);
        if (info) {
            std::vector<PropertyBag> own;
            for (const auto& application : info->applications) {
                pairs.push_back(application.usage);
                own.push_back(pairBag(application.usage));
            }
            bag["DescriptorUsagePairs"] = std::move(own);
            if (auto size = info->maxInputReportSize()) bag["MaxInputReportSize"] = std::int64_t(size);
            const bool hidppVendorDevice =
                bag.contains("VendorID") && *as<std::int64_t>(bag["VendorID"]) == hidppVendor;
            bool hasHIDPPPage = false;
            for (const auto& pair : pairs) hasHIDPPPage = hasHIDPPPage || pair.page == usages::hidppPage;
            if (hidppVendorDevice && !hasHIDPPPage && carriesHIDPP(*info) &&
                !isReceiverInterface(interface))
                pairs.push_back({usages::hidppPage, 0x0202});
        } else {
            bag["DescriptorError"] = info.error();
        }
        if (auto slot = pairingSlot(interface)) bag["HIDPPDeviceIndex"] = std::int64_t(*slot);
    } else if (interface.input) {
        bus = interface.input->bustype;
        bag["VendorID"] = std::int64_t(interface.input->vendor);
        bag["ProductID"] = std::int64_t(interface.input->product);
        if (!interface.input->name.empty()) bag["Product"] = interface.input->name;
        if (interface.property("ID_INPUT_KEYBOARD") == "1") pairs.push_back(usages::keyboard);
        if (interface.property("ID_INPUT_MOUSE") == "1") pairs.push_back(usages::mouse);
        if (interface.property("ID_INPUT_TOUCHPAD") == "1") pairs.push_back(usages::touchPad);
    }

    // Transport, built-in and location, from the bus.
    bool builtIn = false;
    std::optional<std::uint32_t> location;
    if (bus == 0x03) {
        bag["Transport"] = "USB";
        if (interface.usb) {
            builtIn = interface.usb->removable == "fixed";
            location = usbLocationID(interface.usb->busnum, interface.usb->devpath);
            if (auto slot = pairingSlot(interface)) *location += std::uint32_t(*slot);
        }
    } else if (bus == 0x05) {
        const bool lowEnergy = interface.syspath.find("/devices/virtual/misc/uhid/") != std::string::npos;
        bag["Transport"] = lowEnergy ? "Bluetooth Low Energy" : "Bluetooth";
        const std::string address = interface.property("HID_UNIQ");
        if (!address.empty()) location = fnv1a(address);
    } else if (bus == 0x18) {
        bag["Transport"] = "I2C";
        builtIn = true;
    } else if (bus == 0x1C) {
        bag["Transport"] = "SPI";
        builtIn = true;
    } else if (bus == 0x11) {
        bag["Transport"] = "i8042";
        builtIn = true;
    }
    bag["Built-In"] = std::int64_t(builtIn ? 1 : 0);
    if (location) bag["LocationID"] = std::int64_t(*location);

    if (!pairs.empty()) {
        bag["PrimaryUsagePage"] = pairs.front().page;
        bag["PrimaryUsage"] = pairs.front().usage;
        std::vector<PropertyBag> all;
        for (const auto& pair : pairs) all.push_back(pairBag(pair));
        bag["DeviceUsagePairs"] = std::move(all);
    }
    return bag;
}

}  // namespace tindlewave
