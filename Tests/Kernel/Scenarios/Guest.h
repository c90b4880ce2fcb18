#pragma once

// What the kernel tier's scenarios use inside the virtual machine: the headless program run as a
// user runs it, the machine's input nodes found by name, their key state, key tables and grabs,
// what a desktop reads from them (evdev and libinput), and waiting with generous limits (the
// machine runs 5 to 20 times slower than the host, and slower still under load: every limit
// scales with the machine's pace). The program's output and libinput's are left in the
// scenario's artefacts, and printed in its log when it failed.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Simulated/HID/VirtualMouseDescription.h"

namespace tindlewave::kernel {

using namespace std::chrono_literals;

// How many times slower than usual the machine runs now (1 at least): a fixed piece of work and
// udev's announcement of a new input device, timed at the scenario's start (or by stage 2 before
// it, TW_GUEST_PACE) against their times on a machine under no load (Pace.cpp). Every wait here
// scales its limit by it, so a machine slowed by the host's load waits longer rather than failing;
// the scenario's log shows it.
double pace();
// Measures the pace now: as it is at this moment.
double measurePace();
// `limit` scaled by the pace.
std::chrono::milliseconds scaled(std::chrono::milliseconds limit);

// Polls `condition` every 50 ms until it holds (true) or `limit` (scaled) passes (false).
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = 60s);

// Where a scenario leaves files for the report (TW_KERNEL_ARTEFACTS, else a folder in /tmp).
std::filesystem::path artefacts();

// A recorded mouse shipped with the programs (build folder's share/tindlewave/devices).
VirtualMouseDescription recording(const std::string& file);

// --- nodes

struct InputNode {
    std::string node;  // /dev/input/eventN
    std::string name;
    std::string phys;
    bool ours() const { return phys.rfind("tindlewave/", 0) == 0; }
};

// Every event node with its device's name and phys.
std::vector<InputNode> inputNodes();
// The event node of the device named `name` (not one of the program's own; with `mirror`, only
// the program's mirror of it), or empty.
std::string eventNode(const std::string& name, bool mirror = false);
// The event node whose device's name contains `part` (not the program's own).
std::string eventNodeContaining(const std::string& part);
// The hidraw node of the hid device whose HID_NAME contains `part`, or empty.
std::string hidrawNode(const std::string& part);
// The hidraw node of the hid device of these ids, or empty.
std::string hidrawNode(std::uint16_t vendor, std::uint16_t product);
// Every event node, one a line with its name and phys (for failure messages).
std::string describeInputNodes();
// Waits until udevd has handled every event so far (udevadm settle), as a desktop's devices are
// by the time a user starts a program.
void settleUdev();
// Waits for a node (`find` returns it) and returns it, or empty after `limit`.
std::string waitForNode(const std::function<std::string()>& find, std::chrono::milliseconds limit = 60s);

// Key codes down on a node (EVIOCGKEY); empty when it cannot be opened.
std::set<int> keysDown(const std::string& node);
// Key codes a node can send (EVIOCGBIT of EV_KEY); empty when it cannot be opened.
std::set<int> keysItCanSend(const std::string& node);
// The key code a scan code maps to in a node's key table (EVIOCGKEYCODE_V2), or -1.
int keyCode(const std::string& node, std::uint32_t scanCode);
// Whether another process holds a grab on the node (EVIOCGRAB answers EBUSY).
bool grabbed(const std::string& node);

// Key codes named as the kernel names them.
inline constexpr int keyCapsLock = 58, keyF18 = 188, keyA = 30, key4 = 5, keyLeftShift = 42,
                     keyLeftCtrl = 29, keyLeftAlt = 56, keyLeftMeta = 125;

// Presses ("down caps_lock") or releases ("up a") keys of the machine's own i8042 keyboard: the
// boot runner on the host sends them through QEMU (its key names). True once they were sent.
bool hostKeys(const std::vector<std::string>& lines);

// --- what the desktop sees

struct InputEvent {
    int type = 0;
    int code = 0;
    int value = 0;
    bool operator==(const InputEvent&) const = default;
};

// Reads every event of a node on a thread of its own (for the program's virtual devices and
// mirrors, which nobody grabs).
class NodeReader {
  public:
    explicit NodeReader(std::string node);
    ~NodeReader();
    NodeReader(const NodeReader&) = delete;
    NodeReader& operator=(const NodeReader&) = delete;
    bool ok() const { return fd_ >= 0; }
    std::vector<InputEvent> events() const;
    bool has(InputEvent event) const;
    bool waitFor(InputEvent event, std::chrono::milliseconds limit = 30s) const;
    // How many events it has seen so far.
    std::size_t size() const;
    // Events of `type`, `code` seen so far.
    int count(int type, int code) const;
    // When each of events() was read (the same order).
    std::vector<std::chrono::steady_clock::time_point> arrivals() const;
    std::string describe() const;

