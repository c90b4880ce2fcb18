#include "Core/Devices/DeviceIdentity.h"

#include <algorithm>

#include "Model/Hash.h"

namespace tindlewave {

namespace {

// An integer under `key`; a boolean counts as 0 or 1. Absent for anything else.
std::optional<std::int64_t> integer(const PropertyBag& bag, const std::string& key) {
    const auto found = bag.find(key);
    if (found == bag.end()) return std::nullopt;
    if (const auto* number = as<std::int64_t>(found->second)) return *number;
    if (const auto* flag = as<bool>(found->second)) return *flag ? 1 : 0;
    return std::nullopt;
}

std::int64_t number(const PropertyBag& bag, const std::string& key) {
    return integer(bag, key).value_or(0);
}

std::optional<std::string> text(const PropertyBag& bag, const std::string& key) {
    const auto found = bag.find(key);
    if (found == bag.end()) return std::nullopt;
    if (const auto* value = as<std::string>(found->second)) return *value;
    return std::nullopt;
}

std::vector<UsagePair> usagePairsOf(const PropertyBag& bag) {
    std::vector<UsagePair> pairs;
    const auto found = bag.find("DeviceUsagePairs");
    if (found == bag.end()) return pairs;
    const auto* list = as<std::vector<PropertyBag>>(found->second);
    if (list == nullptr) return pairs;
    for (const PropertyBag& entry : *list) {
        const auto page = integer(entry, "DeviceUsagePage");
        const auto usage = integer(entry, "DeviceUsage");
        if (page && usage) pairs.push_back({*page, *usage});
    }
    return pairs;
}

}  // namespace

HIDProperties HIDProperties::fromBag(const PropertyBag& bag) {
    HIDProperties properties;
    properties.vendor = VendorID{static_cast<std::uint16_t>(number(bag, "VendorID"))};
    properties.product = ProductID{static_cast<std::uint16_t>(number(bag, "ProductID"))};
    properties.builtIn = number(bag, "Built-In") == 1;
    properties.transport = text(bag, "Transport");
    if (const auto location = integer(bag, "LocationID")) {
        properties.locationID = static_cast<std::uint32_t>(*location);
    }
    properties.name = text(bag, "Product");
    properties.primaryUsagePage = number(bag, "PrimaryUsagePage");
    properties.primaryUsage = number(bag, "PrimaryUsage");
    properties.usagePairs = usagePairsOf(bag);
    if (properties.usagePairs.empty()) properties.usagePairs.push_back(properties.primaryPair());
    return properties;
}

bool HIDProperties::hasUsage(UsagePair pair) const {
    return std::find(usagePairs.begin(), usagePairs.end(), pair) != usagePairs.end();
}

DeviceKind HIDProperties::kind() const {
    if (!hasUsage(usages::keyboard)) return DeviceKind::mouse;
    if (builtIn) return DeviceKind::keyboard;
    return hasUsage(usages::mouse) ? DeviceKind::mouse : DeviceKind::keyboard;
}

bool speaksHIDPP(const PresentDevice& device) {
    return device.hasHIDPPInterface || isHIDPPDevice(device.properties);
}

bool isHIDPPDevice(const HIDProperties& properties) {
    return properties.vendor == VendorID::logitech &&
           std::any_of(properties.usagePairs.begin(), properties.usagePairs.end(),
                       [](const UsagePair& pair) { return pair.page == usages::hidppPage; });
}

DeviceKey HIDProperties::key() const {
    return {vendor, product, builtIn, locationID, transport};
}

}  // namespace tindlewave

std::size_t std::hash<tindlewave::UsagePair>::operator()(
    const tindlewave::UsagePair& pair) const noexcept {
    std::size_t seed = tindlewave::hashOf(pair.page);
    tindlewave::hashCombine(seed, tindlewave::hashOf(pair.usage));
    return seed;
}

std::size_t std::hash<tindlewave::DeviceKey>::operator()(
    const tindlewave::DeviceKey& key) const noexcept {
    using tindlewave::hashCombine, tindlewave::hashOf;
    std::size_t seed = hashOf(key.vendor);
    hashCombine(seed, hashOf(key.product));
    hashCombine(seed, hashOf(key.builtIn));
    hashCombine(seed, hashOf(key.locationID));
    hashCombine(seed, hashOf(key.transport));
    return seed;
}
