// A keyboard's own key table under the real kernel: the hyper key and a held modifier written into
// it, the baseline kept in the state folder across a killed run and a logout, a stored table that
// is not the keyboard's refused, and a key changed by another tool left alone when the program
// puts its routes back.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <fstream>

#include "Kernel/Scenarios/Guest.h"
#include "TestKit/Uhid/UhidDevices.h"

namespace tindlewave::kernel {
namespace {

using testkit::uhid::UsbKeyboard;

constexpr std::uint32_t scanCapsLock = 0x70039, scanA = 0x70004, scanB = 0x70005;
constexpr int keyB = 48, keyC = 46;

// The hyper key on Caps Lock (a carrier, F18) and A held as Left Control (a route onto a key that
// is no carrier: only the stored baseline tells it from the keyboard's own).
const std::string keyboardConfig = R"({
  "version": 1,
  "hyper": { "enabled": true, "key": "capsLock", "onTap": "nothing" },
  "devices": [
    { "match": { "vendor": "0x3412", "product": "0x7801" }, "name": "Test keyboard", "kind": "keyboard",
      "hyper": true,
      "rules": [ { "control": { "key": "a" }, "when": "hold", "do": { "modifier": "leftControl" } } ] }
  ],
  "ignored": []
})";

// Gives a scan code another key, as setkeycodes or hwdb would.
bool setKeyCode(const std::string& node, std::uint32_t scanCode, int key) {
    int fd = ::open(node.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    input_keymap_entry entry{};
    entry.len = sizeof scanCode;
    entry.keycode = static_cast<unsigned>(key);
    std::memcpy(entry.scancode, &scanCode, sizeof scanCode);
    const bool done = ::ioctl(fd, EVIOCSKEYCODE_V2, &entry) == 0;
    ::close(fd);
    return done;
}

std::string bootID() {
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string id;
    std::getline(in, id);
    return id;
}

// The input device an event node belongs to ("input7").
std::string inputOf(const std::string& node) {
    const auto event = std::filesystem::path(node).filename();
    return std::filesystem::canonical("/sys/class/input" / event / "device").filename().string();
}

TEST(KeyMap, RoutesArePutBackAfterAKilledRunAndALogoutAndOtherKeysAreLeftAlone) {
    std::string error;
    auto keyboard = UsbKeyboard::create("Test keyboard", 0x3412, 0x7801, error);
    ASSERT_TRUE(keyboard) << error;
    const std::string node = waitForNode([] { return eventNode("Test keyboard"); });
    ASSERT_FALSE(node.empty()) << describeInputNodes();
    settleUdev();
    ASSERT_EQ(keyCode(node, scanCapsLock), keyCapsLock);
    ASSERT_EQ(keyCode(node, scanA), keyA);

    Program program;
    program.writeConfig(keyboardConfig);
    ASSERT_TRUE(program.start()) << program.seen();
    ASSERT_TRUE(waitApplied(program)) << program.seen();
    EXPECT_EQ(keyCode(node, scanCapsLock), keyF18);
    EXPECT_EQ(keyCode(node, scanA), keyLeftCtrl);
    const auto stored = program.home() / ".local/state/tindlewave/keymap" /
                        (bootID() + "-" + inputOf(node) + ".json");
    EXPECT_TRUE(std::filesystem::is_regular_file(stored)) << stored;

    // The run is killed with its routes in the table, and the user logs out (the runtime folder
    // goes) and in again.
    program.kill(SIGKILL);
    ASSERT_NE(program.waitForEnd(), -1);
    EXPECT_EQ(keyCode(node, scanA), keyLeftCtrl);
    std::filesystem::remove_all(program.home() / "run");
    std::filesystem::create_directories(program.home() / "run");

    // The next run knows A's route from the stored baseline. Another tool moves B while it runs;
    // the quit puts back what the program routed and leaves B as the tool set it.
    auto mark = program.mark();
    ASSERT_TRUE(program.start()) << program.seen();
    ASSERT_TRUE(waitApplied(program)) << program.seen().substr(mark);
    ASSERT_TRUE(setKeyCode(node, scanB, keyC));
    EXPECT_EQ(program.quit(), 0) << program.seen().substr(mark);
    EXPECT_EQ(keyCode(node, scanCapsLock), keyCapsLock);
    EXPECT_EQ(keyCode(node, scanA), keyA);
    EXPECT_EQ(keyCode(node, scanB), keyC);

    // A stored table that is not the keyboard's (short, as a crafted or cut file) is not taken:
    // the routes still work and go back at quit.
    std::ofstream(stored, std::ios::trunc) << "{\"boot\":\"" << bootID()
                                           << "\",\"table\":[[458809,58]],\"routed\":[]}\n";
    std::filesystem::permissions(stored, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    mark = program.mark();
    ASSERT_TRUE(program.start()) << program.seen();
    ASSERT_TRUE(waitApplied(program)) << program.seen().substr(mark);
    EXPECT_EQ(keyCode(node, scanCapsLock), keyF18);
    EXPECT_EQ(keyCode(node, scanA), keyLeftCtrl);
    EXPECT_EQ(program.quit(), 0) << program.seen().substr(mark);
    EXPECT_EQ(keyCode(node, scanCapsLock), keyCapsLock);
    EXPECT_EQ(keyCode(node, scanA), keyA);
    EXPECT_EQ(keyCode(node, scanB), keyC);
}

}  // namespace
}  // namespace tindlewave::kernel
