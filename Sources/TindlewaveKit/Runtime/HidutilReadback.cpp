#include "Runtime/HidutilReadback.h"

#include <charconv>
#include <optional>
#include <string_view>
#include <vector>

namespace tindlewave::HidutilReadback {
namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::vector<std::string_view> tokens(std::string_view line) {
    std::vector<std::string_view> result;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isSpace(line[i])) ++i;
        std::size_t start = i;
        while (i < line.size() && !isSpace(line[i])) ++i;
        if (i > start) result.push_back(line.substr(start, i - start));
    }
    return result;
}

std::optional<std::uint64_t> number(std::string_view text, int base) {
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// An assigned value: the trailing ";" goes (only when there is one), then "0x" means hexadecimal.
std::optional<std::uint64_t> assignedValue(std::string_view text) {
    if (!text.empty() && text.back() == ';') text.remove_suffix(1);
    if (text.starts_with("0x")) return number(text.substr(2), 16);
    return number(text, 10);
}

}  // namespace

Services parse(std::string_view output) {
    Services services;
    // Plain values with flags: the optimiser misjudges optionals read under a joint condition.
    bool hasCurrent = false, hasSource = false, hasDestination = false;
    std::uint64_t current = 0, source = 0, destination = 0;

    std::size_t start = 0;
    while (start <= output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string_view::npos) end = output.size();
        auto line = tokens(output.substr(start, end - start));
        start = end + 1;
        if (line.empty()) continue;

        if (line.size() >= 2 && line[1] == "UserKeyMapping") {
            if (auto id = number(line[0], 16)) {
                hasCurrent = true;
                current = *id;
                services[*id].clear();
                continue;
            }
        }
        if (line.size() == 3 && line[1] == "=") {
            if (auto value = assignedValue(line[2])) {
                if (line[0] == "HIDKeyboardModifierMappingSrc") {
                    hasSource = true;
                    source = *value;
                }
                if (line[0] == "HIDKeyboardModifierMappingDst") {
                    hasDestination = true;
                    destination = *value;
                }
                continue;
            }
        }
        if (line[0].starts_with("}")) {
            if (hasCurrent && hasSource && hasDestination) {
                services[current].insert({source, destination});
            }
            hasSource = hasDestination = false;
        }
    }
    return services;
}

}  // namespace tindlewave::HidutilReadback
