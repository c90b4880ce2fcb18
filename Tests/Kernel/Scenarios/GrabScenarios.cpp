// A keyboard's grab under the real kernel, as a desktop sees it (libinput following udev): the
// program grabs the node only once udev has announced the node's mirror, and what the keyboard
// sends from the grab on reaches the desktop through the mirror.

#include <gtest/gtest.h>

#include <linux/input.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>

#include "Kernel/Scenarios/Guest.h"
#include "TestKit/Uhid/UhidDevices.h"

namespace tindlewave::kernel {
namespace {

using testkit::uhid::UsbKeyboard;

// Whether udev has announced the node: its entry is in udev's database.
bool announced(const std::string& node) {
    struct stat info{};
    if (::stat(node.c_str(), &info) != 0) return false;
    return std::filesystem::exists("/run/udev/data/c" + std::to_string(major(info.st_rdev)) + ":" +
                                   std::to_string(minor(info.st_rdev)));
}

TEST(KeyboardGrab, WaitsForTheMirrorsAnnouncementAndLosesNoKeyAfterIt) {
    std::string error;
    auto keyboard = UsbKeyboard::create("Test Keyboard", 0x3412, 0x7801, error);
    ASSERT_TRUE(keyboard) << error;
    const std::string node = waitForNode([] { return eventNode("Test Keyboard"); });
    ASSERT_FALSE(node.empty()) << describeInputNodes();
    settleUdev();
    LibinputWatch desktop;

    Program program;
    program.writeConfig(R"({
  "version": 1,
  "hyper": { "enabled": true, "key": "capsLock", "onTap": "nothing" },
  "devices": [
    { "match": { "vendor": "0x3412", "product": "0x7801" }, "name": "Test Keyboard", "kind": "keyboard", "hyper": true }
  ],
  "ignored": []
})");
    ASSERT_TRUE(program.start());
    ASSERT_TRUE(waitUntil([&] { return grabbed(node); }, 120s)) << node << " is not grabbed\n" << program.seen();
    // Grabbed only once the desktop could know of the mirror.
    const std::string mirror = eventNode("Test Keyboard", true);
    ASSERT_FALSE(mirror.empty()) << describeInputNodes();
    EXPECT_TRUE(announced(mirror)) << mirror << " was grabbed behind before udev announced it";

    // A key typed at once reaches the desktop, from the mirror.
    ASSERT_TRUE(keyboard->press(0x04));
    ASSERT_TRUE(keyboard->release(0x04));
    const std::string mirrorName = std::filesystem::path(mirror).filename().string();
    EXPECT_TRUE(desktop.waitFor({mirrorName, "KEY_A", "pressed"}, 60s)) << desktop.output();
    EXPECT_TRUE(desktop.waitFor({mirrorName, "KEY_A", "released"}, 60s)) << desktop.output();
    EXPECT_TRUE(desktop.keysHeld().empty()) << desktop.output();

    EXPECT_EQ(program.quit(), 0) << program.seen();
    EXPECT_FALSE(grabbed(node));
}

}  // namespace
}  // namespace tindlewave::kernel
