#pragma once

#include <linux/input.h>

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Core/Evdev/FrameEvents.h"
#include "Core/Evdev/InputFrame.h"
#include "Core/Instant.h"
#include "Platform/Executor.h"
#include "Platform/FdRegistrar.h"
#include "Platform/Linux/Input/DeviceWriter.h"
#include "Platform/Linux/Input/EvdevDevice.h"
#include "Platform/Linux/Input/EventNodeInfo.h"
#include "Platform/Linux/Input/NodeGrab.h"
#include "Platform/Linux/System/UniqueFd.h"

namespace tindlewave {

class DeviceWriter;
class OwnDevices;
class StallWatchdog;

// One mouse or keyboard node while the event system has it: its descriptor, the phases of its
// grab (NodeGrab), its mirror, the frames assembled from what it sends and what it has down.
// It opens, grabs, reads and closes the node; each frame it reads goes to a `Frames` (the
// event system's taps and the mirror). On the input executor only.
//
// Reading: up to 8 buffers a turn, cut into frames at SYN_REPORT. After SYN_DROPPED (the
// kernel's buffer for the descriptor overflowed) the rest up to the next report is discarded,
// and so is what the node still holds: it came after the lost codes, and the node's state read
// next has it (EVIOCGKEY and EVIOCGLED also take their codes off the descriptor's queue). The
// difference is then told as frames of its own (`EvdevNodeState::catchUp`: ups, downs, then the
// lights), so nothing reaches the mirror out of the node's order. Overflows are counted and said
// once when the node closes.
class GrabbedNode {
  public:
    // Where the node's frames go.
    class Frames {
      public:
        virtual void frame(GrabbedNode& node, const InputFrame& frame) = 0;

      protected:
        ~Frames() = default;
    };
    // How a turn of reading ended.
    enum class Read { done, gone };

    GrabbedNode(const EventNodeInfo& info, int busyTries) : info_(info), grab_(busyTries) {}
    GrabbedNode(const GrabbedNode&) = delete;
    GrabbedNode& operator=(const GrabbedNode&) = delete;

    const EventNodeInfo& info() const { return info_; }
    NodeGrab& grab() { return grab_; }
    const NodeGrab& grab() const { return grab_; }
    int fd() const { return fd_.get(); }
    const InputDescription& description() const { return description_; }
    const SharedDevice& mirror() const { return mirror_; }
    EvdevNodeState& state() { return state_; }
    const EvdevNodeState& state() const { return state_; }
    // Has LEDs the desktop sets through its mirror.
    bool isKeyboard() const { return keyboard_; }

    // Opens the node and mirrors it (the mirror kept through `own`): false when it stays
    // closed (gone, not ours to read, not describable, or no mirror could be made); one of the
    // program's own devices is marked as such and never opened. Caps Lock's light is read into
    // `capsLock` on a keyboard.
    bool open(const std::string& uinputPath, OwnDevices& own, bool& capsLock);
    // Takes `fd` as the node, open and grabbed already (tests and benchmarks).
    void adopt(UniqueFd fd, InputDescription description, OwnDevices& own, UinputDevice mirror);
    // What taking the grab came to.
    enum class Taken {
        grabbed,   // with what came since the grab (it reached nobody else)
        refused,   // another program holds it: try again soon
        busy,      // refused too often: another program's
        gone,      // the node went away
        letGo,     // a key went down before the grab: let go, settle again
        deferred,  // the watchdog's release is on its way, whose handling looks again
    };
    // Takes the grab through the watchdog, once the keys were seen up (NodeGrab counts the
    // refusals). What came since the grab goes to `caught`. A key that went down before the
    // grab lets it go at once and gives what the grab caught back to the node (to the mirror
    // where the node is read-only), so that every reader has it as if it had never been grabbed.
    Taken takeGrab(StallWatchdog& watchdog, DeviceWriter& writer, std::vector<input_event>& caught);
    // Ends the grab (through the watchdog), closes the node and its mirror (the kernel lets go
    // of what the mirror holds) and forgets what it had down. Overflows are said to `journal`.
    void close(StallWatchdog& watchdog, OwnDevices& own,
               const std::function<void(const std::string&)>& journal);

    // A turn of reading while grabbed: `gone` when the node went away (ENODEV).
    Read read(Frames& frames);
    // Codes read from the node (or caught at the grab), through the frames.
    void consume(std::span<const input_event> codes, Frames& frames);
    // The desktop's writes to the mirror (its LEDs) go to the node: Caps Lock's light when it
    // was among them.
    std::optional<bool> forwardLeds();

    // The event system's handles on it: the watches of the node and of its mirror, the next
    // look before the grab, and when udev's "add" of the mirror's event node came.
    FdWatch watch;
    FdWatch mirrorWatch;
    TimerHandle retry;
    std::optional<Instant> mirrorHeardAt;

  private:
    void resync(timeval time, Frames& frames);
    void tellDrops(const std::function<void(const std::string&)>& journal);

    EventNodeInfo info_;
    NodeGrab grab_;
    UniqueFd fd_;
    bool keyboard_ = false;
    InputDescription description_;
    SharedDevice mirror_;
    EvdevNodeState state_;
    FrameAssembler assembler_;
    int drops_ = 0;  // overflows of its kernel buffer while grabbed, told when it closes
};

}  // namespace tindlewave
