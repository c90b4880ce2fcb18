#pragma once

// The inside of LinuxEventSystem, shared by its two source files (taps and posts; nodes and
// frames): the taps, the session and what is shared between the nodes. Each node it has is a
// GrabbedNode, the stall watchdog a StallWatchdog, the program's own keyboard and pointer with
// the posts held for them OwnDevices. Nothing else includes it.

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Core/Evdev/FrameEvents.h"
#include "Core/Evdev/VirtualKeyboardState.h"
#include "Platform/Executor.h"
#include "Platform/FdRegistrar.h"
#include "Platform/Linux/Input/DeviceWriter.h"
#include "Platform/Linux/Input/EvdevDevice.h"
#include "Platform/Linux/Input/GrabbedNode.h"
#include "Platform/Linux/Input/LinuxEventSystem.h"
#include "Platform/Linux/Input/OwnDevices.h"
#include "Platform/Linux/Input/StallWatchdog.h"
#include "Platform/Linux/Session/LogindSessionWatch.h"
#include "Platform/TapTable.h"

namespace tindlewave {

struct LinuxEventSystem::State final : GrabbedNode::Frames {
    using Node = GrabbedNode;

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

    // Frames: each a node reads goes through the taps to its mirror.
    void readable(Node& node);
    void frame(Node& node, const InputFrame& frame) override;
    void forwardLeds(Node& node);
    ModifierKeys deviceModifiers() const;
    void updateFlags();

    // What follows the watchdog's release.
    void handleStall();

    // Posts (LinuxEventSystem.cpp).
    void deliver(const Event& event, EventLevel level);
    void writeOut(const Event& event);
    void ownNodeAnnounced(const std::string& sysname);
    const SharedDevice* mirrorOf(std::optional<SenderID> id, std::uint16_t needs) const;
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

    // The watchdog's next release comes from suspend(), not from a stall (any thread).
    std::atomic<bool> suspended{false};

    // Its thread posts its release to the input executor; stopped first when the state goes.
    StallWatchdog watchdog;

    // Writes every device of the program's, in order, on a thread of its own (watched by the
    // watchdog; it holds a device until its codes are written, and lets go before the watchdog
    // goes).
    DeviceWriter writer{options.stallSeconds / 4};

    // The program's keyboard and pointer, and the posts held for them (made after the watchdog,
    // which it tells of every device the program makes).
    OwnDevices own;
};

}  // namespace tindlewave
