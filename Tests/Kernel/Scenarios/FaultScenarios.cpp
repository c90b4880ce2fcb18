// Faults that only the real kernel shows: the program's input thread stalled (that thread alone
// stopped with ptrace), the program stopped by Ctrl-Z (SIGTSTP) or killed while a key or the hyper
// key is held, an evdev buffer overflow while stalled, keys typed fast through the grab and
// overflowing it, the first shortcut after start read by a desktop that opens the program's
// keyboard only when udev announces it, and a key routed to a modifier. Each checks what the
// desktop sees: libinput's held keys and the nodes' key state.

#include <gtest/gtest.h>

#include <linux/input.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "Kernel/Scenarios/Keyboards.h"
#include "Kernel/Scenarios/Typing.h"
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
    const auto stopped = std::chrono::steady_clock::now();
    // The watchdog lets go of the keyboard; the key is let go of meanwhile.
    EXPECT_TRUE(waitUntil([&] { return !grabbed(run.keyboard.node); }, 30s)) << "still grabbed";
    const std::chrono::duration<double> late = std::chrono::steady_clock::now() - stopped;
    char line[120];
    std::snprintf(line, sizeof line, "the keyboard was let go of %.2f s after the input thread stopped\n", late.count());
    std::printf("%s", line);
    RecordProperty("lateness", line);
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

// --- keys typed fast through the grab

std::string keyText(const InputEvent& key) { return std::to_string(key.code) + (key.value ? " down" : " up"); }

// What breaks the node's order in what a reader got: a key that does not come later in what was
// typed than the key before it, or a key's up with its down not before it. Empty when none.
std::string outOfOrder(const std::vector<Typed>& got, const std::vector<Typed>& sent) {
    std::size_t at = 0;
    std::map<int, int> last;
    bool readerLost = false;
    for (std::size_t i = 0; i < got.size(); ++i) {
        // What the reader itself lost is not the program's: after its own overflow a key is
        // known again only from what the reader sees of it next (an up whose down it lost too).
        if (got[i].afterGap) {
            last.clear();
            readerLost = true;
        }
        const auto previous = last.find(got[i].key.code);
        const bool known = previous != last.end() || !readerLost;
        if (known && (previous == last.end() ? 0 : previous->second) == got[i].key.value)
            return "key " + std::to_string(i) + " (" + keyText(got[i].key) + ") twice running";
        last[got[i].key.code] = got[i].key.value;
        while (at < sent.size() && !(sent[at].key == got[i].key)) ++at;
        if (at == sent.size())
            return "key " + std::to_string(i) + " (" + keyText(got[i].key) + ") out of the node's order";
        ++at;
    }
    return {};
}

std::string typingFigures(const char* what, const std::vector<Typed>& sent, const std::vector<Typed>& got,
                          const ThreadTimes& times) {
    char line[320];
    std::snprintf(line, sizeof line,
                  "%s: %zu key downs and ups typed, %zu read from the mirror; input thread %.0f ms on a "
                  "processor (%.0f ms in the program, %.0f ms in the kernel), %.0f ms waiting for one, %ld "
                  "waits, %ld preemptions\n",
                  what, sent.size(), latenciesMs(got, sent).size(), times.runMs, times.userMs, times.systemMs,
                  times.queuedMs, times.waits, times.preempted);
    return line;
}

// The first line of the program's journal (its log files, whichever of its stores wrote it)
// that holds `text`; empty when none does.
std::string journalLine(const Program& program, const std::string& text) {
    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(program.home(), error)) {
        if (entry.path().extension() != ".jsonl") continue;
        std::ifstream file(entry.path());
        for (std::string line; std::getline(file, line);)
            if (line.find(text) != std::string::npos) return line;
    }
    return {};
}

// Keys paced 2 ms apart, in bursts, and over an input thread held up long enough to overflow its
// buffer while typing goes on: whatever the mirror gets comes in the node's order, and once the
// program has caught up the mirror holds what the keyboard holds.
TEST(KeysThroughTheGrab, PacedAndInBurstsKeepTheNodesOrderAcrossAnOverflow) {
    Running run;
    NodeReader mirrored(run.mirror);
    ASSERT_TRUE(mirrored.ok());
    auto& keyboard = *run.keyboard.usb;
    const pid_t thread = inputThread(run.program);
    ASSERT_GT(thread, 0);
    std::vector<Typed> sent;
    std::string figures;

    auto times = threadTimes(run.program.pid(), thread);
    ASSERT_TRUE(typeKeys(keyboard, 2000, 2ms, sent));
    waitForLast(mirrored, sent);
    figures += typingFigures("paced 2 ms", sent, keysRead(mirrored), threadTimes(run.program.pid(), thread) - times);

    times = threadTimes(run.program.pid(), thread);
    const std::size_t burstsFrom = sent.size();
    for (int burst = 0; burst < 10; ++burst) {
        ASSERT_TRUE(typeKeys(keyboard, 100, 0ms, sent));
        waitForLast(mirrored, sent, 5s);
    }
    figures += typingFigures("bursts of 100", std::vector<Typed>(sent.begin() + static_cast<long>(burstsFrom), sent.end()),
                        keysRead(mirrored), threadTimes(run.program.pid(), thread) - times);

    // Held up for 40 reports (the buffer holds 21), the thread reads on while the typing goes on;
    // the last time a key is down when it comes back.
    for (int round = 0; round < 5; ++round) {
        StoppedThread stall(thread);
        ASSERT_TRUE(stall.stopped());
        ASSERT_TRUE(typeKeys(keyboard, round == 4 ? 41 : 120, 2ms, sent, [&](int i) {
            if (i == 40) stall.resume();
        }));
        if (round < 4) waitForLast(mirrored, sent, 5s);
    }
    ASSERT_EQ(sent.back().key.value, 1);
    EXPECT_TRUE(waitUntil([&] { return keysDown(run.mirror) == keysDown(run.keyboard.node); }, 20s))
        << "the mirror does not hold what the keyboard holds\n" << mirrored.describe();
    EXPECT_EQ(keysDown(run.mirror), std::set<int>{sent.back().key.code});
    ASSERT_TRUE(typeKeys(keyboard, 1, 0ms, sent));
    EXPECT_TRUE(waitUntil([&] { return keysDown(run.mirror).empty(); }, 20s)) << mirrored.describe();

    const auto got = keysRead(mirrored);
    const std::string broken = outOfOrder(got, sent);
    EXPECT_TRUE(broken.empty()) << broken << "\n" << mirrored.describe();
    EXPECT_TRUE(waitUntil([&] { return run.desktop.keysHeld().empty(); }, 20s)) << run.report();
    EXPECT_EQ(run.program.quit(), 0) << run.report();
    // The bursts and the held-up rounds overflowed the program's buffer for the node (what the
    // order check is about) and its resync ran: the node's journal line counts them.
    const std::string told = journalLine(run.program, "overflowed");
    const auto said = told.find(" overflowed ");
    const int overflows = said == std::string::npos ? 0 : std::atoi(told.c_str() + said + 12);
    EXPECT_GE(overflows, 5) << "the program's buffer for the node overflowed " << overflows
                            << " times (each held-up round overflows it)\n" << told;
    figures += "the mirror's reader overflowed " + std::to_string(mirrored.count(EV_SYN, SYN_DROPPED)) +
               " times; the program's journal: " + (told.empty() ? std::string("no overflow") : told) + "\n";
    std::printf("%s", figures.c_str());
    RecordProperty("figures", figures);
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
