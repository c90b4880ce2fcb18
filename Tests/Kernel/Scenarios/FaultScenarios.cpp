// Faults that only the real kernel shows: the program's input thread stalled (that thread alone
// stopped with ptrace), the program stopped by Ctrl-Z (SIGTSTP) or killed while a key or the hyper
// key is held, an evdev buffer overflow while stalled, the first shortcut after start read by a
// desktop that opens the program's keyboard only when udev announces it, and a key routed to a
// modifier. Each checks what the desktop sees: libinput's held keys and the nodes' key state.

#include <gtest/gtest.h>

#include <linux/input.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "Kernel/Scenarios/Keyboards.h"
#include "TestKit/Uhid/UhidDevices.h"

namespace tindlewave::kernel {
namespace {

// One thread of another process stopped with ptrace (the rest runs on); resumed when dropped.
class StoppedThread {
  public:
    explicit StoppedThread(pid_t thread) : thread_(thread) {
        if (::ptrace(PTRACE_SEIZE, thread_, nullptr, nullptr) != 0) return;
        seized_ = true;
        if (::ptrace(PTRACE_INTERRUPT, thread_, nullptr, nullptr) != 0) return;
        int status = 0;
        stopped_ = ::waitpid(thread_, &status, __WALL) == thread_;
    }
    ~StoppedThread() { resume(); }
    bool stopped() const { return stopped_; }
    void resume() {
        if (seized_) ::ptrace(PTRACE_DETACH, thread_, nullptr, nullptr);
        seized_ = stopped_ = false;
    }

  private:
    pid_t thread_;
    bool seized_ = false;
    bool stopped_ = false;
};

// The program's input thread: the tap executor's ("….tap").
pid_t inputThread(const Program& program) {
    for (const auto& [tid, name] : program.threads())
        if (name.size() >= 3 && name.compare(name.size() - 3, 3, "tap") == 0) return tid;
    return -1;
}

bool processStopped(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    auto close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'T';
}

bool libinputHolds(LibinputWatch& desktop, const std::string& key) { return desktop.keysHeld().count(key) > 0; }

bool anyModifierHeld(LibinputWatch& desktop) {
    for (const auto& key : desktop.keysHeld())
        if (key.find("CTRL") != std::string::npos || key.find("ALT") != std::string::npos ||
            key.find("SHIFT") != std::string::npos || key.find("META") != std::string::npos)
            return true;
    return false;
}

// The USB keyboard with the hyper key, the program running over it with the keyboard grabbed
// behind its mirror, and a desktop (libinput) watching from before the program started.
struct Running {
    Keyboard keyboard = usbKeyboard();
    LibinputWatch desktop;
    Program program;
    std::string mirror;
    std::string virtualKeyboard;

    explicit Running(const std::string& extraRules = "") {
        EXPECT_FALSE(keyboard.node.empty());
        EXPECT_TRUE(desktop.waitFor({"Test USB Keyboard"}, 60s)) << desktop.output();
        program.writeConfig(hyperConfig({&keyboard}, true, extraRules));
        EXPECT_TRUE(program.start());
        EXPECT_TRUE(waitApplied(program)) << program.seen();
        mirror = waitForNode([&] { return eventNode(keyboard.name, true); });
        virtualKeyboard = waitForNode([] { return eventNode("Tindlewave virtual keyboard", true); });
        EXPECT_TRUE(waitUntil([&] { return grabbed(keyboard.node); }));
        EXPECT_FALSE(mirror.empty());
        // The desktop has taken up the mirror (a second device of the keyboard's name) and the
        // program's keyboard.
        EXPECT_TRUE(desktop.waitFor({"DEVICE_ADDED", "Tindlewave virtual keyboard"}, 60s)) << desktop.output();
        EXPECT_TRUE(waitUntil([&] { return desktop.count({"DEVICE_ADDED", keyboard.name}) >= 2; }, 60s))
            << desktop.output();
    }

