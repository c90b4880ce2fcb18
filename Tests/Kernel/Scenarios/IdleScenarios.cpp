// Both programs idle while they grab a keyboard and a mouse: every wake-up of every thread they
// have (voluntary and involuntary context switches, /proc/PID/task/*/status) over 10 s. A laptop
// pays for each; nothing typed or moved should wake them more than once a second.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "Kernel/Scenarios/Keyboards.h"
#include "TestKit/Uhid/UhidDevices.h"

namespace tindlewave::kernel {
namespace {

using testkit::uhid::BluetoothHidppMouse;

// Context switches of each thread of `pid` so far, by "tid name".
std::map<std::string, long long> switchesByThread(pid_t pid) {
    std::map<std::string, long long> counts;
    std::error_code error;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        std::ifstream status(task.path() / "status");
        std::string name;
        long long total = 0;
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("Name:", 0) == 0) name = line.substr(line.find_first_not_of(" \t", 5));
            if (line.find("ctxt_switches:") != std::string::npos) total += std::stoll(line.substr(line.find(':') + 1));
        }
        counts[task.path().filename().string() + " " + name] = total;
    }
    return counts;
}

std::string twoDevicesConfig(const Keyboard& keyboard) {
    return R"({
  "version": 1,
  "hyper": { "enabled": true, "key": "capsLock", "onTap": "nothing" },
  "devices": [
    { "match": { )" + keyboard.match + R"( }, "name": "Test USB Keyboard", "kind": "keyboard", "hyper": true },
    { "match": { "vendor": "0x046D", "product": "0xB023" }, "name": "Test mouse", "kind": "mouse",
      "rules": [ { "control": { "hidpp": "0xC4" }, "when": "click", "do": { "shortcut": "shift+cmd+4" } } ] }
  ],
  "ignored": []
})";
}

// Once `program` grabs both nodes and what its start still has under way (udev's adds of the
// program's devices, the desktop's moment after them, the journal's writes) has passed: its
// wake-ups over 10 s, printed by thread, at most one a second, and both nodes still grabbed.
void expectAsleepWhileGrabbing(Program& program, const std::string& keyboardNode, const std::string& mouseNode,
                               const char* which) {
    ASSERT_TRUE(waitUntil([&] { return grabbed(keyboardNode) && grabbed(mouseNode); }, 120s))
        << "not both grabbed\n" << program.seen();
    settleUdev();
    // A machine slowed by the host's load is slower with the rest of the start (the window
    // program's toolkit and first paints) as with everything else.
    std::this_thread::sleep_for(scaled(3s));

    const auto before = switchesByThread(program.pid());
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(10s);
    const auto after = switchesByThread(program.pid());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    long long total = 0;
    std::ostringstream byThread;
    for (const auto& [thread, count] : after) {
        auto was = before.find(thread);
        const long long woke = count - (was == before.end() ? 0 : was->second);
        total += woke;
        byThread << "  " << thread << ": " << woke << "\n";
    }
    const double perSecond = double(total) / seconds;
    std::printf("%s idle while grabbing a keyboard and a mouse: %.2f wake-ups a second (%lld in %.1f s)\n%s",
                which, perSecond, total, seconds, byThread.str().c_str());
    EXPECT_TRUE(grabbed(keyboardNode) && grabbed(mouseNode)) << "let go while idle\n" << program.seen();
    EXPECT_LE(perSecond, 1.0) << byThread.str();
}

struct TwoDevices {
    Keyboard keyboard = usbKeyboard();
    std::unique_ptr<BluetoothHidppMouse> mouse;
    std::string mouseNode;
    std::string error;

    TwoDevices() {
        mouse = BluetoothHidppMouse::create(recording("MX-Master-3-Wireless-Mouse-B023.json"), "MX Master 3",
                                            0xB023, error);
        if (mouse) mouseNode = waitForNode([] { return eventNodeContaining("MX Master 3"); });
        settleUdev();
    }
    // Why they are not there, or empty.
    std::string missing() const {
        if (keyboard.node.empty()) return "no keyboard\n" + describeInputNodes();
        if (!mouse) return error;
        if (mouseNode.empty()) return "no mouse node\n" + describeInputNodes();
        return {};
    }
};

TEST(Idle, WhileGrabbingAKeyboardAndAMouseWakesAtMostOnceASecond) {
    TwoDevices devices;
    ASSERT_EQ(devices.missing(), "");
    Program program;
    program.writeConfig(twoDevicesConfig(devices.keyboard));
    ASSERT_TRUE(program.start());
    ASSERT_TRUE(waitApplied(program)) << program.seen();
    expectAsleepWhileGrabbing(program, devices.keyboard.node, devices.mouseNode, "the headless program");
    EXPECT_EQ(program.quit(), 0) << program.seen();
}

// The window program on a virtual screen: its face (Qt's event loop, the tray) sleeps as well.
TEST(Idle, TheWindowProgramWhileGrabbingAKeyboardAndAMouseWakesAtMostOnceASecond) {
#ifndef TW_WINDOW_PROGRAM
    GTEST_SKIP() << "built without the window program";
#endif
    TwoDevices devices;
    ASSERT_EQ(devices.missing(), "");
    VirtualScreen screen;
    ASSERT_TRUE(screen.ok());
    Program program(screen);
    program.writeConfig(twoDevicesConfig(devices.keyboard));
    ASSERT_TRUE(program.start());
    // Its menu's line once both are set up, which the window shows too.
    ASSERT_TRUE(program.waitFor("devices=[Test USB Keyboard=Hyper key on; Test mouse=Connected]", 120s))
        << program.seen();
    expectAsleepWhileGrabbing(program, devices.keyboard.node, devices.mouseNode, "the window program");
    EXPECT_EQ(program.quit(), 0) << program.seen();
}

}  // namespace
}  // namespace tindlewave::kernel
