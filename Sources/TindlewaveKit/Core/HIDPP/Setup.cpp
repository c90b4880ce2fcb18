#include "Core/HIDPP/Setup.h"

namespace tindlewave {

namespace {

// Whether the device can serve a rule on one of its controls.
bool canServe(const Rule& rule, CID cid, const std::optional<HIDPPCapabilities>& capabilities) {
    if (!capabilities) return true;
    const auto control = capabilities->control(cid);
    if (!control || !control->divertable) return false;
    // Every hold-and-move rule needs the control's raw movement.
    return !is<Trigger::HoldMove>(rule.trigger) || control->rawXY;
}

}  // namespace

CompiledHIDPPSetup HIDPPSetup::compile(const DeviceProfile& profile,
                                       const std::optional<HIDPPCapabilities>& capabilities) {
    CompiledHIDPPSetup compiled;
    HIDPPSetup setup;
    bool hasHIDPPRule = false;
    std::vector<CID> order;  // CIDs in the order of their first served rule
    std::map<CID, std::vector<Rule>> groups;

    if (profile.rules) {
        for (const Rule& rule : *profile.rules) {
            if (const auto* hidpp = as<Control::Hidpp>(rule.control)) {
                if (is<Trigger::Scroll>(rule.trigger)) continue;
                hasHIDPPRule = true;
                if (!canServe(rule, hidpp->cid, capabilities)) {
                    compiled.skipped.push_back(rule);
                    continue;
                }
                auto& group = groups[hidpp->cid];
                if (group.empty()) order.push_back(hidpp->cid);
                group.push_back(rule);
            } else if (is<Control::ThumbWheel>(rule.control) &&
                       is<Trigger::Scroll>(rule.trigger)) {
                hasHIDPPRule = true;
                if (capabilities && !capabilities->thumbWheel) {
                    compiled.skipped.push_back(rule);
                    continue;
                }
                setup.thumbWheelInverted = is<Action::Reverse>(rule.action);
            }
            // Keys, plain buttons and other thumb-wheel rules belong to the event tap.
        }
    }

    if (!hasHIDPPRule) return {};
    for (CID cid : order) {
        setup.controls.emplace(
            cid, ControlBehavior::fromRules(groups[cid], profile, MovementUnit::counts));
    }
    compiled.setup = std::move(setup);
    return compiled;
}

HIDPPSetup HIDPPSetup::onDevice(const HIDPPCapabilities& capabilities) const {
    HIDPPSetup seen = *this;
    std::erase_if(seen.controls, [&](const auto& entry) {
        const auto control = capabilities.control(entry.first);
        return !control || !control->divertable;
    });
    return seen;
}

}  // namespace tindlewave
