#include "Settings/Model/General/GeneralTexts.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "Runtime/Worlds/WorldTexts.h"

#include "Settings/Model/Texts/RelativeDate.h"

namespace tindlewave {

std::string GeneralTexts::loginDetail(LoginItemState state, const std::optional<std::string>& error) {
    if (error) return "Could not change it: " + *error;
    switch (state) {
    case LoginItemState::on:
        return "Tindlewave starts when you log in, so your devices are set up right away.";
    case LoginItemState::off: return "Tindlewave starts only when you open it.";
    case LoginItemState::needsApproval: return "Waiting for you to allow it in Login Items.";
    }
    return {};
}

namespace {
// What is in force while the file has an error: the last good settings, or none when the file
// was never read whole (it could not be made or read at the start).
std::string meanwhile(const ConfigSnapshot& snapshot) {
    return snapshot.config ? "Tindlewave keeps using the last good settings."
                           : "Tindlewave has no settings yet, so it leaves every device as the "
                             "system has it.";
}
}  // namespace

std::string GeneralTexts::loadDetail(const std::optional<ConfigSnapshot>& snapshot,
                                     const std::optional<Date>& loadedAt, const TimeText& time) {
    if (snapshot && snapshot->error)
        return "Has an error: " + snapshot->error->description() + ". " + meanwhile(*snapshot);
    if (loadedAt) return "Loaded at " + time(*loadedAt) + ". Saving the file reloads it.";
    return "Loading\u2026";
}

std::string GeneralTexts::configErrorDetail(const ConfigSnapshot& snapshot) {
    const std::string error = snapshot.error ? snapshot.error->description() : "";
    return error + ". " + meanwhile(snapshot) + " Fix the file to change settings here.";
}

std::string GeneralTexts::updatesDetail(const std::string& version, bool automaticallyChecks,
                                        const std::string& host,
                                        const std::optional<Date>& lastCheck, Date now) {
    std::string text = "You have version " + version + ". ";
    if (!automaticallyChecks)
        text += "Tindlewave checks only when you ask.";
    else if (host.empty())
        text += "Once a day Tindlewave reads its update feed for the latest version, and sends nothing.";
    else
        text += "Once a day Tindlewave asks " + host + " for the latest version, and sends nothing else.";
    if (lastCheck) text += " Last checked " + relativeDateText(*lastCheck, now) + ".";
    return text;
}

std::string GeneralTexts::hostOf(const std::string& url) {
    // A file is read where it lies, whatever host its address names.
    const std::string_view scheme = "file:";
    if (url.size() >= scheme.size() &&
        std::equal(scheme.begin(), scheme.end(), url.begin(),
                   [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); }))
        return "";
    auto start = url.find("://");
    start = start == std::string::npos ? 0 : start + 3;
    const auto end = url.find_first_of("/?#", start);
    std::string host = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (const auto at = host.rfind('@'); at != std::string::npos) host.erase(0, at + 1);
    return host;
}

GeneralTexts::PermissionRow GeneralTexts::permissionRow(PermissionState::Grant grant, GrantCause cause) {
    using Look = PermissionRow::Look;
    switch (grant) {
    case PermissionState::Grant::granted:
        if (cause == GrantCause::noDevice) return {"No HID++ mouse connected", Look::plain, ""};
        return {"Granted", Look::granted, ""};
    case PermissionState::Grant::denied:
        if (cause == GrantCause::moduleMissing)
            return {"No uinput module loaded", Look::warning, "Allow\u2026"};
        return {"Not allowed", Look::warning, "Allow\u2026"};
    case PermissionState::Grant::notDetermined: return {"Not asked yet", Look::warning, "Allow\u2026"};
    }
    return {};
}

GeneralTexts::HowTo GeneralTexts::howTo(GrantCause inputMonitoring, GrantCause accessibility) {
    const std::string which =
        inputMonitoring == GrantCause::noDevice ? "Check that Accessibility says" : "Check that both say";
    if (worldTexts() == WorldTexts::linuxDevices)
        return {accessibility == GrantCause::moduleMissing
                    ? "Load the uinput module and install Tindlewave's device rule (once, as an administrator)"
                    : "Install Tindlewave's device rule (once, as an administrator)",
                "Show Commands\u2026", "Reconnect your mice and keyboards, or log out and back in",
                which + " Granted below"};
    return {"Go to System Settings \u203A Privacy & Security", "Open System Settings",
            "Switch on Tindlewave under Accessibility and under Input Monitoring",
            which + " Granted below, or click Allow\u2026 to be asked"};
}

std::string GeneralTexts::ruleGuideText(bool uinputMissing) {
    const std::string_view access =
        " Any program you run can then read these devices while you are logged in at this computer.";
    if (uinputMissing)
        return "The uinput module is not loaded. The commands below load it (sudo modprobe uinput, and "
               "/etc/modules-load.d/uinput.conf for the next boots) and install the rule once (your "
               "password is asked); then reconnect the devices." + std::string(access);
    return "Install the rule below once (your password is asked), then reconnect the devices." +
           std::string(access);
}

bool GeneralTexts::showsHowTo(const PermissionState& permissions) {
    return permissions.accessibility != PermissionState::Grant::granted ||
           permissions.inputMonitoring != PermissionState::Grant::granted;
}

std::string GeneralTexts::abbreviatedPath(const std::string& path, const std::string& home) {
    if (home.empty() || home == "/") return path;
    std::string prefix = home;
    if (prefix.back() == '/') prefix.pop_back();
    if (path == prefix) return "~";
    if (path.starts_with(prefix + "/")) return "~" + path.substr(prefix.size());
    return path;
}

}  // namespace tindlewave
