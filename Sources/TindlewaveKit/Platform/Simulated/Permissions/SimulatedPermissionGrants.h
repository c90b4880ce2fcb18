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

    void setAccessibility(Grant grant) { accessibility_ = grant; }
    void setInputMonitoring(Grant grant) { inputMonitoring_ = grant; }

    std::atomic<int> accessibilityReads{0};
    std::atomic<int> inputMonitoringReads{0};
    std::atomic<int> accessibilityRequests{0};
    std::atomic<int> inputMonitoringRequests{0};

  private:
    std::atomic<Grant> accessibility_;
    std::atomic<Grant> inputMonitoring_;
};

}  // namespace tindlewave
