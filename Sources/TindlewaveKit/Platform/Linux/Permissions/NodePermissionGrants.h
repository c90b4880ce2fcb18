#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/PermissionGrants.h"

namespace tindlewave {

class LinuxDeviceRegistry;
struct Config;

// The device nodes the two grants are about, as present now.
struct PermissionNodes {
    std::vector<std::string> hidpp = {};      // hidraw nodes of HID++ interfaces
    std::vector<std::string> mice = {};       // event nodes of mice that are not keyboards too
    std::vector<std::string> keyboards = {};  // event nodes of keyboards (a mouse that types too)
    std::string uinput = "/dev/uinput";

    // What the registry lists now: HID++ interfaces' hidraw nodes, mouse and keyboard event nodes
    // (split as the device rules split them: a node that is a keyboard is a keyboard's).
    static PermissionNodes of(const LinuxDeviceRegistry& registry);
};

// The grants on Linux, where they are the file permissions of device nodes, checked with access()
// as the running user (the kernel's own check: mode, ACLs from the seat's uaccess rule and the
// process's current groups, so a user added to a group who has not logged in again reads as
// denied): Input Monitoring is read and write access to every HID++ hidraw node (granted while
// there is none: nothing is held back, and `cause` tells that no such device is connected);
// Accessibility is write access to uinput and read access to every mouse event node (`cause`
// tells when the uinput node is missing: its module is not loaded). A listed node that is no
// longer there is a device being unplugged (its node goes before the registry hears of it) and
// holds no grant back. The keyboards' event nodes come with a rule of their own that only a configuration
// using keyboards needs (`setKeyboardsNeeded`): they keep no grant from being given, and count
// among the problems only while needed. Nothing can be asked for: `request` does nothing (the
// guide tells the user what to install). Changes are told as the change source tells them (the
// world's: `watchNodeChanges`); without one, none are. Thread-safe as far as the node source is.
class NodePermissionGrants final : public PermissionGrants {
  public:
    using NodeSource = std::function<PermissionNodes()>;
    // Whether the running user may use a node in `mode` (R_OK, W_OK); replaceable for tests.
    using Check = std::function<bool(const std::string& path, int mode)>;
    // What `watch` answers with.
    using ChangeSource = std::function<std::optional<Subscription>(std::function<void()> changed)>;

    explicit NodePermissionGrants(NodeSource nodes, Check check = accessCheck, ChangeSource changes = nullptr);

    PermissionState::Grant inputMonitoring() override;
    PermissionState::Grant accessibility() override;
    void request(Permission) override {}
    GrantCause cause(Permission permission) override;
    std::optional<Subscription> watch(std::function<void()> changed) override;

    // Each node that keeps a grant from being given (or, while keyboards are needed, a keyboard
    // from being used), with the system's words ("/dev/hidraw3: not allowed for reading and
    // writing", "/dev/uinput: No such file or directory").
    std::vector<std::string> problems() const;
    // Whether the uinput node exists at all (the guide then tells how to load its module).
    bool hasUinput() const;

    // What would mend the problems: loading the uinput module, the mice's rule, the keyboards'.
    struct Remedies {
        bool loadUinput = false;
        bool installRule = false;
        bool installKeyboardRule = false;
        bool operator==(const Remedies&) const = default;
    };
    Remedies remedies() const;
    // What the user is told to do, a line per remedy; `where` ends the lines that point at the
    // rules' commands (": README, …").
    static std::vector<std::string> remedyTexts(const Remedies& remedies, std::string_view where);

    // Whether the configuration uses keyboards, so that their event nodes are needed too.
    void setKeyboardsNeeded(bool needed) { keyboardsNeeded_.store(needed); }
    bool keyboardsNeeded() const { return keyboardsNeeded_.load(); }
    // Whether `config` uses keyboards: the hyper key on for a keyboard, or a rule of a key.
    static bool usesKeyboards(const Config& config);

    // access(2) for the running user.
    static bool accessCheck(const std::string& path, int mode);

  private:
    NodeSource nodes_;
    Check check_;
    ChangeSource changes_;
    std::atomic<bool> keyboardsNeeded_{false};
};

}  // namespace tindlewave
