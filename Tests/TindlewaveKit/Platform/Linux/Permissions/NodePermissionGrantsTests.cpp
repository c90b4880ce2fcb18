#include "Platform/Linux/Permissions/NodePermissionGrants.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <map>
#include <mutex>

#include "Model/Config.h"

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
            .mice = {"/dev/input/event4", "/dev/input/event7"},
            .uinput = "/dev/uinput"};
}

TEST(NodePermissionGrants, EachGrantFollowsItsNodes) {
    Access access{{{"/dev/hidraw3", R_OK | W_OK}, {"/dev/hidraw5", R_OK | W_OK},
                   {"/dev/input/event4", R_OK}, {"/dev/input/event7", R_OK}, {"/dev/uinput", W_OK}}};
    PermissionNodes present = nodes();
    NodePermissionGrants grants([&] { return present; }, std::ref(access));
    EXPECT_EQ(grants.inputMonitoring(), Grant::granted);
    EXPECT_EQ(grants.accessibility(), Grant::granted);
    EXPECT_EQ(grants.cause(Permission::inputMonitoring), GrantCause::none);
    EXPECT_EQ(grants.cause(Permission::accessibility), GrantCause::none);
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
    EXPECT_EQ(grants.cause(Permission::accessibility), GrantCause::moduleMissing);
    EXPECT_EQ(grants.problems().size(), 2u);

    // No HID++ interface (plain mice only): nothing is held back, so nothing is left for the user
    // to grant, and the cause says why; no event node: uinput alone.
    present = {.uinput = "/dev/uinput"};
    access.allowed["/dev/uinput"] = W_OK;
    EXPECT_EQ(grants.inputMonitoring(), Grant::granted);
    EXPECT_EQ(grants.cause(Permission::inputMonitoring), GrantCause::noDevice);
    EXPECT_EQ(grants.accessibility(), Grant::granted);
    EXPECT_EQ(grants.cause(Permission::accessibility), GrantCause::none);
    grants.request(Permission::accessibility);  // asks nothing, changes nothing
    EXPECT_EQ(grants.accessibility(), Grant::granted);
}

// Keyboards come with a rule of their own: they never hold a grant back, and count among the
// problems and remedies only while the configuration uses them.
TEST(NodePermissionGrants, KeyboardsCountOnlyWhileNeeded) {
    Access access{{{"/dev/hidraw3", R_OK | W_OK}, {"/dev/input/event4", R_OK}, {"/dev/input/event9", 0},
                   {"/dev/uinput", W_OK}}};
    PermissionNodes present{.hidpp = {"/dev/hidraw3"}, .mice = {"/dev/input/event4"}, .keyboards = {"/dev/input/event9"}};
    NodePermissionGrants grants([&] { return present; }, std::ref(access));
    EXPECT_EQ(grants.accessibility(), Grant::granted);
    EXPECT_TRUE(grants.problems().empty());
    EXPECT_EQ(grants.remedies(), NodePermissionGrants::Remedies{});

    grants.setKeyboardsNeeded(true);
    EXPECT_EQ(grants.accessibility(), Grant::granted);
    // (The words come from the real file system, where no such node is.)
    ASSERT_EQ(grants.problems().size(), 1u);
    EXPECT_TRUE(grants.problems()[0].starts_with("/dev/input/event9: "));
    EXPECT_EQ(grants.remedies(), (NodePermissionGrants::Remedies{.installKeyboardRule = true}));
}

// A missing uinput node is a module to load, not a rule to install; a node present but refused is
// (as every uinput node is before the device rule is installed): its cause is no missing module.
TEST(NodePermissionGrants, RemediesTellAMissingModuleFromAMissingRule) {
    Access access{{{"/dev/hidraw3", R_OK | W_OK}, {"/dev/input/event4", R_OK}}};
    PermissionNodes present{.hidpp = {"/dev/hidraw3"}, .mice = {"/dev/input/event4"}};
    NodePermissionGrants grants([&] { return present; }, std::ref(access));
    EXPECT_EQ(grants.remedies(), (NodePermissionGrants::Remedies{.loadUinput = true}));
    EXPECT_EQ(grants.cause(Permission::accessibility), GrantCause::moduleMissing);
    access.allowed["/dev/uinput"] = 0;
    EXPECT_EQ(grants.remedies(), (NodePermissionGrants::Remedies{.installRule = true}));
    EXPECT_EQ(grants.accessibility(), Grant::denied);
    EXPECT_TRUE(grants.hasUinput());
    EXPECT_EQ(grants.cause(Permission::accessibility), GrantCause::none);
    access.allowed["/dev/uinput"] = W_OK;
    access.allowed["/dev/hidraw3"] = R_OK;
    EXPECT_EQ(grants.remedies(), (NodePermissionGrants::Remedies{.installRule = true}));
}

// Unplugged, a device's node goes before udev tells the registry: for that moment a node is listed
// that is not there. A device leaving is no grant lost (the menu would ask for attention until
// the registry catches up), no problem and no rule to install; a node there and refused still is.
TEST(NodePermissionGrants, ANodeGoneBeforeTheRegistryDropsItHoldsNoGrantBack) {
    Access access{{{"/dev/hidraw3", R_OK | W_OK}, {"/dev/hidraw5", R_OK | W_OK},
                   {"/dev/input/event4", R_OK}, {"/dev/input/event7", R_OK}, {"/dev/uinput", W_OK}}};
    PermissionNodes present = nodes();
    present.keyboards = {"/dev/input/event9"};
    NodePermissionGrants grants([&] { return present; }, std::ref(access));
    grants.setKeyboardsNeeded(true);
    access.allowed.erase("/dev/hidraw5");
    access.allowed.erase("/dev/input/event7");  // and the keyboard's event9 is gone too
    EXPECT_EQ(grants.inputMonitoring(), Grant::granted);
    EXPECT_EQ(grants.accessibility(), Grant::granted);
    EXPECT_TRUE(grants.problems().empty());
    EXPECT_EQ(grants.remedies(), NodePermissionGrants::Remedies{});

    access.allowed["/dev/hidraw3"] = R_OK;
    access.allowed["/dev/input/event4"] = 0;
    EXPECT_EQ(grants.inputMonitoring(), Grant::denied);
    EXPECT_EQ(grants.accessibility(), Grant::denied);
    EXPECT_EQ(grants.problems().size(), 2u);
    EXPECT_EQ(grants.remedies(), (NodePermissionGrants::Remedies{.installRule = true}));
}

TEST(NodePermissionGrants, AConfigurationUsesKeyboardsForTheHyperKeyOrAKeyRule) {
    Config config = Config::empty();
    EXPECT_FALSE(NodePermissionGrants::usesKeyboards(config)) << "the hyper key on, but on no keyboard";
    DeviceProfile keyboard{DeviceMatch::builtIn(), "Built-in keyboard"};
    keyboard.hyper = true;
    config.devices.push_back(keyboard);
    EXPECT_TRUE(NodePermissionGrants::usesKeyboards(config));
    config.hyper.enabled = false;
    EXPECT_FALSE(NodePermissionGrants::usesKeyboards(config));
    config.devices[0].rules = std::vector<Rule>{
        Rule{Control::key(HIDUsage::named("escape").value()), Trigger::click(), Action::modifier(HeldModifier::rightOption)}};
    EXPECT_TRUE(NodePermissionGrants::usesKeyboards(config));
}

}  // namespace
}  // namespace tindlewave
