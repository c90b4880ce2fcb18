#pragma once

#include <string>
#include <vector>

#include "Settings/Model/Texts/NumberFormat.h"

namespace tindlewave {

// The user's locale as the model's texts take it: how numbers are written, and how a list of
// names is joined ("Middle button and Back button" in US English).
NumberFormat localNumbers();
std::string joinedNames(const std::vector<std::string>& names);

}  // namespace tindlewave
