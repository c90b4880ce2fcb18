#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string_view>

#include "Core/Keys/KeyRoutes.h"

namespace tindlewave {

// hidutil's printed UserKeyMapping, per keyboard service.
namespace HidutilReadback {

// Service registry id to the pairs it reported; a service with no mapping has an empty set.
using Services = std::map<std::uint64_t, std::set<KeyMapSetup::Pair>>;

// Reads the table hidutil prints for `property --matching … --get UserKeyMapping`: a row per
// service ("<hex id> UserKeyMapping (" or "… (null)") followed by its entries, each a brace
// block with "HIDKeyboardModifierMappingSrc = n;" and "…Dst = n;" in either order (decimal, or
// hexadecimal after "0x"). Incomplete entries and lines it does not know are skipped; output it
// does not understand at all gives no services.
Services parse(std::string_view output);

}  // namespace HidutilReadback

}  // namespace tindlewave
