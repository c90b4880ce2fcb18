#include "Settings/Model/Buttons/RuleRowValues.h"

#include <algorithm>
#include <string_view>

#include "Core/Overloaded.h"
#include "Runtime/Worlds/WorldTexts.h"
#include "Settings/Model/Texts/Labels.h"

namespace tindlewave {

namespace RulesValues {

std::string count(std::size_t rules) {
    if (rules == 1) return "1 rule";
    return std::to_string(rules) + " rules";
}

std::string footer(bool speaksHIDPP) {
    if (speaksHIDPP) return "Buttons without a rule, like Back and Forward, work as usual.";
    return "Tindlewave carries out rules for plain buttons. It saves rules for keys, but does not "
           "carry them out yet.";
}

std::optional<std::string> explanation(const Rule& rule, const std::vector<Rule>& rules) {
    if (is<Action::Scroll>(rule.action)) {
        const bool hasClickRule = std::any_of(rules.begin(), rules.end(), [&](const Rule& other) {
            return other.control == rule.control && other.trigger == Trigger::click();
        });
        return Labels::holdToScroll(rule.control, hasClickRule);
    }
    if (rule.trigger == Trigger::hold()) return Labels::heldKeys(rule.action);
    return std::nullopt;
}

std::optional<LearnNote> note(const std::optional<LearnNote>& learnNote, const DeviceMatch& device) {
    if (!learnNote) return std::nullopt;
    const DeviceMatch& about = std::visit([](const auto& note) -> const DeviceMatch& { return note.match; },
                                          learnNote->value);
    if (about != device) return std::nullopt;
    return learnNote;
}

std::string actionLabel(const Action& action) {
    return std::visit(
        Overloaded{
            [](const Action::System& system) { return systemActionName(system.action); },
            [](const Action::Shortcut& shortcut) { return "Shortcut " + Labels::chord(shortcut.chord); },
            [](const Action::Modifier& modifier) {
                return std::string(Labels::modifierName(modifier.modifier));
            },
            [](const Action::Reverse&) -> std::string { return "Horizontal scroll, reversed"; },
            [](const Action::Scroll&) -> std::string { return "Scroll"; },
        },
        action.value);
}

}  // namespace RulesValues

RecorderFieldState RuleRowValues::buttonField() const {
    if (listen && is<ListenStatus::GettingReady>(*listen))
        return RecorderFieldState::recording({}, RecorderHint::gettingReady("Getting ready…"));
    if (listen && is<ListenStatus::Listening>(*listen)) {
        const bool wheel = choices.capabilities && choices.capabilities->thumbWheel;
        return RecorderFieldState::recording(
            {}, RecorderHint::prompt(wheel ? "Press a button or turn the wheel" : "Press a button"));
    }
    return RecorderFieldState::idle({Labels::control(rule.control)});
}

std::vector<ActionChoice> RuleRowValues::actionChoices() const {
    const auto offered = choices.actions(rule.control, rule.trigger);
    const bool extra = is<Action::Shortcut>(rule.action) ||
                       std::find(offered.begin(), offered.end(), rule.action) == offered.end();
    std::vector<ActionChoice> entries;
    for (const auto& action : offered) {
        if (is<Action::Shortcut>(action)) {
            if (extra) {
                entries.push_back({rule.action, RulesValues::actionLabel(rule.action)});
                entries.push_back(ActionChoice::recordShortcut("Record Another Shortcut…"));
            } else {
                entries.push_back(ActionChoice::recordShortcut("Keyboard Shortcut…"));
            }
        } else {
            entries.push_back({action, RulesValues::actionLabel(action)});
        }
    }
    return entries;
}

Rule RuleRowValues::withTrigger(const Trigger& trigger) const {
    if (rule.control.accepts(rule.action, trigger)) return {rule.control, trigger, rule.action};
    const auto offered = choices.actions(rule.control, trigger);
    return {rule.control, trigger, offered.empty() ? rule.action : offered.front()};
}

}  // namespace tindlewave
