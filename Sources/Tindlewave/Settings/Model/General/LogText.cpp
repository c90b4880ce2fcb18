#include "Settings/Model/General/LogText.h"

namespace tindlewave {

std::string logLineText(const LogLine& line, const TimeText& time) {
    return time(line.date) + "  " + line.category + "  " + line.message;
}

std::string logCopyText(std::span<const LogLine> lines, const TimeText& time) {
    std::string text;
    for (const auto& line : lines) {
        if (!text.empty() || &line != lines.data()) text += '\n';
        text += logLineText(line, time);
    }
    return text;
}

}  // namespace tindlewave
