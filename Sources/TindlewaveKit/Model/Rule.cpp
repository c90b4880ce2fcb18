#include "Model/Rule.h"

#include <array>

#include "Model/EnumTextTable.h"

namespace tindlewave {
namespace {

constexpr std::array<Direction, 4> directionCases{Direction::up, Direction::down, Direction::left,
                                                  Direction::right};

constexpr std::array<SystemAction, 4> systemActionCases{
    SystemAction::missionControl, SystemAction::appExpose, SystemAction::spaceLeft,
    SystemAction::spaceRight};

}  // namespace

std::string_view toText(Direction direction) {
    switch (direction) {
        case Direction::up:
            return "Up";
        case Direction::down:
            return "Down";
        case Direction::left:
            return "Left";
        case Direction::right:
            return "Right";
    }
    return "";
}

template <>
std::optional<Direction> fromText<Direction>(std::string_view text) {
    return caseWithText(allCases<Direction>(), text);
}

template <>
std::span<const Direction> allCases<Direction>() {
    return directionCases;
}

std::optional<SystemAction> systemActionFromRawValue(std::int64_t raw) {
    for (SystemAction action : systemActionCases) {
        if (rawValue(action) == raw) return action;
    }
    return std::nullopt;
}

std::string_view toText(SystemAction action) {
    switch (action) {
        case SystemAction::missionControl:
            return "missionControl";
        case SystemAction::appExpose:
            return "appExpose";
        case SystemAction::spaceLeft:
            return "spaceLeft";
        case SystemAction::spaceRight:
            return "spaceRight";
    }
    return "";
}

template <>
std::optional<SystemAction> fromText<SystemAction>(std::string_view text) {
    return caseWithText(allCases<SystemAction>(), text);
}

template <>
std::span<const SystemAction> allCases<SystemAction>() {
    return systemActionCases;
}

std::string Trigger::name() const {
    if (const HoldMove* move = as<HoldMove>(*this)) {
        std::string text = "holdMove";
        if (move->direction) text += toText(*move->direction);
        return text;
    }
    if (is<Click>(*this)) return "click";
    if (is<Hold>(*this)) return "hold";
    return "scroll";
}

const std::map<std::string, Trigger, std::less<>>& Trigger::byName() {
    static const auto table = [] {
        std::map<std::string, Trigger, std::less<>> names;
        for (const Trigger& trigger : {click(), hold(), scroll(), holdMove()}) {
            names.emplace(trigger.name(), trigger);
        }
        for (Direction direction : allCases<Direction>()) {
            const Trigger swipe = holdMove(direction);
            names.emplace(swipe.name(), swipe);
        }
        return names;
    }();
    return table;
}

}  // namespace tindlewave
