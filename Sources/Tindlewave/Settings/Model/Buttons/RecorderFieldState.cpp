#include "Settings/Model/Buttons/RecorderFieldState.h"

namespace tindlewave {

namespace {
void append(std::string& text, const std::string& part) {
    if (!text.empty()) text += ", ";
    text += part;
}
}  // namespace

std::string RecorderFieldState::accessibilityLabel() const {
    std::string text;
    if (const auto* idle = as<Idle>(*this)) {
        for (const auto& chip : idle->chips) append(text, chip);
        if (idle->label) append(text, *idle->label);
        return text;
    }
    const auto& recording = std::get<Recording>(value);
    append(text, recording.hint.text);
    for (const auto& chip : recording.chips) append(text, chip);
    if (recording.trailing) append(text, *recording.trailing);
    return text;
}

}  // namespace tindlewave
