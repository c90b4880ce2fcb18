#include "Platform/Linux/Permissions/LinuxPermissionGrants.h"

namespace tindlewave {

PermissionGrants& systemPermissionGrants() {
    static LinuxPermissionGrants grants;
    return grants;
}

}  // namespace tindlewave
