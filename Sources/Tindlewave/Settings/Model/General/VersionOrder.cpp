#include "Settings/Model/General/VersionOrder.h"

#include <algorithm>
#include <charconv>

namespace tindlewave {

std::optional<std::vector<unsigned long>> VersionOrder::parts(std::string_view version) {
    if (!version.empty() && (version.front() == 'v' || version.front() == 'V')) version.remove_prefix(1);
    std::vector<unsigned long> numbers;
    while (true) {
        const auto dot = version.find('.');
        const std::string_view part = version.substr(0, dot);
        unsigned long number = 0;
        const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), number);
        if (part.empty() || error != std::errc{} || end != part.data() + part.size()) return std::nullopt;
        numbers.push_back(number);
        if (dot == std::string_view::npos) return numbers;
        version.remove_prefix(dot + 1);
    }
}

bool VersionOrder::isNewer(std::string_view candidate, std::string_view current) {
    auto a = parts(candidate), b = parts(current);
    if (!a || !b) return false;
    const std::size_t length = std::max(a->size(), b->size());
    a->resize(length, 0);
    b->resize(length, 0);
    return *a > *b;
}

}  // namespace tindlewave
