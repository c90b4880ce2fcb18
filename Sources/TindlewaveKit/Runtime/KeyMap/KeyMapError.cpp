#include "Runtime/KeyMap/KeyMapError.h"

#include <string_view>

namespace tindlewave {
namespace {

// What a program printed, as part of one line of a status or the log: each line of it without
// the blanks around it, the empty ones left out, the others joined by "; ".
std::string asOneLine(std::string_view printed) {
    constexpr std::string_view blanks = " \t\r\n\v\f";
    std::string line;
    while (!printed.empty()) {
        const auto end = printed.find('\n');
        std::string_view part = printed.substr(0, end);
        printed = end == std::string_view::npos ? std::string_view() : printed.substr(end + 1);
        const auto first = part.find_first_not_of(blanks);
        if (first == std::string_view::npos) continue;
        part = part.substr(first, part.find_last_not_of(blanks) - first + 1);
        if (!line.empty()) line += "; ";
        line += part;
    }
    return line;
}

}  // namespace

std::string KeyMapError::description() const {
    if (const auto* failed = as<HidutilFailed>(*this)) {
        const std::string printed = asOneLine(failed->output);
        return "hidutil exited " + std::to_string(failed->status) + (printed.empty() ? "" : ": " + printed);
    }
    if (is<NoServiceMatched>(*this)) return "no keyboard service matched";
    if (is<ServiceLagsDevice>(*this)) return "keyboard service not ready";
    if (const auto* device = as<DeviceFailed>(*this)) return device->reason;
    return "hidutil timed out";
}

}  // namespace tindlewave
