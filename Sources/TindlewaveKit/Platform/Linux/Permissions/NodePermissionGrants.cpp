#include "Platform/Linux/Permissions/NodePermissionGrants.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Core/Devices/DeviceIdentity.h"
#include "Model/Config.h"
#include "Platform/Linux/Devices/LinuxDeviceRegistry.h"
#include "Platform/Linux/Input/LinuxEventSystem.h"
#include "Platform/Linux/Devices/LinuxHIDProperties.h"

namespace tindlewave {

namespace {

using Grant = PermissionState::Grant;

// Whether a node that is there refuses `mode`. A listed node that is gone is a device leaving:
// the kernel removes the node before udev tells the registry of the removal, so for a moment the
// registry still lists it. It holds nothing back, and no rule would bring it.
bool refuses(const std::string& path, int mode, const NodePermissionGrants::Check& check) {
    return !check(path, mode) && check(path, F_OK);
}

bool all(const std::vector<std::string>& paths, int mode, const NodePermissionGrants::Check& check) {
    for (const auto& path : paths)
        if (refuses(path, mode, check)) return false;
    return true;
}

std::string problem(const std::string& path, int mode) {
    if (::access(path.c_str(), F_OK) != 0) return path + ": " + std::strerror(errno);
    const char* wanted = mode == (R_OK | W_OK) ? "reading and writing"
                         : mode == W_OK        ? "writing"
                                               : "reading";
    return path + ": not allowed for " + wanted;
}

}  // namespace

PermissionNodes PermissionNodes::of(const LinuxDeviceRegistry& registry) {
    PermissionNodes nodes;
    for (const auto& entry : registry.entries()) {
        if (entry.kind == LinuxDeviceRegistry::Kind::eventService) {
            const auto kind = eventNodeKind(entry);
            if (entry.devnode.empty() || kind == EventNodeInfo::Kind::other) continue;
            if (entry.property("ID_INPUT_KEYBOARD") == "1")
                nodes.keyboards.push_back(entry.devnode);
            else
                nodes.mice.push_back(entry.devnode);
        } else if (entry.hid && entry.present && !entry.devnode.empty() &&
                   isHIDPPDevice(HIDProperties::fromBag(linuxHIDProperties(entry)))) {
            nodes.hidpp.push_back(entry.devnode);
        }
    }
    return nodes;
}

NodePermissionGrants::NodePermissionGrants(NodeSource nodes, Check check, ChangeSource changes)
    : nodes_(std::move(nodes)), check_(std::move(check)), changes_(std::move(changes)) {}

std::optional<Subscription> NodePermissionGrants::watch(std::function<void()> changed) {
    if (!changes_) return std::nullopt;
    return changes_(std::move(changed));
}

bool NodePermissionGrants::accessCheck(const std::string& path, int mode) {
    // The device emulation the tests run under redirects access(), not faccessat(); for a
    // program that is never set-user-id both ask the kernel the same question.
    return ::access(path.c_str(), mode) == 0;
}

Grant NodePermissionGrants::inputMonitoring() {
    // With no HID++ interface nothing is held back, and nothing is left for the user to grant.
    return all(nodes_().hidpp, R_OK | W_OK, check_) ? Grant::granted : Grant::denied;
}

Grant NodePermissionGrants::accessibility() {
    const auto nodes = nodes_();
    return check_(nodes.uinput, W_OK) && all(nodes.mice, R_OK, check_) ? Grant::granted
                                                                       : Grant::denied;
}

std::vector<std::string> NodePermissionGrants::problems() const {
    const auto nodes = nodes_();
    std::vector<std::string> found;
    for (const auto& path : nodes.hidpp)
        if (refuses(path, R_OK | W_OK, check_)) found.push_back(problem(path, R_OK | W_OK));
    if (!check_(nodes.uinput, W_OK)) found.push_back(problem(nodes.uinput, W_OK));
    for (const auto& path : nodes.mice)
        if (refuses(path, R_OK, check_)) found.push_back(problem(path, R_OK));
    if (keyboardsNeeded())
        for (const auto& path : nodes.keyboards)
            if (refuses(path, R_OK, check_)) found.push_back(problem(path, R_OK));
    return found;
}

GrantCause NodePermissionGrants::cause(Permission permission) {
    if (permission == Permission::inputMonitoring)
        return nodes_().hidpp.empty() ? GrantCause::noDevice : GrantCause::none;
    return hasUinput() ? GrantCause::none : GrantCause::moduleMissing;
}

bool NodePermissionGrants::hasUinput() const { return check_(nodes_().uinput, F_OK); }

NodePermissionGrants::Remedies NodePermissionGrants::remedies() const {
    const auto nodes = nodes_();
    Remedies remedies;
    // A missing uinput node is a module not loaded: no rule brings it.
    const bool uinputExists = check_(nodes.uinput, F_OK);
    remedies.loadUinput = !uinputExists;
    remedies.installRule = !all(nodes.hidpp, R_OK | W_OK, check_) || !all(nodes.mice, R_OK, check_) ||
                           (uinputExists && !check_(nodes.uinput, W_OK));
    remedies.installKeyboardRule = keyboardsNeeded() && !all(nodes.keyboards, R_OK, check_);
    return remedies;
}

std::vector<std::string> NodePermissionGrants::remedyTexts(const Remedies& remedies,
                                                          std::string_view where) {
    std::vector<std::string> lines;
    if (remedies.loadUinput)
        lines.emplace_back("load the uinput module: sudo modprobe uinput (and for the next boots: "
                           "echo uinput | sudo tee /etc/modules-load.d/uinput.conf)");
    if (remedies.installRule) lines.push_back("install the device rule" + std::string(where));
    if (remedies.installKeyboardRule)
        lines.push_back("the hyper key and key routes need the keyboards' rule too" + std::string(where));
    return lines;
}

bool NodePermissionGrants::usesKeyboards(const Config& config) {
    for (const auto& profile : config.devices) {
        if (config.hyper.enabled && profile.hyper.value_or(false)) return true;
        if (!profile.rules) continue;
        for (const auto& rule : *profile.rules)
            if (is<Control::Key>(rule.control)) return true;
    }
    return false;
}

}  // namespace tindlewave
