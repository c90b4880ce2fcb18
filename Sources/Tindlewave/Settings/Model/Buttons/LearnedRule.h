#pragma once

#include <variant>

#include "Model/Rule.h"
#include "Model/VariantRecord.h"
#include "Settings/Model/Edits/RuleKey.h"

namespace tindlewave {

// What a press heard while listening comes to.
struct LearnedRule {
    struct Rule {  // a rule to add
        tindlewave::Rule rule;
        bool operator==(const Rule&) const = default;
    };
    struct Replacement {  // the rule that takes the place of the one re-learned
        RuleKey key;
        tindlewave::Rule rule;
        bool operator==(const Replacement&) const = default;
    };
    struct Full {  // the pressed control has no free trigger, or no action for it
        Control control;
        bool operator==(const Full&) const = default;
    };
    struct Unchanged {  // the pressed control is the rule's own
        bool operator==(const Unchanged&) const = default;
    };
    struct Unnamed {  // the press names no control
        bool operator==(const Unnamed&) const = default;
    };

    std::variant<Rule, Replacement, Full, Unchanged, Unnamed> value;

    static LearnedRule rule(tindlewave::Rule rule) { return {Rule{std::move(rule)}}; }
    static LearnedRule replacement(RuleKey key, tindlewave::Rule rule) {
        return {Replacement{std::move(key), std::move(rule)}};
    }
    static LearnedRule full(Control control) { return {Full{std::move(control)}}; }
    static LearnedRule unchanged() { return {Unchanged{}}; }
    static LearnedRule unnamed() { return {Unnamed{}}; }

    bool operator==(const LearnedRule&) const = default;
};

}  // namespace tindlewave