    std::string report() { return program.seen() + "\n--- libinput:\n" + desktop.output(); }
};

// --- the input thread stalled

TEST(StalledInputThread, WithAKeyHeld) {
    Running run;
    ASSERT_TRUE(run.keyboard.press("a"));
    ASSERT_TRUE(run.desktop.waitFor({"KEY_A (30) pressed"})) << run.report();
    const pid_t thread = inputThread(run.program);
    ASSERT_GT(thread, 0);
    StoppedThread stall(thread);
    ASSERT_TRUE(stall.stopped());
    // The watchdog lets go of the keyboard; the key is let go of meanwhile.
    EXPECT_TRUE(waitUntil([&] { return !grabbed(run.keyboard.node); }, 30s)) << "still grabbed";
    ASSERT_TRUE(run.keyboard.release("a"));
    // One wait for both, which a fault fails, so that it fails once.
    waitUntil([&] { return !libinputHolds(run.desktop, "KEY_A") && !keysDown(run.mirror).count(keyA); }, 10s);
    EXPECT_FALSE(libinputHolds(run.desktop, "KEY_A")) << "the desktop still holds A\n" << run.report();
    EXPECT_FALSE(keysDown(run.mirror).count(keyA)) << "the mirror still holds A";
    stall.resume();
    EXPECT_EQ(run.program.quit(), 0) << run.report();
}

TEST(StalledInputThread, WithTheHyperKeyHeld) {
    Running run;
    ASSERT_TRUE(run.keyboard.press("caps"));
    ASSERT_TRUE(waitUntil([&] { return fourModifiersDown(run.virtualKeyboard); }, 30s)) << run.report();
    StoppedThread stall(inputThread(run.program));
    ASSERT_TRUE(stall.stopped());
    EXPECT_TRUE(waitUntil([&] { return !grabbed(run.keyboard.node); }, 30s)) << "still grabbed";
    ASSERT_TRUE(run.keyboard.release("caps"));
    waitUntil([&] { return noModifierDown(run.virtualKeyboard) && !anyModifierHeld(run.desktop); }, 10s);
    EXPECT_TRUE(noModifierDown(run.virtualKeyboard)) << "the program's keyboard still holds the hyper key's modifiers";
    EXPECT_FALSE(anyModifierHeld(run.desktop)) << run.report();
    stall.resume();
    EXPECT_EQ(run.program.quit(), 0) << run.report();
}

// Keys pressed and let go of while the input thread is stalled overflow its evdev buffer; once it
// runs again it must find every key up.
TEST(StalledInputThread, EvdevBufferOverflowLeavesNoKeyHeld) {
    Running run;
    NodeReader mirrored(run.mirror);
    ASSERT_TRUE(run.keyboard.press("a"));
    ASSERT_TRUE(mirrored.waitFor({EV_KEY, keyA, 1})) << mirrored.describe();
    {
        StoppedThread stall(inputThread(run.program));
        ASSERT_TRUE(stall.stopped());
        for (int i = 0; i < 60; ++i) {
            run.keyboard.press("b");
            run.keyboard.release("b");
        }
        ASSERT_TRUE(run.keyboard.release("a"));
    }
    EXPECT_TRUE(waitUntil([&] { return keysDown(run.mirror).empty(); }, 20s))
        << "keys still down on the mirror\n" << mirrored.describe();
    EXPECT_TRUE(waitUntil([&] { return run.desktop.keysHeld().empty(); }, 20s)) << run.report();
    EXPECT_EQ(run.program.quit(), 0) << run.report();
}

// --- stopped by Ctrl-Z

TEST(StoppedByCtrlZ, WithAKeyHeld) {
    Running run;
    ASSERT_TRUE(run.keyboard.press("a"));
    ASSERT_TRUE(run.desktop.waitFor({"KEY_A (30) pressed"})) << run.report();
    run.program.kill(SIGTSTP);
    ASSERT_TRUE(waitUntil([&] { return processStopped(run.program.pid()); }, 30s));
    ASSERT_TRUE(run.keyboard.release("a"));
    // Stopped, it holds neither the keyboard nor a key.
    EXPECT_FALSE(grabbed(run.keyboard.node)) << "the stopped program keeps the keyboard grabbed";
    EXPECT_TRUE(waitUntil([&] { return !libinputHolds(run.desktop, "KEY_A"); }, 10s)) << run.report();
    run.program.kill(SIGCONT);
    EXPECT_TRUE(waitUntil([&] { return grabbed(run.keyboard.node); }, 60s)) << "not grabbed again after SIGCONT";
    EXPECT_EQ(run.program.quit(), 0) << run.report();
}

TEST(StoppedByCtrlZ, WithTheHyperKeyHeld) {
    Running run;
    ASSERT_TRUE(run.keyboard.press("caps"));
    ASSERT_TRUE(waitUntil([&] { return fourModifiersDown(run.virtualKeyboard); }, 30s)) << run.report();
    run.program.kill(SIGTSTP);
    ASSERT_TRUE(waitUntil([&] { return processStopped(run.program.pid()); }, 30s));
    ASSERT_TRUE(run.keyboard.release("caps"));
    EXPECT_FALSE(grabbed(run.keyboard.node)) << "the stopped program keeps the keyboard grabbed";
    waitUntil([&] { return noModifierDown(run.virtualKeyboard) && !anyModifierHeld(run.desktop); }, 10s);
    EXPECT_TRUE(noModifierDown(run.virtualKeyboard)) << "the stopped program's keyboard holds the hyper key's modifiers";
    EXPECT_FALSE(anyModifierHeld(run.desktop)) << run.report();
    run.program.kill(SIGCONT);
    EXPECT_EQ(run.program.quit(), 0) << run.report();
}

// --- killed

TEST(Killed, WithAKeyHeld) {
    Running run;
    ASSERT_TRUE(run.keyboard.press("a"));
    ASSERT_TRUE(run.desktop.waitFor({"KEY_A (30) pressed"})) << run.report();
    run.program.kill(SIGKILL);
    ASSERT_NE(run.program.waitForEnd(), -1);
    ASSERT_TRUE(run.keyboard.release("a"));
    EXPECT_FALSE(grabbed(run.keyboard.node));
    EXPECT_TRUE(waitUntil([&] { return !libinputHolds(run.desktop, "KEY_A"); }, 20s)) << run.report();
    EXPECT_TRUE(keysDown(run.keyboard.node).empty());
}

// --- the first shortcut after start

// A udev that takes its time over the program's keyboard, as a busy one does at login: its "add"
// is announced 3 s after the device was made (udevd announces an event once its RUN programs
// ended). Removed again when dropped.
class SlowAnnouncement {
  public:
    SlowAnnouncement() {
        std::filesystem::create_directories("/run/udev/rules.d");
        std::ofstream(path_) << "ACTION==\"add\", SUBSYSTEM==\"input\", KERNEL==\"event*\", "
                                "ATTRS{name}==\"Tindlewave virtual keyboard\", RUN+=\"/bin/sleep 3\"\n";
        [[maybe_unused]] int status = std::system("udevadm control --reload");
    }
    ~SlowAnnouncement() {
        std::filesystem::remove(path_);
        [[maybe_unused]] int status = std::system("udevadm control --reload && udevadm settle --timeout=60");
    }

