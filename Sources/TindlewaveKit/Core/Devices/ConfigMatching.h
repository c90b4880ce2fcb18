#pragma once

#include <string>

namespace tindlewave {

struct Config;
struct DeviceMatch;
struct DeviceProfile;
struct HIDProperties;

// Whether a match names the device with these properties. A built-in device matches only
// `builtIn`, never a vendor and product match, even with the same ids.
bool matches(const DeviceMatch& match, const HIDProperties& properties);

// The profile that configures a device: none when an ignored entry matches it, else the first
// matching profile in file order. The result points into `config`.
const DeviceProfile* profileFor(const Config& config, const HIDProperties& properties);

// The match that names a device: `builtIn` for a built-in device, else its vendor and product.
DeviceMatch deviceMatch(const HIDProperties& properties);

// The hidutil matching text that finds a device's keyboard services, for example
// {"VendorID":0x46D,"ProductID":0xB023,"PrimaryUsagePage":1,"PrimaryUsage":6}.
std::string hidutilKeyboardMatching(const DeviceMatch& match);

}  // namespace tindlewave
