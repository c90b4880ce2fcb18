#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "Model/Config.h"
#include "Model/EngineStatus.h"
#include "Model/Rule.h"
#include "Settings/Model/Buttons/LearnNote.h"
#include "Settings/Model/Buttons/RecorderFieldState.h"
#include "Settings/Model/Buttons/RuleChoices.h"

namespace tindlewave {

// The rules section of the Buttons page, as values: the heading's count, the text under the rules,
// the info text of a rule and the note that concerns the mouse shown.
namespace RulesValues {

// "1 rule", otherwise the number followed by " rules" ("0 rules" too).
std::string count(std::size_t rules);
// What the section says when there is nothing else to say.
std::string footer(bool speaksHIDPP);
// The info text of a rule: how a scroll rule works, or the keys a hold rule keeps down.
std::optional<std::string> explanation(const Rule& rule, const std::vector<Rule>& rules);
// The model's learn note when it is about this mouse.
std::optional<LearnNote> note(const std::optional<LearnNote>& learnNote, const DeviceMatch& device);
// The text of the action as the Do picker lists it.
std::string actionLabel(const Action& action);

}  // namespace RulesValues

// One entry of a rule row's Do picker: set the action, or (none) open the shortcut field.
struct ActionChoice {
    std::optional<Action> action;  // none: record a shortcut
    std::string label;

    static ActionChoice recordShortcut(std::string label) { return {std::nullopt, std::move(label)}; }
    bool operator==(const ActionChoice&) const = default;
};

// One rule's row, as values: what its button field shows, what its pickers offer and the rule a
// change comes to.
struct RuleRowValues {
    Rule rule;
    const RuleChoices& choices;
    std::optional<ListenStatus> listen;  // present only while this row's button is listened for

    // The button column's recorder field: the control at rest, the prompt while listening.
    RecorderFieldState buttonField() const;
    bool listens() const { return buttonField().isRecording(); }
    // The Do picker's entries in order.
    std::vector<ActionChoice> actionChoices() const;
    // The rule after the user picks another trigger: the action kept where the trigger takes it,
    // else the first action offered there, else kept as it is.
    Rule withTrigger(const Trigger& trigger) const;
    Rule withAction(const Action& action) const { return {rule.control, rule.trigger, action}; }
};

}  // namespace tindlewave
