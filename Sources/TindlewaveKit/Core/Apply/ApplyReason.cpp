#include "Core/Apply/ApplyReason.h"

#include <algorithm>
#include <vector>

namespace tindlewave {

std::string_view toText(ApplyReason reason) {
    switch (reason) {
        case ApplyReason::launch:
            return "launch";
        case ApplyReason::connected:
            return "connected";
        case ApplyReason::deviceAsked:
            return "deviceAsked";
        case ApplyReason::configChanged:
            return "configChanged";
        case ApplyReason::permissionChanged:
            return "permissionChanged";
        case ApplyReason::pauseChanged:
            return "pauseChanged";
        case ApplyReason::manual:
            return "manual";
        case ApplyReason::wake:
            return "wake";
        case ApplyReason::quit:
            return "quit";
        case ApplyReason::retry:
            return "retry";
        case ApplyReason::listen:
            return "listen";
    }
    return "";
}

std::optional<ApplyReason> applyReasonFromText(std::string_view text) {
    for (ApplyReason reason : allApplyReasons) {
        if (toText(reason) == text) return reason;
    }
    return std::nullopt;
}

std::string toText(const std::set<ApplyReason>& reasons) {
    std::vector<std::string_view> texts;
    texts.reserve(reasons.size());
    for (ApplyReason reason : reasons) texts.push_back(toText(reason));
    std::sort(texts.begin(), texts.end());
    std::string joined;
    for (std::string_view text : texts) {
        if (!joined.empty()) joined += ',';
        joined += text;
    }
    return joined;
}

}  // namespace tindlewave
