// Devices coming and going under the running program, and the project's udev rule giving an
// unprivileged user what the program needs.

#include <gtest/gtest.h>

#include <grp.h>
#include <linux/input.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include "Kernel/Scenarios/Keyboards.h"
#include "TestKit/Uhid/UhidDevices.h"

namespace tindlewave::kernel {
namespace {

using testkit::uhid::BluetoothHidppMouse;

std::unique_ptr<BluetoothHidppMouse> makeMouse() {
    std::string error;
    auto mouse = BluetoothHidppMouse::create(recording("MX-Master-3-Wireless-Mouse-B023.json"), "MX Master 3",
                                             0xB023, error);
    EXPECT_TRUE(mouse) << error;
    EXPECT_FALSE(waitForNode([] { return eventNodeContaining("MX Master 3"); }).empty());
    settleUdev();
    return mouse;
}

bool diverted(BluetoothHidppMouse& mouse, std::uint16_t cid) {
    return mouse.hidpp().read([cid](const VirtualHidppMouse& m) {
        auto reporting = m.reporting(cid);
        return reporting && reporting->divert;
    });
}

std::string mouseAndKeyboardConfig(const Keyboard& keyboard) {
    return R"({
  "version": 1,
  "hyper": { "enabled": true, "key": "capsLock", "onTap": "nothing" },
  "devices": [
    { "match": { "vendor": "0x046D", "product": "0xB023" }, "name": "Test mouse", "kind": "mouse",
      "rules": [ { "control": { "hidpp": "0xC4" }, "when": "click", "do": { "shortcut": "shift+cmd+4" } } ] },
    { "match": { )" + keyboard.match + R"( }, "name": "Test keyboard", "kind": "keyboard", "hyper": true }
  ],
  "ignored": []
})";
}

TEST(Hotplug, UnplugAndReplugUnderTheRunningProgram) {
    Keyboard keyboard = usbKeyboard();
    auto mouse = makeMouse();
    Program program;
    program.writeConfig(mouseAndKeyboardConfig(keyboard));
    ASSERT_TRUE(program.start());
    ASSERT_TRUE(waitApplied(program)) << program.seen();
    EXPECT_EQ(keyCode(keyboard.node, keyboard.capsScan), keyF18);
    EXPECT_TRUE(diverted(*mouse, 0xC4));

    // Unplugged: both nodes go; the program runs on.
    const std::string oldKeyboard = keyboard.node;
    keyboard.usb.reset();
    mouse.reset();
    ASSERT_TRUE(waitUntil([] { return eventNodeContaining("MX Master 3").empty() && eventNode("Test USB Keyboard").empty(); }));
    settleUdev();
    program.send("status");
    std::this_thread::sleep_for(2s);
    ASSERT_EQ(::kill(program.pid(), 0), 0) << program.seen();
    EXPECT_TRUE(eventNode("Test USB Keyboard", true).empty()) << "the unplugged keyboard's mirror stays";

    // Plugged in again: set up again, its rule acts, the key table routed.
    keyboard = usbKeyboard();
    mouse = makeMouse();
    ASSERT_FALSE(keyboard.node.empty());
    ASSERT_TRUE(waitUntil([&] { return diverted(*mouse, 0xC4); }, 120s)) << program.seen();
    ASSERT_TRUE(waitApplied(program)) << program.seen();
    EXPECT_EQ(keyCode(keyboard.node, keyboard.capsScan), keyF18) << program.seen();
    EXPECT_TRUE(waitUntil([&] { return grabbed(keyboard.node); })) << program.seen();
    const std::string virtualKeyboard = waitForNode([] { return eventNode("Tindlewave virtual keyboard", true); });
    ASSERT_FALSE(virtualKeyboard.empty());
    NodeReader keys(virtualKeyboard);
    mouse->act([](VirtualHidppMouse& m, Instant now) { m.press(0xC4, now); });
    mouse->act([](VirtualHidppMouse& m, Instant now) { m.release(0xC4, now); });
    EXPECT_TRUE(keys.waitFor({EV_KEY, key4, 1})) << keys.describe() << "\n" << program.seen();

    EXPECT_EQ(program.quit(), 0) << program.seen();
    EXPECT_FALSE(diverted(*mouse, 0xC4));
    EXPECT_EQ(keyCode(keyboard.node, keyboard.capsScan), keyCapsLock);
    EXPECT_FALSE(grabbed(keyboard.node));
}

