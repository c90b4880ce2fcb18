#pragma once

#include <vector>

#include "Core/Devices/PropertyBag.h"

namespace tindlewave {

// Whether an interface's properties match any of a list of matching maps: every property of one
// map is present with an equal value, and "DeviceUsagePage" (with "DeviceUsage", when given)
// matches any of the interface's "DeviceUsagePairs". Every HID system matches this way.
bool matchesAny(const PropertyBag& properties, const std::vector<PropertyBag>& matching);

}  // namespace tindlewave
