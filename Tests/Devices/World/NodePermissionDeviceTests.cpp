#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>

#include "Platform/Linux/Devices/LinuxDeviceRegistry.h"
#include "Platform/Linux/Permissions/NodeChangeWatch.h"
#include "Platform/Linux/Permissions/NodePermissionGrants.h"
#include "Runtime/Executors/RunLoopExecutor.h"
#include "Runtime/Permissions.h"
#include "TestKit/TempFolder.h"
#include "TestKit/Umockdev/Fixtures.h"
#include "TestKit/Umockdev/Preload.h"
#include "TestKit/Umockdev/Testbed.h"
#include "TestKit/Waiter.h"

namespace tindlewave::testkit::umockdev {
namespace {

using Grant = PermissionState::Grant;

// The grants over an emulated machine, read as an unprivileged user (root may use any node).
struct Machine {
    Testbed testbed;
    FixtureDevice mouse = bluetoothHidppMouse(0);
    FixtureDevice keyboard = usbKeyboard(1);

    explicit Machine(bool withMouse = true, bool withUinput = true) {
        if (withMouse) {
            EXPECT_TRUE(testbed.add(mouse.text()));
        }
        EXPECT_TRUE(testbed.add(keyboard.text()));
        if (withUinput) {
            EXPECT_TRUE(testbed.add(uinputNode().text()));
        }
    }
    // The node is a pseudo-terminal of this process: its mode is what the kernel checks.
    void setMode(const std::string& devnode, mode_t mode) {
        auto target = std::filesystem::read_symlink(testbed.rootDir() + devnode);
        ASSERT_EQ(::chmod(target.c_str(), mode), 0) << target;
    }
    // `uinput`: where the grants look for /dev/uinput (the machine's own is passed through by
    // the emulation when the tree has none, so a test of its absence names a path that is not there).
    std::pair<Grant, Grant> grants(std::vector<std::string>* problems = nullptr, bool keyboardsNeeded = false,
                                   NodePermissionGrants::Remedies* remedies = nullptr,
                                   std::optional<std::string> uinput = std::nullopt,
                                   std::pair<GrantCause, GrantCause>* causes = nullptr) {
        LinuxDeviceRegistry registry;
        NodePermissionGrants grants([&] {
            auto nodes = PermissionNodes::of(registry);
            if (uinput) nodes.uinput = *uinput;
            return nodes;
        });
        grants.setKeyboardsNeeded(keyboardsNeeded);
        if (problems) *problems = grants.problems();
        if (remedies) *remedies = grants.remedies();
        if (causes)
            *causes = {grants.cause(Permission::inputMonitoring), grants.cause(Permission::accessibility)};
        return {grants.inputMonitoring(), grants.accessibility()};
    }
};

TEST(NodePermissionDevices, TheNodesListedAreTheHidppHidrawAndTheMouseAndKeyboardEventNodes) {
    Machine machine;
    LinuxDeviceRegistry registry;
    const auto nodes = PermissionNodes::of(registry);
    EXPECT_EQ(nodes.hidpp, std::vector<std::string>{machine.mouse.hidraw});
    EXPECT_EQ(nodes.mice, std::vector<std::string>{machine.mouse.event});
    EXPECT_EQ(nodes.keyboards, std::vector<std::string>{machine.keyboard.event});
}

TEST(NodePermissionDevices, BothGrantedWhenEveryNodeMayBeUsed) {
    if (rerunUnprivileged()) return;
    Machine machine;
    for (const auto& node : {machine.mouse.hidraw, machine.mouse.event, machine.keyboard.event, std::string("/dev/uinput")})
        machine.setMode(node, 0600);
    std::vector<std::string> problems;
    EXPECT_EQ(machine.grants(&problems), std::pair(Grant::granted, Grant::granted));
    EXPECT_TRUE(problems.empty());
}

TEST(NodePermissionDevices, EachGrantIsDeniedByItsOwnNodes) {
    if (rerunUnprivileged()) return;
    Machine machine;
    for (const auto& node : {machine.mouse.event, machine.keyboard.event, std::string("/dev/uinput")})
        machine.setMode(node, 0600);
    machine.setMode(machine.mouse.hidraw, 0400);  // readable, not writable
    std::vector<std::string> problems;
    EXPECT_EQ(machine.grants(&problems), std::pair(Grant::denied, Grant::granted));
    EXPECT_EQ(problems, std::vector<std::string>{machine.mouse.hidraw + ": not allowed for reading and writing"});

    machine.setMode(machine.mouse.hidraw, 0600);
    machine.setMode(machine.mouse.event, 0);
    EXPECT_EQ(machine.grants(), std::pair(Grant::granted, Grant::denied));
    machine.setMode(machine.mouse.event, 0600);
    // uinput there but not writable, as before the device rule is installed: not allowed, and no
    // module is missing.
    machine.setMode("/dev/uinput", 0400);
    NodePermissionGrants::Remedies remedies;
    std::pair<GrantCause, GrantCause> causes;
    EXPECT_EQ(machine.grants(nullptr, false, &remedies, std::nullopt, &causes), std::pair(Grant::granted, Grant::denied));
    EXPECT_EQ(remedies, NodePermissionGrants::Remedies{.installRule = true});
    EXPECT_EQ(causes, std::pair(GrantCause::none, GrantCause::none));
}

// The keyboards have a rule of their own: without it both grants stand (mice work), and the
// keyboard counts as a problem, with its rule as the remedy, only once keyboards are needed.
TEST(NodePermissionDevices, AnUnreadableKeyboardMattersOnlyWhileKeyboardsAreNeeded) {
    if (rerunUnprivileged()) return;
    Machine machine;
    for (const auto& node : {machine.mouse.hidraw, machine.mouse.event, std::string("/dev/uinput")})
        machine.setMode(node, 0600);
    machine.setMode(machine.keyboard.event, 0);
    std::vector<std::string> problems;
    NodePermissionGrants::Remedies remedies;
    EXPECT_EQ(machine.grants(&problems, false, &remedies), std::pair(Grant::granted, Grant::granted));
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(remedies, NodePermissionGrants::Remedies{});
    EXPECT_EQ(machine.grants(&problems, true, &remedies), std::pair(Grant::granted, Grant::granted));
    EXPECT_EQ(problems, std::vector<std::string>{machine.keyboard.event + ": not allowed for reading"});
    EXPECT_EQ(remedies, NodePermissionGrants::Remedies{.installKeyboardRule = true});
}

// Plain mice leave nothing to grant for Input Monitoring: nothing asks the user for it, and its
// cause says why. A missing uinput node denies Accessibility for a cause of its own.
TEST(NodePermissionDevices, WithoutHidppNodesNothingIsLeftToGrantAndWithoutUinputItsModuleIsMissing) {
    if (rerunUnprivileged()) return;
    Machine machine(false, false);
    machine.setMode(machine.keyboard.event, 0600);
    std::vector<std::string> problems;
    NodePermissionGrants::Remedies remedies;
    std::pair<GrantCause, GrantCause> causes;
    const std::string missing = machine.testbed.rootDir() + "/dev/uinput";
    EXPECT_EQ(machine.grants(&problems, false, &remedies, missing, &causes), std::pair(Grant::granted, Grant::denied));
    EXPECT_EQ(causes, std::pair(GrantCause::noDevice, GrantCause::moduleMissing));
    EXPECT_EQ(problems, std::vector<std::string>{missing + ": No such file or directory"});
    // No rule brings a missing node: its module is what to load.
    EXPECT_EQ(remedies, NodePermissionGrants::Remedies{.loadUinput = true});
}

// A HID++ mouse that udev announces after the folders' own events (here: folders where nothing
// happens) is still taken up: the registry's change alone has the grants read again.
TEST(NodePermissionDevices, TheGrantsAreReadAgainWhenTheRegistryListsANewHidppNode) {
    Machine machine(false);
    testkit::TempFolder quiet;
    auto udev = std::make_unique<RunLoopExecutor>("test.udev");
    auto poll = std::make_unique<RunLoopExecutor>("test.poll");
    auto reader = std::make_unique<RunLoopExecutor>("test.reader");
    auto registry = std::make_unique<LinuxDeviceRegistry>(*udev);
    ASSERT_TRUE(registry->followsHotplug());
    // Its hidraw node there but refused: the grant then turns from nothing to grant to denied.
    NodePermissionGrants grants([&] { return PermissionNodes::of(*registry); },
                                [](const std::string& path, int mode) {
                                    return mode == F_OK || !path.starts_with("/dev/hidraw");
                                },
                                [&](std::function<void()> changed) {
                                    return watchNodeChanges(*udev, *registry, std::move(changed),
                                                            {quiet.path().string()});
                                });
    testkit::Waiter waiter;
    std::vector<Grant> seen;
    auto subscription = Permissions(grants).updates(std::chrono::seconds(1), *poll).subscribe(
        *reader, [&](PermissionState state) {
            waiter.update([&] { seen.push_back(state.inputMonitoring); });
        });
    ASSERT_TRUE(waiter.waitFor([&] { return !seen.empty(); }));
    EXPECT_EQ(waiter.read([&] { return seen.front(); }), Grant::granted);

    ASSERT_TRUE(machine.testbed.add(machine.mouse.text()));
    EXPECT_TRUE(waiter.waitFor([&] { return seen.back() == Grant::denied; }))
        << "the mouse's hidraw node never read";

    subscription.cancel();
    for (auto* executor : {reader.get(), poll.get(), udev.get()}) {
        executor->stop();
        executor->join();
    }
    registry.reset();
}

}  // namespace
}  // namespace tindlewave::testkit::umockdev
