#pragma once

#include "Model/EngineStatus.h"

namespace tindlewave {

// The desktop's privacy grants: whether the program may see input devices (Input Monitoring) and
// watch and post events (Accessibility), and the prompts that ask the user for them. Callable from
// any thread. There is no default: each world gives its own (Linux: Permissions/NodePermissionGrants.h,
// read from the device nodes; simulated: Permissions/SimulatedPermissionGrants.h).
class PermissionGrants {
  public:
    virtual ~PermissionGrants() = default;

    virtual PermissionState::Grant inputMonitoring() = 0;
    // Never notDetermined.
    virtual PermissionState::Grant accessibility() = 0;
    // Asks the user; the outcome shows only in later reads.
    virtual void request(Permission permission) = 0;
};

}  // namespace tindlewave
