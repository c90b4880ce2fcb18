#pragma once

#include "Model/Hash.h"
#include "Model/Rule.h"

namespace tindlewave {

// Names one rule of a device: its control and trigger. The pages, listening and the rule choices
// point at a rule this way.
struct RuleKey {
    Control control;
    Trigger trigger;

    static RuleKey of(const Rule& rule) { return {rule.control, rule.trigger}; }
    // Whether the rule has this control and trigger.
    bool names(const Rule& rule) const { return rule.control == control && rule.trigger == trigger; }

    bool operator==(const RuleKey&) const = default;
};

}  // namespace tindlewave

template <>
struct std::hash<tindlewave::RuleKey> {
    std::size_t operator()(const tindlewave::RuleKey& key) const noexcept {
        std::size_t seed = tindlewave::hashOf(key.control);
        tindlewave::hashCombine(seed, tindlewave::hashOf(key.trigger));
        return seed;
    }
};
