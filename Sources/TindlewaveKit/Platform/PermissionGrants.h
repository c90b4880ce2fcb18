#pragma once

#include <functional>
#include <optional>

#include "Model/EngineStatus.h"
#include "Platform/Cancellable.h"

namespace tindlewave {

// What stands behind a grant where its state alone would mislead the user: a grant with nothing
// to grant yet (no device it is about is connected), or one held back by a part of the system
// that is missing (a kernel module not loaded) rather than by a permission.
enum class GrantCause { none, noDevice, moduleMissing };

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
    // Why the grant reads as it does now, where its state alone would mislead; none by default.
    virtual GrantCause cause(Permission permission) {
        (void)permission;
        return GrantCause::none;
    }
    // Calls `changed`, on a thread of the grants' choosing, whenever a grant may have changed,
    // until the handle is cancelled (from any thread: no call begins after that, and `changed` is
    // let go of). None when these grants tell of no change: their reader reads them again now
    // and then.
    virtual std::optional<Subscription> watch(std::function<void()> changed) {
        (void)changed;
        return std::nullopt;
    }
};

}  // namespace tindlewave
