#pragma once

#include <string>

namespace tindlewave {

// How a locale writes numbers: its decimal point and its group separator (empty: no grouping).
// The views fill it from the user's locale; the model writes numbers with it and stays free of
// any toolkit.
struct NumberFormat {
    std::string decimalPoint = ".";
    std::string groupSeparator = ",";

    // US English: "1,234.5".
    static NumberFormat enUS() { return {}; }

    // The number with at least `minFraction` and at most `maxFraction` fraction digits, grouped
    // in threes. A value that rounds to zero carries no sign.
    std::string fixed(double value, int minFraction, int maxFraction) const;

    bool operator==(const NumberFormat&) const = default;
};

}  // namespace tindlewave
