#include "Platform/Linux/KeyMap/ScanCodeMap.h"

#include <cctype>
#include <charconv>

#include <nlohmann/json.hpp>

#include "Model/HexCoding.h"
#include "Core/Evdev/EvdevKeys.h"

namespace tindlewave {

namespace {

constexpr std::uint16_t firstCarrierKey = 183;  // F13
constexpr std::uint16_t lastCarrierKey = 190;   // F20

bool isHIDScanCode(std::uint32_t scanCode) { return (scanCode >> 16) == 0x7; }

std::optional<std::uint64_t> pairValue(std::uint16_t keyCode) {
    auto usage = evdevkeys::usage(keyCode);
    if (!usage) return std::nullopt;
    return keyboardPageBase + usage->rawValue;
}

// The number after `"key":` in the text: hexadecimal after "0x", else decimal.
std::optional<std::uint32_t> numberAfter(std::string_view text, std::string_view key) {
    const auto at = text.find(key);
    if (at == std::string_view::npos) return std::nullopt;
    std::string_view rest = text.substr(at + key.size());
    int base = 10;
    if (rest.starts_with("0x") || rest.starts_with("0X")) {
        rest.remove_prefix(2);
        base = 16;
    }
    std::uint32_t value = 0;
    auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value, base);
    if (error != std::errc() || end == rest.data()) return std::nullopt;
    return value;
}

}  // namespace

namespace ScanCodeMaps {

ScanCodeBaseline baselineOf(const ScanCodeMap& current) {
    ScanCodeBaseline baseline{current, {}};
    for (auto& [scanCode, keyCode] : baseline.table) {
        if (!isHIDScanCode(scanCode) || keyCode < firstCarrierKey || keyCode > lastCarrierKey)
            continue;
        auto original = evdevkeys::evdevCode(HIDUsage{static_cast<std::uint16_t>(scanCode & 0xFFFF)});
        if (!original || *original == keyCode) continue;
        keyCode = *original;
        baseline.routed.insert(scanCode);
    }
    return baseline;
}

bool fits(const ScanCodeBaseline& baseline, const ScanCodeMap& current) {
    if (baseline.table.size() != current.size()) return false;
    for (auto stored = baseline.table.begin(), now = current.begin(); now != current.end(); ++stored, ++now)
        if (stored->first != now->first) return false;
    for (std::uint32_t scanCode : baseline.routed)
        if (!baseline.table.contains(scanCode)) return false;
    return true;
}

KeyMapBackend::Pairs pairs(const ScanCodeBaseline& baseline, const ScanCodeMap& current) {
    KeyMapBackend::Pairs found;
    for (std::uint32_t scanCode : baseline.routed) {
        auto was = baseline.table.find(scanCode);
        auto now = current.find(scanCode);
        if (was == baseline.table.end() || now == current.end() || was->second == now->second) continue;
        auto source = pairValue(was->second);
        auto destination = pairValue(now->second);
        if (source && destination) found.insert({*source, *destination});
    }
    return found;
}

Result<Plan, std::string> writes(const ScanCodeBaseline& baseline, const ScanCodeMap& current,
                                 const KeyMapSetup& setup) {
    std::map<std::uint32_t, std::uint16_t> wanted;
    Plan plan;
    for (const auto& route : setup.routes) {
        const auto source = evdevkeys::evdevCode(route.source);
        const auto targetUsage = route.target.usage().rawValue;
        const auto target = evdevkeys::evdevCode(HIDUsage{targetUsage});
        if (!target) return "has no key code for usage " + hexText(targetUsage);
        bool found = false;
        for (const auto& [scanCode, keyCode] : baseline.table) {
            if (!source || keyCode != *source) continue;
            wanted[scanCode] = *target;
            plan.routed.insert(scanCode);
            found = true;
        }
        if (!found) return "has no key for usage " + hexText(route.source.rawValue);
    }
    for (std::uint32_t scanCode : baseline.routed) {
        auto was = baseline.table.find(scanCode);
        if (was != baseline.table.end()) wanted.emplace(scanCode, was->second);
    }
    for (const auto& [scanCode, keyCode] : wanted) {
        auto now = current.find(scanCode);
        if (now == current.end() || now->second != keyCode) plan.writes.emplace_back(scanCode, keyCode);
    }
    return plan;
}

std::string encode(const ScanCodeBaseline& baseline, std::string_view bootID) {
    // The boot id is the kernel's (hexadecimal digits and dashes); anything else is left out
    // rather than escaped, and such a file then matches no boot.
    std::string boot;
    for (char c : bootID)
        if (std::isxdigit(static_cast<unsigned char>(c)) || c == '-') boot += c;
    std::string text = "{\"boot\":\"" + boot + "\",\"table\":[";
    bool first = true;
    for (const auto& [scanCode, keyCode] : baseline.table) {
        text += (first ? "[" : ",[") + std::to_string(scanCode) + "," + std::to_string(keyCode) + "]";
        first = false;
    }
    text += "],\"routed\":[";
    first = true;
    for (std::uint32_t scanCode : baseline.routed) {
        text += (first ? "" : ",") + std::to_string(scanCode);
        first = false;
    }
    return text + "]}\n";
}

std::optional<ScanCodeBaseline> decode(std::string_view text, std::string_view bootID) {
    if (bootID.empty()) return std::nullopt;  // without a boot id no stored table is known to be this boot's
    auto json = nlohmann::json::parse(text, nullptr, false);
    if (json.is_discarded() || !json.is_object()) return std::nullopt;
    auto boot = json.find("boot");
    auto table = json.find("table");
    auto routed = json.find("routed");
    if (boot == json.end() || !boot->is_string() || *boot != bootID) return std::nullopt;
    if (table == json.end() || !table->is_array()) return std::nullopt;
    if (routed == json.end() || !routed->is_array()) return std::nullopt;
    ScanCodeBaseline decoded;
    for (const auto& entry : *table) {
        if (!entry.is_array() || entry.size() != 2 || !entry[0].is_number_unsigned() ||
            !entry[1].is_number_unsigned() || entry[0].get<std::uint64_t>() > 0xFFFFFFFF ||
            entry[1].get<std::uint64_t>() > 0xFFFF)
            return std::nullopt;
        decoded.table[entry[0].get<std::uint32_t>()] = entry[1].get<std::uint16_t>();
    }
    for (const auto& entry : *routed) {
        if (!entry.is_number_unsigned() || entry.get<std::uint64_t>() > 0xFFFFFFFF) return std::nullopt;
        decoded.routed.insert(entry.get<std::uint32_t>());
    }
    return decoded;
}

}  // namespace ScanCodeMaps

std::optional<KeyboardMatching> KeyboardMatching::parse(std::string_view text) {
    if (auto builtIn = numberAfter(text, "\"Built-In\":"); builtIn && *builtIn == 1)
        return KeyboardMatching{.builtIn = true};
    auto vendor = numberAfter(text, "\"VendorID\":");
    auto product = numberAfter(text, "\"ProductID\":");
    if (!vendor || !product || *vendor > 0xFFFF || *product > 0xFFFF) return std::nullopt;
    return KeyboardMatching{.vendor = static_cast<std::uint16_t>(*vendor),
                            .product = static_cast<std::uint16_t>(*product)};
}

}  // namespace tindlewave
