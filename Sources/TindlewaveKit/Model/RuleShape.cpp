#include "Model/RuleShape.h"

namespace tindlewave {
namespace {

using ControlKind = RuleShape::ControlKind;
using TriggerKind = RuleShape::TriggerKind;
using ActionKind = RuleShape::ActionKind;

// The allowed actions for a control with a trigger; null when the pair has no entry.
const std::set<ActionKind>* allowedActions(const Control& control, const Trigger& trigger) {
    const auto& table = RuleShape::table();
    auto byTrigger = table.find(RuleShape::kind(control));
    if (byTrigger == table.end()) return nullptr;
    auto actions = byTrigger->second.find(RuleShape::kind(trigger));
    if (actions == byTrigger->second.end()) return nullptr;
    return &actions->second;
}

}  // namespace

RuleShape::ControlKind RuleShape::kind(const Control& control) {
    if (is<Control::Hidpp>(control)) return ControlKind::hidpp;
    if (is<Control::ThumbWheel>(control)) return ControlKind::thumbWheel;
    if (is<Control::Key>(control)) return ControlKind::key;
    return ControlKind::button;
}

RuleShape::TriggerKind RuleShape::kind(const Trigger& trigger) {
    if (const auto* move = as<Trigger::HoldMove>(trigger)) {
        return move->direction ? TriggerKind::swipe : TriggerKind::holdMove;
    }
    if (is<Trigger::Click>(trigger)) return TriggerKind::click;
    if (is<Trigger::Hold>(trigger)) return TriggerKind::hold;
    return TriggerKind::scroll;
}

RuleShape::ActionKind RuleShape::kind(const Action& action) {
    if (is<Action::System>(action)) return ActionKind::system;
    if (is<Action::Shortcut>(action)) return ActionKind::shortcut;
    if (is<Action::Modifier>(action)) return ActionKind::modifier;
    if (is<Action::Reverse>(action)) return ActionKind::reverse;
    return ActionKind::scroll;
}

const RuleShape::Table& RuleShape::table() {
    static const Table shapes{
        {ControlKind::hidpp,
         {
             {TriggerKind::click, {ActionKind::system, ActionKind::shortcut, ActionKind::modifier}},
             {TriggerKind::hold, {ActionKind::shortcut, ActionKind::modifier}},
             {TriggerKind::swipe, {ActionKind::system, ActionKind::shortcut, ActionKind::modifier}},
             {TriggerKind::holdMove, {ActionKind::scroll}},
         }},
        {ControlKind::thumbWheel,
         {
             {TriggerKind::scroll, {ActionKind::reverse}},
         }},
        {ControlKind::key,
         {
             {TriggerKind::click, {ActionKind::shortcut, ActionKind::modifier}},
             {TriggerKind::hold, {ActionKind::modifier}},
         }},
        {ControlKind::button,
         {
             {TriggerKind::click, {ActionKind::system, ActionKind::shortcut, ActionKind::modifier}},
             {TriggerKind::hold, {ActionKind::shortcut, ActionKind::modifier}},
             {TriggerKind::holdMove, {ActionKind::scroll}},
         }},
    };
    return shapes;
}

std::optional<RuleShape::Problem> RuleShape::problem(const Rule& rule) {
    const std::set<ActionKind>* actions = allowedActions(rule.control, rule.trigger);
    if (!actions) {
        std::string quoted(1, '"');
        quoted += rule.trigger.name();
        return Problem{"when", quoted + "\" does not work with this control"};
    }
    if (!actions->contains(kind(rule.action))) {
        return Problem{
            "do", "this action does not work with \"" + rule.trigger.name() + "\" on this control"};
    }
    return std::nullopt;
}

bool Control::accepts(const Trigger& trigger) const {
    return allowedActions(*this, trigger) != nullptr;
}

bool Control::accepts(const Action& action, const Trigger& trigger) const {
    const std::set<ActionKind>* actions = allowedActions(*this, trigger);
    return actions && actions->contains(RuleShape::kind(action));
}

std::optional<std::string_view> Trigger::conflictReason(const Trigger& other) const {
    const auto conflictOneWay = [](const Trigger& one,
                                   const Trigger& two) -> std::optional<std::string_view> {
        if (is<Hold>(one) && is<Click>(two)) {
            return "a control that holds keys holds them from its press, so it has no click of "
                   "its own";
        }
        if (is<Hold>(one) && is<HoldMove>(two)) {
            return "a control that holds keys holds them from its press, so its movement only "
                   "moves the pointer";
        }
        const HoldMove* a = as<HoldMove>(one);
        const HoldMove* b = as<HoldMove>(two);
        if (a && b && !a->direction && b->direction) {
            return "scrolling and swipes both use the movement";
        }
        return std::nullopt;
    };
    if (auto reason = conflictOneWay(*this, other)) return reason;
    return conflictOneWay(other, *this);
}

bool Trigger::conflicts(const Trigger& other) const {
    return conflictReason(other).has_value();
}

}  // namespace tindlewave
