#pragma once

#include "Model/Config.h"
#include "Model/Json/JsonReader.h"

namespace tindlewave::json {

// Reads a configuration from a parsed document, object by object in each record's field order, and
// converts the older keys while it reads. Throws ReadFailure at the first structural fault; checks
// nothing that validation checks.
Config readConfig(const Json& document);

// The older keys, read into current records (a "smooth" object without a "curve", a device's
// "scrolling"."rightButtonPan").
SpeedCurve readLegacyCurve(const Json::object_t& smooth, const JsonPath& smoothPath,
                           double duration);
void convertRightButtonPan(const Json::object_t& device, const JsonPath& devicePath,
                           DeviceProfile& profile);

}  // namespace tindlewave::json
