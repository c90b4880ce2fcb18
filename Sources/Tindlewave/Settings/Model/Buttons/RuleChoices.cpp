#include "Settings/Model/Buttons/RuleChoices.h"

#include <algorithm>
#include <array>
#include <unordered_set>

namespace tindlewave {

namespace {

constexpr std::array<RuleChoices::PlainButton, 4> plainButtonTable{{
    {1, CID{0x51}},
    {2, CID{0x52}},
    {3, CID{0x53}},
    {4, CID{0x56}},
}};

std::optional<CID> twinOf(const Control& control) {
    const auto* button = as<Control::Button>(control);
    if (!button) return std::nullopt;
    for (const auto& entry : plainButtonTable) {
        if (entry.number == button->number) return entry.cid;
    }
    return std::nullopt;
}

// Where a control sorts: HID++ controls by id, each plain button right after its HID++ twin, then
// the thumb wheel, the named keys in table order and the other buttons by number.
std::int64_t order(const Control& control) {
    if (const auto* hidpp = as<Control::Hidpp>(control)) return std::int64_t{hidpp->cid.rawValue} * 2;
    if (auto twin = twinOf(control)) return std::int64_t{twin->rawValue} * 2 + 1;
    if (const auto* button = as<Control::Button>(control)) {
        // Far outside any real button number, clamped so the sum cannot overflow.
        const std::int64_t number = std::clamp<std::int64_t>(button->number, -(1LL << 40), 1LL << 40);
        return (number + 0x30000) * 2;
    }
    if (const auto* key = as<Control::Key>(control)) {
        const auto& named = HIDUsage::allNamed();
        const auto found = std::ranges::find(named, key->usage);
        const std::int64_t index = found == named.end() ? 0 : found - named.begin();
        return (0x20000 + index) * 2;
    }
    return 0x20000;  // the thumb wheel
}

bool contains(const std::vector<Trigger>& triggers, const Trigger& trigger) {
    return std::ranges::find(triggers, trigger) != triggers.end();
}

}  // namespace

std::span<const RuleChoices::PlainButton> RuleChoices::plainButtons() {
    return plainButtonTable;
}

const std::vector<Trigger>& RuleChoices::triggers() {
    static const std::vector<Trigger> table = [] {
        std::vector<Trigger> all{Trigger::click(), Trigger::hold()};
        for (Direction direction : allCases<Direction>()) all.push_back(Trigger::holdMove(direction));
        all.push_back(Trigger::holdMove());
        all.push_back(Trigger::scroll());
        return all;
    }();
    return table;
}

Chord RuleChoices::placeholderChord() {
    return Chord{KeyCode::named("4").value(), Modifiers::shift | Modifiers::command};
}

const std::vector<Action>& RuleChoices::actions() {
    static const std::vector<Action> table = [] {
        std::vector<Action> all;
        for (SystemAction action : allCases<SystemAction>()) all.push_back(Action::system(action));
        for (HeldModifier modifier : allCases<HeldModifier>()) {
            all.push_back(Action::modifier(modifier));
        }
        all.push_back(Action::shortcut(placeholderChord()));
        all.push_back(Action::reverse());
        all.push_back(Action::scroll());
        return all;
    }();
    return table;
}

std::vector<Control> RuleChoices::controls() const {
    std::vector<Control> all;
    for (const Rule& rule : rules) all.push_back(rule.control);
    if (speaksHIDPP && capabilities) {
        for (const auto& control : capabilities->controls) {
            if (control.divertable) all.push_back(Control::hidpp(control.cid));
        }
        if (capabilities->thumbWheel) all.push_back(Control::thumbWheel());
        for (const PlainButton& button : plainButtonTable) {
            const auto twin = capabilities->control(button.cid);
            if (twin && !twin->divertable) all.push_back(Control::button(button.number));
        }
    } else if (speaksHIDPP) {
        all.push_back(Control::thumbWheel());
    } else {
        for (const PlainButton& button : plainButtonTable) all.push_back(Control::button(button.number));
        for (HIDUsage usage : HIDUsage::allNamed()) all.push_back(Control::key(usage));
    }
    std::unordered_set<Control> seen;
    std::erase_if(all, [&](const Control& control) { return !seen.insert(control).second; });
    std::ranges::stable_sort(all, {}, order);
    return all;
}

std::vector<Control> RuleChoices::controls(const Rule& forRule) const {
    std::vector<Control> all = controls();
    std::erase_if(all, [&](const Control& control) {
        return control != forRule.control && triggers(control, &forRule).empty();
    });
    return all;
}

std::vector<Trigger> RuleChoices::triggers(const Control& control, const Rule* besides) const {
    std::vector<Trigger> taken;
    for (const Rule& rule : rules) {
        if (rule.control != control) continue;
        if (besides && rule.control == besides->control && rule.trigger == besides->trigger) continue;
        taken.push_back(rule.trigger);
    }
    std::optional<HIDPPCapabilities::Control> discovered;
    if (const auto* hidpp = as<Control::Hidpp>(control); hidpp && capabilities) {
        discovered = capabilities->control(hidpp->cid);
    }
    std::vector<Trigger> free;
    for (const Trigger& trigger : triggers()) {
        if (!control.accepts(trigger)) continue;
        if (std::ranges::any_of(taken, [&](const Trigger& t) {
                return t == trigger || t.conflicts(trigger);
            })) {
            continue;
        }
        if (is<Trigger::HoldMove>(trigger) && discovered && !discovered->rawXY) continue;
        free.push_back(trigger);
    }
    return free;
}

std::vector<Action> RuleChoices::actions(const Control& control, const Trigger& trigger) const {
    std::vector<Action> offered;
    for (const Action& action : actions()) {
        if (is<Action::Modifier>(action) && !is<Trigger::Hold>(trigger)) continue;
        if (control.accepts(action, trigger)) offered.push_back(action);
    }
    return offered;
}

Rule RuleChoices::rule(const Rule& rule, const Control& withControl) const {
    const std::vector<Trigger> free = triggers(withControl, &rule);
    Trigger trigger = rule.trigger;
    if (!free.empty() && !contains(free, rule.trigger)) trigger = free.front();
    Action action = rule.action;
    if (!withControl.accepts(rule.action, trigger)) {
        const std::vector<Action> offered = actions(withControl, trigger);
        if (!offered.empty()) action = offered.front();
    }
    return {withControl, trigger, action};
}

Rule RuleChoices::recorded(const Action& action, const Rule& rule) const {
    Rule result{rule.control, rule.trigger, action};
    if (is<Action::Modifier>(action) && !is<Trigger::Hold>(rule.trigger) &&
        contains(triggers(rule.control, &rule), Trigger::hold())) {
        result.trigger = Trigger::hold();
    }
    return result;
}

Control RuleChoices::canonical(const Control& control) const {
    if (auto twin = twinOf(control); twin && capabilities) {
        if (auto discovered = capabilities->control(*twin); discovered && discovered->divertable) {
            return Control::hidpp(*twin);
        }
    }
    return control;
}

LearnedRule RuleChoices::learned(const Heard& heard) const {
    const auto* pressed = as<Heard::Control>(heard);
    if (!pressed) return LearnedRule::unnamed();
    const Control control = canonical(pressed->control);
    const std::vector<Trigger> free = triggers(control);
    if (!free.empty()) {
        const std::vector<Action> offered = actions(control, free.front());
        if (!offered.empty()) return LearnedRule::rule({control, free.front(), offered.front()});
    }
    return LearnedRule::full(control);
}

LearnedRule RuleChoices::learned(const Heard& heard, const Rule& replacing) const {
    const auto* pressed = as<Heard::Control>(heard);
    if (!pressed) return LearnedRule::unnamed();
    const Control control = canonical(pressed->control);
    if (control == replacing.control) return LearnedRule::unchanged();
    if (triggers(control, &replacing).empty()) return LearnedRule::full(control);
    return LearnedRule::replacement(RuleKey::of(replacing), rule(replacing, control));
}

}  // namespace tindlewave
