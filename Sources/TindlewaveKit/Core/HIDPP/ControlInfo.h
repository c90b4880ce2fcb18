#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "Model/Capabilities.h"

namespace tindlewave {

// Reads the payload of a control-info reply: the CID, whether it can be diverted and whether it
// can report raw movement. A virtual control, or a payload shorter than a reply's, gives nothing.
std::optional<HIDPPCapabilities::Control> controlFromCidInfo(std::span<const std::uint8_t> cidInfo);

}  // namespace tindlewave
