#pragma once

#include <optional>
#include <string>

#include "Model/Date.h"
#include "Model/EngineStatus.h"
#include "Settings/Model/Buttons/LearnNote.h"
#include "Settings/Model/Buttons/RecorderFieldState.h"

namespace tindlewave {

// The texts of the Add Rule control and of the countdown row shown while a new rule's button is
// listened for.
namespace AddRuleTexts {

// What the page tells the user under Add Rule; first match wins: listening ended, listening
// (for a new rule, or a rule row listening), the last press's note, why listening cannot start,
// else the footer.
struct StatusInput {
    std::optional<ListenStatus> listen;  // the device status's, none without a status
    bool forNewRule = false;             // the model's listen purpose is to add a rule
    std::optional<LearnNote> note;       // the note about this mouse
    std::optional<std::string> blocked;  // why listening cannot start
    std::string footer;
    std::string device;                  // the mouse's name
};
std::string status(const StatusInput& input);

// The help text of the Add Rule button.
std::string help(bool blocked, const std::string& device);
// The help text of a rule row's idle button field.
std::string rowFieldHelp(const std::optional<std::string>& cannotListen, const std::string& device);

// The countdown row's hint: getting the mouse ready, then the prompt.
RecorderHint listenHint(bool ready, bool thumbWheel, const std::string& device);
// The whole seconds left, rounded up, never below 0, followed by " s".
std::string countdown(Date now, Date until);
// The countdown row's recorder field at `now`.
RecorderFieldState listenRow(bool ready, bool thumbWheel, const std::string& device, Date now, Date until);

}  // namespace AddRuleTexts

}  // namespace tindlewave