// The project's rule, in its variant for a user without a seat (the group "input", mode 0660), in
// udev's runtime rules; removed again at the end (later scenarios of the same boot share udev).
class InstalledRule {
  public:
    InstalledRule() {
        std::ifstream in(std::string(TW_SOURCE_ROOT) + "/Data/udev/70-tindlewave.rules");
        std::stringstream text;
        text << in.rdbuf();
        rule_ = std::regex_replace(text.str(), std::regex("TAG\\+=\"uaccess\""), "GROUP=\"input\", MODE=\"0660\"");
        std::filesystem::create_directories("/run/udev/rules.d");
        std::ofstream(path_) << rule_;
        reload();
    }
    ~InstalledRule() {
        std::filesystem::remove(path_);
        reload();
    }
    static void reload() {
        [[maybe_unused]] int status = std::system(
            "udevadm control --reload && udevadm trigger --action=change --subsystem-match=hidraw "
            "--subsystem-match=input --subsystem-match=misc && udevadm settle --timeout=60");
    }
    const std::string& text() const { return rule_; }

  private:
    std::string path_ = "/run/udev/rules.d/70-tindlewave.rules";
    std::string rule_;
};

std::string modeAndGroup(const std::string& node) {
    struct stat info {};
    if (::stat(node.c_str(), &info) != 0) return node + ": missing";
    const group* g = ::getgrgid(info.st_gid);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", info.st_mode & 07777);
    return std::string(mode) + " " + (g ? g->gr_name : std::to_string(info.st_gid));
}

TEST(Permissions, TheUdevRuleGivesAnUnprivilegedUserWhatTheProgramNeeds) {
    const group* input = ::getgrnam("input");
    ASSERT_NE(input, nullptr) << "no group input";
    Keyboard keyboard = usbKeyboard();
    auto mouse = makeMouse();
    InstalledRule rule;
    const std::string hidraw = hidrawNode(0x046D, 0xB023);
    ASSERT_FALSE(hidraw.empty());
    for (const auto& node : {hidraw, keyboard.node, eventNodeContaining("MX Master 3"), std::string("/dev/uinput")})
        EXPECT_EQ(modeAndGroup(node), "0660 input") << node << "\n" << rule.text();

    // In the group: the device check pings the mouse, and the program sets both devices up.
    User member{65534, 65534, {input->gr_gid}};
    Program program(member);
    auto [status, output] = program.run({"--check-devices"});
    std::ofstream(artefacts() / "check-devices-member.txt") << output;
    EXPECT_EQ(status, 0) << output;
    program.writeConfig(mouseAndKeyboardConfig(keyboard));
    ASSERT_TRUE(program.start());
    ASSERT_TRUE(waitApplied(program)) << program.seen();
    EXPECT_TRUE(diverted(*mouse, 0xC4)) << program.seen();
    EXPECT_EQ(keyCode(keyboard.node, keyboard.capsScan), keyF18) << program.seen();
    EXPECT_TRUE(waitUntil([&] { return grabbed(keyboard.node); })) << program.seen();
    EXPECT_EQ(program.quit(), 0) << program.seen();
    EXPECT_EQ(keyCode(keyboard.node, keyboard.capsScan), keyCapsLock);
    EXPECT_FALSE(diverted(*mouse, 0xC4));

    // Outside the group: the device check says what it cannot reach.
    Program stranger(User{65534, 65534, {}});
    auto [refused, told] = stranger.run({"--check-devices"});
    std::ofstream(artefacts() / "check-devices-stranger.txt") << told;
    EXPECT_NE(refused, 0) << told;
    EXPECT_NE(told.find(hidraw), std::string::npos) << told;

    // Outside the group and running: the node given to everyone, then taken back, is seen by the
    // program as it happens, though udev says nothing of either.
    stranger.writeConfig(mouseAndKeyboardConfig(keyboard));
    ASSERT_TRUE(stranger.start());
    ASSERT_TRUE(stranger.waitFor("input monitoring denied")) << stranger.seen();
    const auto beforeGiven = stranger.mark();
    ASSERT_EQ(::chmod(hidraw.c_str(), 0666), 0) << hidraw;
    EXPECT_TRUE(stranger.waitFor("input monitoring granted", 30s, beforeGiven)) << stranger.seen();
    const auto beforeTaken = stranger.mark();
    ASSERT_EQ(::chmod(hidraw.c_str(), 0660), 0) << hidraw;
    EXPECT_TRUE(stranger.waitFor("input monitoring denied", 30s, beforeTaken)) << stranger.seen();
    EXPECT_EQ(stranger.quit(), 0) << stranger.seen();
}

}  // namespace
}  // namespace tindlewave::kernel
