#pragma once

#include "Core/Instant.h"
#include "Model/EngineStatus.h"
#include "Platform/PermissionGrants.h"
#include "Runtime/Executors/Channel.h"

namespace tindlewave {

class Executor;

// Reads, requests and polls the program's two permissions over the platform's grants.
class Permissions {
  public:
    // Over a world's grants (`ProgramWorld::grants()`); `grants` must outlive it. There is no
    // default: a grant read from nowhere would answer for devices it never looked at.
    explicit Permissions(PermissionGrants& grants) : grants_(grants) {}

    // Both grants, read at once (Input Monitoring first).
    PermissionState current() const;
    void request(Permission permission) const;
    // Why the grant reads as it does now (`PermissionGrants::cause`).
    GrantCause cause(Permission permission) const;

    // The shortest polling interval; a shorter one (zero or negative included) is raised to it.
    static constexpr Duration shortestInterval = std::chrono::milliseconds(10);

    // Polls every `interval` on `executor`: the first state at once, afterwards only changes.
    // Grants that tell of their changes (`PermissionGrants::watch`) are read on `executor` after
    // each change instead, with no timer. Cancelling the subscription (or finishing the channel)
    // stops the polling, and so does dropping the stream before anyone subscribed (at the next
    // poll or change); `grants` and `executor` must outlive it.
    Channel<PermissionState> updates(Duration interval, Executor& executor) const;

  private:
    PermissionGrants& grants_;
};

}  // namespace tindlewave
