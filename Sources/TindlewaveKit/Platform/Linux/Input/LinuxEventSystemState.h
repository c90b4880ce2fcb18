#pragma once

// The inside of LinuxEventSystem, shared by its two source files (taps and posts; nodes and
// frames). Each node's grab is a NodeGrab, the stall watchdog a StallWatchdog. Nothing else
// includes it.

#include <array>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Core/Evdev/FrameEvents.h"
#include "Core/Evdev/VirtualKeyboardState.h"
#include "Platform/Executor.h"
#include "Platform/FdRegistrar.h"
#include "Platform/Linux/Input/EvdevDevice.h"
#include "Platform/Linux/Input/LinuxEventSystem.h"
#include "Platform/Linux/Input/NodeGrab.h"
#include "Platform/Linux/Input/StallWatchdog.h"
#include "Platform/Linux/Session/LogindSessionWatch.h"
#include "Platform/TapTable.h"

namespace tindlewave {

struct LinuxEventSystem::State {
    struct Node {
        explicit Node(const EventNodeInfo& info_, int busyTries) : info(info_), grab(busyTries) {}

        EventNodeInfo info;
        NodeGrab grab;
        int fd = -1;
        bool keyboard = false;  // has LEDs to forward
        InputDescription description;
        std::optional<UinputDevice> mirror;
        EvdevNodeState state;
        FrameAssembler assembler;
        FdWatch watch;
        FdWatch mirrorWatch;
        TimerHandle retry;
        std::optional<Instant> mirrorHeardAt;  // when udev's "add" of the mirror's event node came through the registry
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
    void readFrames(Node& node);
    void consume(Node& node, std::span<const input_event> codes);
    void process(Node& node, const InputFrame& frame);
    void resync(Node& node, timeval time);
    void forwardLeds(Node& node);
    ModifierKeys deviceModifiers() const;
    void updateFlags();

    // What follows the watchdog's release.
    void handleStall();

    // Posts (LinuxEventSystem.cpp).
    // The program's devices (mirrors, its keyboard and pointer) are made and closed through
    // these, so the watchdog, which destroys them at a release, knows each while it lives.
    void keepDevice(std::optional<UinputDevice>& slot, UinputDevice device);
    void closeDevice(std::optional<UinputDevice>& slot);
    bool ensureVirtualDevices();
    void deliver(const Event& event, EventLevel level);
    void write(const Event& event);
    void writeOut(const Event& event);
    bool ownDevicesAnnounced();
    // Whether a desktop has had the device to open: udev's "add" of it came `desktopOpenSeconds`
    // ago, or nothing is to be waited for (no sysname told, no udev announcing here, or the
    // isAnnounced hook says so).
    bool desktopHas(const UinputDevice& device, const std::optional<Instant>& heardAt, Instant now) const;
    void ownNodeAnnounced(const std::string& sysname);
    void lookForOwnAnnouncement();
    void writeHeldPosts();
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
    Subscription registryWatch;
    Subscription ownNodesWatch;
    std::unique_ptr<LogindSessionWatch> session;
    std::optional<std::string> sessionUnfollowed;  // written at construction only
    FdWatch sessionWatch;
    FrameEventList events;
    CodeList out;
    CodeList keyboardOut;
    CodeList postOut;
    // Whether udev announces devices here (options.udevAnnounces, else the registry's word at
    // follow; no before it).
    bool udevAnnounces = false;
    // Posts held, in order, until udev has announced the program's keyboard and pointer (a
    // desktop opens them only then), since `heldSince`.
    std::vector<Event> heldPosts;
    Instant heldSince{};
    bool ownAnnounced = false;
    // When udev's "add" of their event nodes came through the registry.
    std::optional<Instant> keyboardHeardAt;
    std::optional<Instant> pointerHeardAt;
    bool ownLooking = false;
    TimerHandle ownLook;

    // The watchdog's next release comes from suspend(), not from a stall (any thread).
    std::atomic<bool> suspended{false};

    // Its thread posts its release to the input executor; stopped first when the state goes.
    StallWatchdog watchdog;
};

}  // namespace tindlewave
