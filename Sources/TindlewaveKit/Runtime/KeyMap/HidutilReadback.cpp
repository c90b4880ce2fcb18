#include "Runtime/KeyMap/HidutilReadback.h"

#include <array>
#include <charconv>
#include <optional>
#include <string_view>

namespace tindlewave::HidutilReadback {
namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// The first tokens of a line and how many it has in all: the rules below look at no more than
// three, and counting without keeping the rest allocates nothing.
struct Tokens {
    std::array<std::string_view, 3> first;
    std::size_t count = 0;

    bool empty() const { return count == 0; }
    std::size_t size() const { return count; }
    std::string_view operator[](std::size_t i) const { return first[i]; }
};

Tokens tokens(std::string_view line) {
    Tokens result;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isSpace(line[i])) ++i;
        std::size_t start = i;
        while (i < line.size() && !isSpace(line[i])) ++i;
        if (i > start) {
            if (result.count < result.first.size())
                result.first[result.count] = line.substr(start, i - start);
            ++result.count;
        }
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
