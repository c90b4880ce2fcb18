#pragma once

#include <string>

#include "Core/Instant.h"
#include "Model/EngineStatus.h"
#include "Runtime/Channel.h"

namespace tindlewave {

class Executor;
class PermissionGrants;

// Reads, requests and polls the program's two permissions over the platform's grants.
class Permissions {
  public:
    // Over the grants of the system the program runs on.
    Permissions();
    explicit Permissions(PermissionGrants& grants) : grants_(grants) {}

    // Both grants, read at once (Input Monitoring first).
    PermissionState current() const;
    void request(Permission permission) const;
    // The settings page where the user grants `permission`.
    static std::string settingsURL(Permission permission);

    // Polls every `interval` on `executor`: the first state at once, afterwards only changes.
    // Cancelling the subscription (or finishing the channel) stops the polling; `grants` and
    // `executor` must outlive it.
    Channel<PermissionState> updates(Duration interval, Executor& executor) const;

  private:
    PermissionGrants& grants_;
};

}  // namespace tindlewave
