#pragma once

// The inside of LinuxEventSystem, shared by its two source files (taps and posts; nodes, frames
// and the watchdog). Nothing else includes it.

#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Core/Evdev/FrameEvents.h"
#include "Core/Evdev/VirtualKeyboardState.h"
#include "Platform/Executor.h"
#include "Platform/FdRegistrar.h"
#include "Platform/Linux/Input/EvdevDevice.h"
#include "Platform/Linux/Input/LinuxEventSystem.h"
#include "Platform/Linux/Session/LogindSessionWatch.h"
#include "Platform/TapTable.h"

namespace tindlewave {

struct LinuxEventSystem::State {
    struct Node {
        enum class Phase {
            closed,    // not open (no tap wants it, or it could not be opened)
            settling,  // open and mirrored, waiting to grab (keys down, a new mirror, busy)
            grabbed,
            busy,      // another program holds it: left alone
            own,       // one of the program's own devices
        };

        EventNodeInfo info;
        Phase phase = Phase::closed;
        int fd = -1;
        bool keyboard = false;  // has LEDs to forward
        InputDescription description;
        std::optional<UinputDevice> mirror;
        EvdevNodeState state;
        FrameAssembler assembler;
        FdWatch watch;
        FdWatch mirrorWatch;
        TimerHandle retry;
        int busyTries = 0;
    };

    State(LinuxEventSystem& owner, Executor& input, Options options);
    ~State();

    // Grabs (LinuxEventNodes.cpp).
    bool wantsGrabs() const;
    void refreshGrabs();
    void start(Node& node);
    void tryGrab(Node& node);
    void stop(Node& node);
    void drop(SenderID id);
    Node* find(SenderID id);
    bool isOwnSysname(const std::string& sysname) const;

    // Frames.
    void readable(Node& node);
    void process(Node& node, const InputFrame& frame);
    void resync(Node& node);
    void forwardLeds(Node& node);
    ModifierKeys deviceModifiers() const;
    void updateFlags();

    // The watchdog.
    void beat();
    void armBeat();
    void watchGrab(int fd, bool grabbed);
    void handleStall();
    void watchdogLoop();

    // Posts (LinuxEventSystem.cpp).
    bool ensureVirtualDevices();
    void deliver(const Event& event, EventLevel level);
    void write(const Event& event);
    const UinputDevice* mirrorOf(std::optional<SenderID> id, std::uint16_t needs) const;
    void sessionChanged(bool active);
    void followSession();

    LinuxEventSystem& owner;
    Executor& input;
    FdRegistrar* fds;
    const Options options;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);

    // Input executor only.
    TapTable taps;
    int dispatching = 0;
    bool refreshOwed = false;
    std::vector<std::unique_ptr<Node>> nodes;
    std::optional<UinputDevice> keyboard;
    std::optional<UinputDevice> pointer;
    VirtualKeyboardState keyboardState;
    WheelAxis vertical;
    WheelAxis horizontal;
    std::array<std::optional<SenderID>, 8> swallowedFrom;  // by button: a swallowed down's node
    std::optional<SenderID> lastWheel;
    bool sessionActive = true;
    bool capsLock = false;
    std::vector<std::string> busy;
    TimerHandle beatTimer;
    Subscription registryWatch;
    std::unique_ptr<LogindSessionWatch> session;
    FdWatch sessionWatch;
    FrameEventList events;
    CodeList out;
    CodeList keyboardOut;
    CodeList postOut;

    // The watchdog thread and what it shares with the input executor.
    std::mutex watchMutex;
    std::condition_variable watchWake;
    std::vector<int> grabbedFds;  // under watchMutex
    bool stopping = false;        // under watchMutex
    std::atomic<std::int64_t> heartbeat{0};  // steady-clock nanoseconds of the last beat
    std::atomic<bool> released{false};       // the watchdog let go of every grab
    std::thread watchdog;
};

}  // namespace tindlewave