  private:
    void run();
    std::string node_;
    int fd_ = -1;
    int stop_ = -1;
    mutable std::mutex mutex_;
    std::vector<InputEvent> events_;
    std::vector<std::chrono::steady_clock::time_point> arrivals_;
    std::thread thread_;
};

// `libinput debug-events` over the machine's udev seat, as a desktop reads it: it opens each device
// when udev announces it, and drops a key release it never saw pressed.
class LibinputWatch {
  public:
    LibinputWatch();
    ~LibinputWatch();
    LibinputWatch(const LibinputWatch&) = delete;
    LibinputWatch& operator=(const LibinputWatch&) = delete;
    // Waits for a line holding every one of `parts`.
    bool waitFor(const std::vector<std::string>& parts, std::chrono::milliseconds limit = 30s);
    // Lines so far holding every one of `parts`.
    int count(const std::vector<std::string>& parts);
    // Keys libinput holds as pressed now (KEY_… names, pressed minus released).
    std::set<std::string> keysHeld();
    std::string output();

  private:
    void readMore(int timeoutMs);
    pid_t pid_ = -1;
    int output_ = -1;
    std::string seen_;
};

// The processor time a process has taken so far, every thread of it, in ms: the sum of its
// threads' scheduler run times (nanoseconds, where utime and stime count whole clock ticks).
double processCpuMs(pid_t pid);

// A thread's time on a processor and waiting for one (ms), and its switches away from it
// (waits of its own, and taken off for another), as the scheduler counts them so far.
struct ThreadTimes {
    double runMs = 0, queuedMs = 0, userMs = 0, systemMs = 0;
    long waits = 0, preempted = 0;
    ThreadTimes operator-(const ThreadTimes& o) const {
        return {runMs - o.runMs,   queuedMs - o.queuedMs, userMs - o.userMs,
                systemMs - o.systemMs, waits - o.waits,   preempted - o.preempted};
    }
};
ThreadTimes threadTimes(pid_t pid, pid_t thread);

// Every thread of `pid` now, by thread id: its name and times.
std::map<pid_t, std::pair<std::string, ThreadTimes>> threadsOf(pid_t pid);

// --- the program

struct User {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
};

// An X server of the scenario's own (Xvfb, no listening on the network) for the window program;
// stopped when dropped.
class VirtualScreen {
  public:
    VirtualScreen();
    ~VirtualScreen();
    VirtualScreen(const VirtualScreen&) = delete;
    VirtualScreen& operator=(const VirtualScreen&) = delete;
    // Whether it answers on `display()` (":7").
    bool ok() const { return ok_; }
    const std::string& display() const { return display_; }

  private:
    pid_t pid_ = -1;
    std::string display_;
    bool ok_ = false;
};

// tindlewave-headless over the machine's devices, in a process of its own with its own home and
// XDG folders (owned by `user` when given), its standard input and output on pipes. Or the window
// program `tindlewave` on a virtual screen, whose output is its standard error and its log file's
// lines as they are written; it quits on SIGTERM.
class Program;
// Sends "wait applied" and waits for its answer: true when everything was applied.
bool waitApplied(Program& program);

class Program {
  public:
    explicit Program(std::optional<User> user = std::nullopt);
    explicit Program(const VirtualScreen& screen);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    const std::filesystem::path& home() const { return home_; }
    void writeConfig(const std::string& json);
    // Starts it (the same home each time, so a second start finds the first's state).
    bool start(const std::vector<std::string>& arguments = {});
    void send(const std::string& line);
    // Reads the output until `text` shows after `from` (an earlier `mark()`).
    bool waitFor(const std::string& text, std::chrono::milliseconds limit = 90s, std::size_t from = 0);
    // Reads the output until one of `texts` shows after `from`: its index, or -1 after `limit`.
    int waitForAny(const std::vector<std::string>& texts, std::chrono::milliseconds limit = 90s,
                   std::size_t from = 0);
    std::size_t mark() const { return seen_.size(); }
    const std::string& seen() const { return seen_; }
    pid_t pid() const { return pid_; }
    // Its threads by name (/proc/PID/task/*/comm).
    std::vector<std::pair<pid_t, std::string>> threads() const;
    // Sends `quit` (the window program: SIGTERM) and waits for its end: its exit status, or -1
    // when it did not end in time.
    int quit(std::chrono::milliseconds limit = 90s);
    // Waits for its end after a signal: the raw wait status, or -1.
    int waitForEnd(std::chrono::milliseconds limit = 60s);
    void kill(int signal);
    // Runs it once with `arguments` to its end (for --check-devices): exit status and output.
    std::pair<int, std::string> run(const std::vector<std::string>& arguments,
                                    std::chrono::milliseconds limit = 120s);

  private:
    void readMore(int timeoutMs);
    std::optional<User> user_;
    std::string display_;  // the window program's; empty for the headless one
    std::filesystem::path home_;
    std::string runs_;  // the output of each run()
    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    std::string seen_;
    std::filesystem::path log_;  // the window program's log file, read up to `logRead_`
    std::size_t logRead_ = 0;
};

}  // namespace tindlewave::kernel
