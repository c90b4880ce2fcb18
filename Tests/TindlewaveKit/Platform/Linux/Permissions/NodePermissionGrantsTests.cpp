#include "Platform/Linux/Permissions/NodePermissionGrants.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <map>
#include <mutex>

namespace tindlewave {
namespace {

using Grant = PermissionState::Grant;

// Node modes as the kernel would answer them for the running user.
struct Access {
    std::map<std::string, int> allowed;  // path to the modes allowed (F_OK: present, nothing else)
    bool operator()(const std::string& path, int mode) const {
        auto found = allowed.find(path);
        if (found == allowed.end()) return false;
        return mode == F_OK || (found->second & mode) == mode;
    }
};

PermissionNodes nodes() {
    return {.hidpp = {"/dev/hidraw3", "/dev/hidraw5"},
            .events = {"/dev/input/event4", "/dev/input/event7"},
            .uinput = "/dev/uinput"};
}

TEST(NodePermissionGrants, EachGrantFollowsItsNodes) {
    Access access{{{"/dev/hidraw3", R_OK | W_OK}, {"/dev/hidraw5", R_OK | W_OK},
                   {"/dev/input/event4", R_OK}, {"/dev/input/event7", R_OK}, {"/dev/uinput", W_OK}}};
    PermissionNodes present = nodes();
    NodePermissionGrants grants([&] { return present; }, std::ref(access));
    EXPECT_EQ(grants.inputMonitoring(), Grant::granted);
    EXPECT_EQ(grants.accessibility(), Grant::granted);
    EXPECT_TRUE(grants.problems().empty());

    access.allowed["/dev/hidraw5"] = R_OK;  // readable only: HID++ needs both
    EXPECT_EQ(grants.inputMonitoring(), Grant::denied);
    EXPECT_EQ(grants.accessibility(), Grant::granted);

    access.allowed["/dev/input/event7"] = 0;
    EXPECT_EQ(grants.accessibility(), Grant::denied);
    access.allowed["/dev/input/event7"] = R_OK;
    access.allowed.erase("/dev/uinput");
    EXPECT_EQ(grants.accessibility(), Grant::denied);
    EXPECT_FALSE(grants.hasUinput());
    EXPECT_EQ(grants.problems().size(), 2u);

    // No HID++ interface: nothing to tell Input Monitoring by; no event node: uinput alone.
    present = {.uinput = "/dev/uinput"};
    access.allowed["/dev/uinput"] = W_OK;
    EXPECT_EQ(grants.inputMonitoring(), Grant::notDetermined);
    EXPECT_EQ(grants.accessibility(), Grant::granted);
    grants.request(Permission::accessibility);  // asks nothing, changes nothing
    EXPECT_EQ(grants.accessibility(), Grant::granted);
}

}  // namespace
}  // namespace tindlewave
