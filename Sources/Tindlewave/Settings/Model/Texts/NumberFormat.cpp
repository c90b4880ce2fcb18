#include "Settings/Model/Texts/NumberFormat.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

namespace tindlewave {

std::string NumberFormat::fixed(double value, int minFraction, int maxFraction) const {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-\u221E" : "\u221E";
    maxFraction = std::clamp(maxFraction, 0, 15);
    minFraction = std::clamp(minFraction, 0, maxFraction);

    std::string digits = fmt::format("{:.{}f}", std::fabs(value), maxFraction);
    std::string whole = digits;
    std::string fraction;
    if (auto dot = digits.find('.'); dot != std::string::npos) {
        whole = digits.substr(0, dot);
        fraction = digits.substr(dot + 1);
    }
    while (static_cast<int>(fraction.size()) > minFraction && fraction.back() == '0')
        fraction.pop_back();
    const bool zero =
        std::all_of(digits.begin(), digits.end(), [](char c) { return c == '0' || c == '.'; });

    std::string text = (value < 0 && !zero) ? "-" : "";
    for (std::size_t i = 0; i < whole.size(); ++i) {
        if (i > 0 && (whole.size() - i) % 3 == 0) text += groupSeparator;
        text += whole[i];
    }
    if (!fraction.empty()) text += decimalPoint + fraction;
    return text;
}

}  // namespace tindlewave
