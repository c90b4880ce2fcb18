#include "Platform/Linux/LinuxPermissionGrants.h"

namespace tindlewave {

PermissionGrants& systemPermissionGrants() {
    static LinuxPermissionGrants grants;
    return grants;
}

}  // namespace tindlewave
