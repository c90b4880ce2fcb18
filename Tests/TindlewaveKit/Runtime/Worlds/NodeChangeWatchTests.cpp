#include "Platform/Linux/Permissions/NodeChangeWatch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>

#include "Platform/Linux/Devices/LinuxDeviceRegistry.h"
#include "Runtime/Executors/RunLoopExecutor.h"
#include "TestKit/TempFolder.h"
#include "TestKit/Waiter.h"

namespace tindlewave {
namespace {

// The world's watch on the udev thread: a node made and a node given a new mode are told there;
// cancelling from another thread lets go of the callback.
TEST(NodeChangeWatch, TellsOfANodeMadeAndOfItsNewModeAndLetsGoWhenCancelled) {
    testkit::TempFolder folder;
    RunLoopExecutor udev("test.udev");
    LinuxDeviceRegistry registry;
    testkit::Waiter waiter;
    int told = 0;
    auto owner = std::make_shared<int>(0);
    std::weak_ptr<int> held = owner;
    auto watch = watchNodeChanges(
        udev, registry, [&, owner] { waiter.update([&] { ++told; }); }, {folder.path().string()});
    owner.reset();
    ASSERT_TRUE(watch);

    const std::string node = folder / "event3";
    testkit::TempFolder::write(node, "");
    ASSERT_TRUE(waiter.waitFor([&] { return told > 0; }));
    const int made = waiter.read([&] { return told; });
    ASSERT_EQ(::chmod(node.c_str(), 0600), 0);
    EXPECT_TRUE(waiter.waitFor([&] { return told > made; }));

    watch->cancel();
    EXPECT_TRUE(held.expired());
}

}  // namespace
}  // namespace tindlewave
