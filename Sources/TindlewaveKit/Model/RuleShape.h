#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>

#include "Model/Rule.h"

namespace tindlewave {

// Which triggers each kind of control accepts, and which actions each such pair accepts. The
// settings window offers only these; validation refuses every other rule.
struct RuleShape {
    enum class ControlKind { hidpp, thumbWheel, key, button };
    // A hold-move with a direction is a swipe; one without is a hold-move.
    enum class TriggerKind { click, hold, swipe, holdMove, scroll };
    enum class ActionKind { system, shortcut, modifier, reverse, scroll };

    using Table = std::map<ControlKind, std::map<TriggerKind, std::set<ActionKind>>>;

    // What is wrong with a rule's shape: the key of the rule to blame ("when" or "do") and why.
    struct Problem {
        std::string key;
        std::string message;

        bool operator==(const Problem&) const = default;
    };

    static ControlKind kind(const Control& control);
    static TriggerKind kind(const Trigger& trigger);
    static ActionKind kind(const Action& action);

    // The allowed shapes; a control kind or trigger kind that is not listed has no entry.
    static const Table& table();
    // None when the rule's trigger and action are allowed on its control.
    static std::optional<Problem> problem(const Rule& rule);
};

}  // namespace tindlewave
