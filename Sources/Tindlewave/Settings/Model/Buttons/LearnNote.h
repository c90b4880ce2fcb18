#pragma once

#include <variant>

#include "Model/Config.h"
#include "Model/Rule.h"
#include "Model/VariantRecord.h"
#include "Settings/Model/Edits/RuleKey.h"

namespace tindlewave {

// What the next press heard while listening is for.
struct ListenPurpose {
    struct ReplaceRule {  // the press replaces the control of this rule
        RuleKey key;
        bool operator==(const ReplaceRule&) const = default;
    };
    struct AddRule {  // the press adds a new rule
        bool operator==(const AddRule&) const = default;
    };

    std::variant<ReplaceRule, AddRule> value{AddRule{}};

    static ListenPurpose replaceRule(RuleKey key) { return {ReplaceRule{std::move(key)}}; }
    static ListenPurpose addRule() { return {AddRule{}}; }

    bool operator==(const ListenPurpose&) const = default;
};

// The note the Buttons page shows after a listen.
struct LearnNote {
    struct Added {  // a rule was added or changed
        DeviceMatch match;
        RuleKey key;
        bool operator==(const Added&) const = default;
    };
    struct Full {  // the pressed control has no free trigger left
        DeviceMatch match;
        Control control;
        bool operator==(const Full&) const = default;
    };
    struct Unnamed {  // the press names no control
        DeviceMatch match;
        bool operator==(const Unnamed&) const = default;
    };

    std::variant<Added, Full, Unnamed> value;

    static LearnNote added(DeviceMatch match, RuleKey key) {
        return {Added{std::move(match), std::move(key)}};
    }
    static LearnNote full(DeviceMatch match, Control control) {
        return {Full{std::move(match), std::move(control)}};
    }
    static LearnNote unnamed(DeviceMatch match) { return {Unnamed{std::move(match)}}; }

    // Whether the note marks `rule`'s row: an added note the rule with its control and trigger,
    // a full note every rule on its control, an unnamed note none.
    bool highlights(const Rule& rule) const;

    bool operator==(const LearnNote&) const = default;
};

}  // namespace tindlewave
