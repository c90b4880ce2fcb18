#pragma once

#include <atomic>

#include "Platform/PermissionGrants.h"

namespace tindlewave {

// Grants a test sets at will, counting every read and request. Thread-safe.
class SimulatedPermissionGrants final : public PermissionGrants {
  public:
    using Grant = PermissionState::Grant;

    explicit SimulatedPermissionGrants(Grant accessibility = Grant::granted,
                                       Grant inputMonitoring = Grant::granted)
        : accessibility_(accessibility), inputMonitoring_(inputMonitoring) {}

    Grant inputMonitoring() override {
        ++inputMonitoringReads;
        return inputMonitoring_;
    }
    Grant accessibility() override {
        ++accessibilityReads;
        return accessibility_;
    }
    void request(Permission permission) override {
        ++(permission == Permission::accessibility ? accessibilityRequests
                                                   : inputMonitoringRequests);
    }

    GrantCause cause(Permission permission) override {
        return permission == Permission::accessibility ? accessibilityCause_ : inputMonitoringCause_;
    }

    void setAccessibility(Grant grant) { accessibility_ = grant; }
    void setInputMonitoring(Grant grant) { inputMonitoring_ = grant; }
    void setCause(Permission permission, GrantCause cause) {
        (permission == Permission::accessibility ? accessibilityCause_ : inputMonitoringCause_) = cause;
    }

    std::atomic<int> accessibilityReads{0};
    std::atomic<int> inputMonitoringReads{0};
    std::atomic<int> accessibilityRequests{0};
    std::atomic<int> inputMonitoringRequests{0};

  private:
    std::atomic<Grant> accessibility_;
    std::atomic<Grant> inputMonitoring_;
    std::atomic<GrantCause> accessibilityCause_{GrantCause::none};
    std::atomic<GrantCause> inputMonitoringCause_{GrantCause::none};
};

}  // namespace tindlewave
