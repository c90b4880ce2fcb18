#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Model/Date.h"
#include "Model/EngineStatus.h"
#include "Platform/LoginItem.h"
#include "Platform/PermissionGrants.h"
#include "Runtime/Stores/ConfigSnapshot.h"
#include "Settings/Model/Texts/TimeText.h"

namespace tindlewave {

// The texts of the General page, decided without the toolkit.
class GeneralTexts {
  public:
    GeneralTexts() = delete;

    // The Startup row's detail: the failure, else the login item's state in words.
    static std::string loginDetail(LoginItemState state, const std::optional<std::string>& error);
    // The first part of the config file's explanation: the error, else when it was loaded, else
    // "Loading…".
    static std::string loadDetail(const std::optional<ConfigSnapshot>& snapshot,
                                  const std::optional<Date>& loadedAt, const TimeText& time);
    // The explanation under "The config file has an error" on every page, for a snapshot with an
    // error: the error, what is in force meanwhile and what to do.
    static std::string configErrorDetail(const ConfigSnapshot& snapshot);
    // The Updates row's detail. `host` is the update feed's host; empty for a feed read from a
    // file, which asks no one.
    static std::string updatesDetail(const std::string& version, bool automaticallyChecks,
                                     const std::string& host, const std::optional<Date>& lastCheck,
                                     Date now);
    // The host of a feed address ("https://updates.example.org/feed.xml" → "updates.example.org");
    // empty for a file's address.
    static std::string hostOf(const std::string& url);

    // A permission row's state: its words, how they are shown, and its button.
    struct PermissionRow {
        enum class Look {
            granted,  // green, after a check mark
            warning,  // orange: something is left for the user to do
            plain,    // the secondary text colour: nothing to do, nothing granted either
        };
        std::string state;
        Look look = Look::granted;
        std::string button;
        bool operator==(const PermissionRow&) const = default;
    };
    // A granted row has no button: there is no settings pane to show. A grant with nothing to
    // grant (no device it is about) asks nothing of the user; one held back by a missing module
    // names it, and its button shows what to do.
    static PermissionRow permissionRow(PermissionState::Grant grant, GrantCause cause = GrantCause::none);

    // The how-to's three steps: each step's words and, for the first, its button's.
    struct HowTo {
        std::string first;
        std::string firstButton;
        std::string second;
        std::string third;
        bool operator==(const HowTo&) const = default;
    };
    // With nothing to grant for Input Monitoring (`noDevice`) the last step asks for Accessibility
    // alone: "both" could never say Granted. Over Linux devices, with Accessibility held back by
    // the missing uinput module (`moduleMissing`), the first step names the module too: no rule
    // brings it.
    static HowTo howTo(GrantCause inputMonitoring = GrantCause::none,
                       GrantCause accessibility = GrantCause::none);
    // The permission guide's card over Linux devices: what to do with the commands below it. With
    // the uinput module missing it names the module and what loads it, now and at every boot.
    static std::string ruleGuideText(bool uinputMissing);
    // Where a start over real devices points for what mends its problems (after each of them).
    static constexpr std::string_view remediesWhere =
        ": General page, \"Show Commands\u2026\", or README, \"Using it with real devices\"";
    // The how-to steps show while either grant is missing.
    static bool showsHowTo(const PermissionState& permissions);

    // The config file's path with the home folder written as "~".
    static std::string abbreviatedPath(const std::string& path, const std::string& home);
};

}  // namespace tindlewave
