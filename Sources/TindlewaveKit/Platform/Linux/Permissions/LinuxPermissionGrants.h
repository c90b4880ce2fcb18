#pragma once

#include "Platform/PermissionGrants.h"

namespace tindlewave {

// Linux has no such grants: access to devices is a matter of file permissions, checked when a
// device is opened. Both read as granted and requests do nothing.
class LinuxPermissionGrants final : public PermissionGrants {
  public:
    PermissionState::Grant inputMonitoring() override { return PermissionState::Grant::granted; }
    PermissionState::Grant accessibility() override { return PermissionState::Grant::granted; }
    void request(Permission) override {}
};

}  // namespace tindlewave
