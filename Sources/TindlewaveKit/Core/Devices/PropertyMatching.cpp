#include "Core/Devices/PropertyMatching.h"

#include <algorithm>

namespace tindlewave {

namespace {

// Whether the interface has a usage pair with this page (and usage, when given).
bool hasPair(const PropertyBag& properties, const PropertyValue& page, const PropertyValue* usage) {
    const auto pairs = properties.find("DeviceUsagePairs");
    if (pairs == properties.end()) return false;
    const auto* list = as<std::vector<PropertyBag>>(pairs->second);
    if (list == nullptr) return false;
    return std::any_of(list->begin(), list->end(), [&](const PropertyBag& pair) {
        const auto p = pair.find("DeviceUsagePage");
        const auto u = pair.find("DeviceUsage");
        return p != pair.end() && p->second == page &&
               (usage == nullptr || (u != pair.end() && u->second == *usage));
    });
}

}  // namespace

bool matchesAny(const PropertyBag& properties, const std::vector<PropertyBag>& matching) {
    return std::any_of(matching.begin(), matching.end(), [&](const PropertyBag& wanted) {
        const auto page = wanted.find("DeviceUsagePage");
        const auto usage = wanted.find("DeviceUsage");
        for (const auto& [key, value] : wanted) {
            if (key == "DeviceUsagePage" || key == "DeviceUsage") continue;
            const auto found = properties.find(key);
            if (found == properties.end() || !(found->second == value)) return false;
        }
        if (page == wanted.end()) return true;
        return hasPair(properties, page->second, usage == wanted.end() ? nullptr : &usage->second);
    });
}

}  // namespace tindlewave
