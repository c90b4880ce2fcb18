#pragma once

// The inside of LinuxEventSystem, shared by its two source files (taps and posts; nodes and
// frames): the taps, the nodes, the session, the watchdog and the bookkeeping of a dispatch.
// Each node it has is a GrabbedNode, the stall watchdog a StallWatchdog; everything the program
// writes, and what it remembers to write it, is the ProgramOutput. Nothing else includes it.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Core/Evdev/FrameEvents.h"
#include "Platform/Executor.h"
#include "Platform/FdRegistrar.h"
#include "Platform/Linux/Input/EvdevDevice.h"
#include "Platform/Linux/Input/GrabbedNode.h"
#include "Platform/Linux/Input/LinuxEventSystem.h"
#include "Platform/Linux/Input/ProgramOutput.h"
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
    void wheeled(Node& node);
    // The nodes' modifiers or Caps Lock's light may have changed: the output's flags follow.
    void updateFlags();

    // What follows the watchdog's release.
    void handleStall();

    // Posts (LinuxEventSystem.cpp).
    bool writesNow(const Event& event, EventLevel level);
    void deliver(const Event& event, EventLevel level);
    void ownNodeAnnounced(const std::string& sysname);
    void sessionChanged(bool active);
    void followSession();

    LinuxEventSystem& owner;  // where the cursor is
    Executor& input;
    FdRegistrar* fds;
    const Options options;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);

    // Input executor only.
    TapTable taps;
    int dispatching = 0;
    bool refreshOwed = false;
    std::vector<std::unique_ptr<Node>> nodes;
    bool capsLock = false;
    std::vector<std::string> busy;
    Subscription registryWatch;
    Subscription ownNodesWatch;
    std::unique_ptr<LogindSessionWatch> session;
    std::optional<std::string> sessionUnfollowed;  // written at construction only
    FdWatch sessionWatch;
    FrameEventList events;

    // The watchdog's next release comes from suspend(), not from a stall (any thread).
    std::atomic<bool> suspended{false};

    // What a post made on another thread looks at before it is written there, with no hop to the
    // input executor (any thread): the types some tap sees (set at each look at the grabs, which
    // follows every change of the taps), whether the session is active (changed on the input
    // executor only), and how many posts wait on the input executor (a post never overtakes one
    // of them).
    std::atomic<std::uint64_t> tapTypes{0};
    std::atomic<bool> sessionActive{true};
    std::atomic<int> queuedPosts{0};

    // Its thread posts its release to the input executor; stopped first when the state goes.
    StallWatchdog watchdog;

    // What the program writes: the writer, its keyboard and pointer with the posts held for them
    // (made after the watchdog, which it tells of every device the program makes).
    ProgramOutput output;
};

}  // namespace tindlewave
