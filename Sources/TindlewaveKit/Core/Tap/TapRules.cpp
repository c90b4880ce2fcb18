#include "Core/Tap/TapRules.h"

#include <utility>

namespace tindlewave {

const TapRules& TapRules::empty() {
    static const TapRules rules;
    return rules;
}

TapRules TapRules::fromRoutes(const std::vector<KeyRoute>& routes,
                              std::map<SenderID, SmoothScroll> smoothScroll,
                              std::map<ButtonKey, ControlBehavior> buttons) {
    TapRules rules;
    for (const auto& route : routes) {
        if (const auto* carrier = as<KeyTarget::Carrier>(route.target)) {
            rules.carriers.insert_or_assign(carrier->carrier.keyCode, carrier->meaning);
        }
    }
    rules.smoothScroll = std::move(smoothScroll);
    rules.buttons = std::move(buttons);
    return rules;
}

}  // namespace tindlewave
