#include "Core/Devices/ConfigMatching.h"

#include <algorithm>

#include "Core/Devices/DeviceIdentity.h"
#include "Model/Config.h"
#include "Model/HexCoding.h"

namespace tindlewave {

bool matches(const DeviceMatch& match, const HIDProperties& properties) {
    if (is<DeviceMatch::BuiltIn>(match)) return properties.builtIn;
    const auto& device = std::get<DeviceMatch::Device>(match.value);
    return !properties.builtIn && device.vendor == properties.vendor &&
           device.product == properties.product;
}

const DeviceProfile* profileFor(const Config& config, const HIDProperties& properties) {
    const auto fits = [&](const DeviceMatch& match) { return matches(match, properties); };
    if (std::any_of(config.ignored.begin(), config.ignored.end(), fits)) return nullptr;
    const auto found = std::find_if(config.devices.begin(), config.devices.end(),
                                    [&](const DeviceProfile& p) { return fits(p.match); });
    return found == config.devices.end() ? nullptr : &*found;
}

DeviceMatch deviceMatch(const HIDProperties& properties) {
    if (properties.builtIn) return DeviceMatch::builtIn();
    return DeviceMatch::device(properties.vendor, properties.product);
}

std::string hidutilKeyboardMatching(const DeviceMatch& match) {
    static const std::string keyboardUsage = R"("PrimaryUsagePage":1,"PrimaryUsage":6)";
    if (is<DeviceMatch::BuiltIn>(match)) return R"({"Built-In":1,)" + keyboardUsage + "}";
    const auto& device = std::get<DeviceMatch::Device>(match.value);
    return R"({"VendorID":)" + hexText(device.vendor.rawValue) + R"(,"ProductID":)" +
           hexText(device.product.rawValue) + "," + keyboardUsage + "}";
}

}  // namespace tindlewave
