#include "Settings/Model/Buttons/AddRuleTexts.h"

#include <chrono>

#include "Settings/Model/Texts/Labels.h"

namespace tindlewave::AddRuleTexts {

std::string status(const StatusInput& input) {
    if (input.listen) {
        if (const auto* ended = as<ListenStatus::Ended>(*input.listen))
            return Labels::listenEnded(ended->end, input.device);
        if (input.forNewRule) return "The left button keeps working while Tindlewave listens.";
        return input.footer;
    }
    if (input.note) {
        if (const auto* full = as<LearnNote::Full>(*input.note)) {
            if (is<Control::ThumbWheel>(full->control))
                return "Thumb wheel already has a rule for every way to turn it. Change it here.";
            return Labels::control(full->control) +
                   " already has a rule for every way to press it. Change one of these.";
        }
        if (is<LearnNote::Unnamed>(*input.note)) return "Tindlewave cannot make a rule for that key.";
    }
    if (input.blocked) return *input.blocked;
    return input.footer;
}

std::string help(bool blocked, const std::string& device) {
    if (blocked) return "Pick a button to add a rule for";
    return "Press a button on " + device + " to add a rule for it, or pick one from the menu";
}

std::string rowFieldHelp(const std::optional<std::string>& cannotListen, const std::string& device) {
    if (cannotListen) return *cannotListen;
    return "Click, then press a button on " + device + " to use it for this rule";
}

RecorderHint listenHint(bool ready, bool thumbWheel, const std::string& device) {
    if (!ready) return RecorderHint::gettingReady("Getting " + device + " ready…");
    return RecorderHint::prompt(
        std::string(thumbWheel ? "Press a button or turn the thumb wheel" : "Press a button") + " on " +
        device);
}

std::string countdown(Date now, Date until) {
    using namespace std::chrono;
    const auto left = until - now;
    if (left <= Date::duration::zero()) return "0 s";
    const auto whole = ceil<seconds>(left);
    return std::to_string(whole.count()) + " s";
}

RecorderFieldState listenRow(bool ready, bool thumbWheel, const std::string& device, Date now,
                             Date until) {
    return RecorderFieldState::recording({}, listenHint(ready, thumbWheel, device), countdown(now, until));
}

}  // namespace tindlewave::AddRuleTexts
