#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tindlewave {

// The program's version, as the build was given it ("0.1.0").
std::string_view buildVersion();
// The update feed's address the build was given; none in the default build (updates off).
std::optional<std::string> updateFeedURL();

}  // namespace tindlewave
