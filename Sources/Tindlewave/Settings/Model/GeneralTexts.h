#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Model/Date.h"
#include "Model/EngineStatus.h"
#include "Platform/Linux/Permissions/NodePermissionGrants.h"
#include "Platform/LoginItem.h"
#include "Runtime/Stores/ConfigSnapshot.h"
#include "Settings/Model/TimeText.h"

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
    // The Updates row's detail. `host` is the update feed's host.
    static std::string updatesDetail(const std::string& version, bool automaticallyChecks,
                                     const std::string& host, const std::optional<Date>& lastCheck,
                                     Date now);
    // The host of a feed address ("https://updates.example.org/feed.xml" → "updates.example.org").
    static std::string hostOf(const std::string& url);

    // A permission row's state: its words, whether they are a warning (orange) rather than a
    // grant (green), and its button.
    struct PermissionRow {
        std::string state;
        bool warning = false;
        std::string button;
        bool operator==(const PermissionRow&) const = default;
    };
    // A granted row has no button: there is no settings pane to show. Over Linux devices an
    // undetermined grant is one with no node to read yet, and its button shows what to install.
    static PermissionRow permissionRow(PermissionState::Grant grant);

    // The how-to's three steps: each step's words and, for the first, its button's.
    struct HowTo {
        std::string first;
        std::string firstButton;
        std::string second;
        std::string third;
        bool operator==(const HowTo&) const = default;
    };
    static HowTo howTo();
    // The commands that install the device rule, one per line, for a terminal: the rule's whole
    // text is written by `sudo tee` from the commands themselves (a here-document), so what is
    // installed is what the user reads, never a file another process could swap first. With
    // `keyboards` (the configuration uses them) the keyboards' rule too; without `hasUinput` the
    // commands that load the uinput module, now and at every boot.
    static std::string ruleCommands(bool hasUinput, bool keyboards);
    // What a start over real devices says should be done, one line each: load the uinput module
    // (no rule brings a missing node), install the device rule, install the keyboards' rule.
    static std::vector<std::string> deviceRemedies(const NodePermissionGrants::Remedies& remedies);
    // The how-to steps show while either grant is missing.
    static bool showsHowTo(const PermissionState& permissions);

    // The config file's path with the home folder written as "~".
    static std::string abbreviatedPath(const std::string& path, const std::string& home);
};

}  // namespace tindlewave
