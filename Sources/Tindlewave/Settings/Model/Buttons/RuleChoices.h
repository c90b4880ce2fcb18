#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "Model/Capabilities.h"
#include "Model/EngineStatus.h"
#include "Model/Rule.h"
#include "Settings/Model/Buttons/LearnedRule.h"

namespace tindlewave {

// What the Buttons page may offer one device: the controls that can carry a rule, the triggers
// still free on a control, the actions a control and trigger take, and the rule that a press heard
// while listening comes to.
struct RuleChoices {
    // A plain mouse button and the HID++ control of the same button.
    struct PlainButton {
        std::int64_t number;
        CID cid;
    };

    std::vector<Rule> rules;                          // the device's rules
    std::optional<HIDPPCapabilities> capabilities{};  // what HID++ discovery found, if it ran
    bool speaksHIDPP = false;

    // Right, middle, back and forward, with their HID++ twins; the left button has none.
    static std::span<const PlainButton> plainButtons();
    // Every trigger in the order offered.
    static const std::vector<Trigger>& triggers();
    // Every action in the order offered; the shortcut is the placeholder chord.
    static const std::vector<Action>& actions();
    // The chord a new shortcut rule starts with: Shift-Command-4.
    static Chord placeholderChord();

    // The controls that may carry a rule on this device, in the page's order.
    std::vector<Control> controls() const;
    // The controls that the rule's row may switch to: its own and those with a free trigger.
    std::vector<Control> controls(const Rule& forRule) const;
    // The triggers still free on the control, counting the rule `besides` (when given) as free.
    std::vector<Trigger> triggers(const Control& control, const Rule* besides = nullptr) const;
    // The actions offered for the control and trigger; a held modifier only on hold.
    std::vector<Action> actions(const Control& control, const Trigger& trigger) const;
    // The rule moved to another control, keeping its trigger and action where they fit there.
    Rule rule(const Rule& rule, const Control& withControl) const;
    // The rule with a newly recorded action; a held modifier moves it to hold when hold is free.
    Rule recorded(const Action& action, const Rule& rule) const;
    // The rule to add for a press heard while listening.
    LearnedRule learned(const Heard& heard) const;
    // What takes the place of the rule for a press heard while re-learning its control.
    LearnedRule learned(const Heard& heard, const Rule& replacing) const;

private:
    Control canonical(const Control& control) const;
};

}  // namespace tindlewave
