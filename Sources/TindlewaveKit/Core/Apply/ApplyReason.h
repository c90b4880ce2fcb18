#pragma once

#include <array>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace tindlewave {

// Why settings are (re)applied to a device. The text of a reason is its case name.
enum class ApplyReason {
    launch,             // the first configuration arrived and the devices present then are set up
    connected,          // a device was connected after start-up, or its properties changed
    deviceAsked,        // the device reported that it must be set up again
    configChanged,      // a changed configuration arrived
    permissionChanged,  // the permission state changed
    pauseChanged,       // the user paused or resumed
    manual,             // the user asked to re-apply everything
    wake,               // the machine woke from sleep
    quit,               // the program is quitting (the neutral set-up is applied)
    retry,              // the back-off delay after a failed run expired
    listen,             // listening for a press changed which controls must be diverted
};

inline constexpr std::array<ApplyReason, 11> allApplyReasons = {
    ApplyReason::launch,
    ApplyReason::connected,
    ApplyReason::deviceAsked,
    ApplyReason::configChanged,
    ApplyReason::permissionChanged,
    ApplyReason::pauseChanged,
    ApplyReason::manual,
    ApplyReason::wake,
    ApplyReason::quit,
    ApplyReason::retry,
    ApplyReason::listen,
};

std::string_view toText(ApplyReason reason);

// Exact and case-sensitive: any other text is no reason.
std::optional<ApplyReason> applyReasonFromText(std::string_view text);

// The reasons of one job as the journal writes them: their texts, sorted, joined by ",".
std::string toText(const std::set<ApplyReason>& reasons);

}  // namespace tindlewave