  private:
    std::string path_ = "/run/udev/rules.d/99-tw-kernel-slow-announcement.rules";
};

TEST(FirstShortcut, AfterStartReachesADesktopThatOpensDevicesOnUdev) {
    SlowAnnouncement slowUdev;
    std::string error;
    auto mouse = testkit::uhid::BluetoothHidppMouse::create(recording("MX-Master-3-Wireless-Mouse-B023.json"),
                                                            "MX Master 3", 0xB023, error);
    ASSERT_TRUE(mouse) << error;
    ASSERT_FALSE(waitForNode([] { return eventNodeContaining("MX Master 3"); }).empty());
    settleUdev();
    LibinputWatch desktop;
    ASSERT_TRUE(desktop.waitFor({"MX Master 3"}, 60s)) << desktop.output();
    Program program;
    program.writeConfig(R"({
  "version": 1,
  "hyper": { "enabled": false, "key": "capsLock", "onTap": "nothing" },
  "devices": [ { "match": { "vendor": "0x046D", "product": "0xB023" }, "name": "Test mouse", "kind": "mouse",
                 "rules": [ { "control": { "hidpp": "0xC4" }, "when": "click", "do": { "shortcut": "shift+cmd+4" } } ] } ],
  "ignored": []
})");
    ASSERT_TRUE(program.start());
    // The click as soon as the button is diverted.
    ASSERT_TRUE(waitUntil([&] {
        return mouse->hidpp().read([](const VirtualHidppMouse& m) {
            auto reporting = m.reporting(0xC4);
            return reporting && reporting->divert;
        });
    }, 120s)) << program.seen();
    mouse->act([](VirtualHidppMouse& m, Instant now) { m.press(0xC4, now); });
    mouse->act([](VirtualHidppMouse& m, Instant now) { m.release(0xC4, now); });
    EXPECT_TRUE(program.waitFor("action: ", 60s)) << program.seen();
    if (!desktop.waitFor({"KEY_4 (5) pressed"}, 12s)) {
        // Lost: a second click, once the desktop has surely opened the program's keyboard, tells
        // whether only the first was.
        mouse->act([](VirtualHidppMouse& m, Instant now) { m.press(0xC4, now); });
        mouse->act([](VirtualHidppMouse& m, Instant now) { m.release(0xC4, now); });
        const bool second = desktop.waitFor({"KEY_4 (5) pressed"}, 30s);
        ADD_FAILURE() << "the desktop did not see the first shortcut after start"
                      << (second ? " (it saw the second)" : " (nor a second one)") << "\n"
                      << program.seen() << "\n" << desktop.output();
    }
    EXPECT_TRUE(desktop.waitFor({"KEY_4 (5) released"}, 30s)) << desktop.output();
    EXPECT_EQ(program.quit(), 0) << program.seen();
}

// --- a key routed to a modifier

TEST(KeyRoute, ToAModifierOnAHidKeyboard) {
    Running run(R"({ "control": { "key": "b" }, "when": "hold", "do": { "modifier": "rightCommand" } })");
    // Held with another key: the desktop sees the modifier, then the key, then both let go of.
    ASSERT_TRUE(run.keyboard.press("b"));
    EXPECT_TRUE(run.desktop.waitFor({"KEY_RIGHTMETA (126) pressed"}, 30s)) << run.report();
    ASSERT_TRUE(run.keyboard.press("a"));
    EXPECT_TRUE(run.desktop.waitFor({"KEY_A (30) pressed"}, 30s)) << run.report();
    ASSERT_TRUE(run.keyboard.release("a"));
    ASSERT_TRUE(run.keyboard.release("b"));
    EXPECT_TRUE(waitUntil([&] { return run.desktop.keysHeld().empty(); }, 20s)) << run.report();
    EXPECT_FALSE(run.desktop.waitFor({"KEY_B (48) pressed"}, 1s)) << run.report();
    EXPECT_TRUE(keysDown(run.mirror).empty());
    EXPECT_TRUE(keysDown(run.virtualKeyboard).empty());
    EXPECT_EQ(run.program.quit(), 0) << run.report();
}

}  // namespace
}  // namespace tindlewave::kernel
