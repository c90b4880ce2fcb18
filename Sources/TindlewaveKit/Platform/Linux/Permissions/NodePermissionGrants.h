#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Platform/PermissionGrants.h"

namespace tindlewave {

class LinuxDeviceRegistry;

// The device nodes the two grants are about, as present now.
struct PermissionNodes {
    std::vector<std::string> hidpp = {};   // hidraw nodes of HID++ interfaces
    std::vector<std::string> events = {};  // event nodes of mice and keyboards
    std::string uinput = "/dev/uinput";

    // What the registry lists now: HID++ interfaces' hidraw nodes, mouse and keyboard event nodes.
    static PermissionNodes of(const LinuxDeviceRegistry& registry);
};

// The grants on Linux, where they are the file permissions of device nodes, checked with access()
// as the running user (the kernel's own check: mode, ACLs from the seat's uaccess rule and the
// process's current groups, so a user added to a group who has not logged in again reads as
// denied): Input Monitoring is read and write access to every HID++ hidraw node (notDetermined
// while there is none); Accessibility is write access to uinput and read access to every mouse
// and keyboard event node. Nothing can be asked for: `request` does nothing (the guide tells the
// user what to install). Thread-safe as far as the node source is.
class NodePermissionGrants final : public PermissionGrants {
  public:
    using NodeSource = std::function<PermissionNodes()>;
    // Whether the running user may use a node in `mode` (R_OK, W_OK); replaceable for tests.
    using Check = std::function<bool(const std::string& path, int mode)>;

    explicit NodePermissionGrants(NodeSource nodes, Check check = accessCheck);

    PermissionState::Grant inputMonitoring() override;
    PermissionState::Grant accessibility() override;
    void request(Permission) override {}

    // Each node that keeps a grant from being given, with the system's words
    // ("/dev/hidraw3: Permission denied", "/dev/uinput: No such file or directory").
    std::vector<std::string> problems() const;
    // Whether the uinput node exists at all (the guide then tells how to load its module).
    bool hasUinput() const;

    // access(2) for the running user.
    static bool accessCheck(const std::string& path, int mode);

  private:
    NodeSource nodes_;
    Check check_;
};

}  // namespace tindlewave
