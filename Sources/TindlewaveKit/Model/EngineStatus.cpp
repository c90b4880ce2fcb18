#include "Model/EngineStatus.h"

namespace tindlewave {

std::vector<Attention> EngineStatus::attention() const {
    std::vector<Attention> list;
    if (permissions.accessibility != PermissionState::Grant::granted) {
        list.push_back(Attention::permission(Permission::accessibility));
    }
    if (permissions.inputMonitoring != PermissionState::Grant::granted) {
        list.push_back(Attention::permission(Permission::inputMonitoring));
    }
    if (configError) list.push_back(Attention::config(*configError, configInForce));
    if (tap == TapState::failed) list.push_back(Attention::tapFailed());
    return list;
}

}  // namespace tindlewave
