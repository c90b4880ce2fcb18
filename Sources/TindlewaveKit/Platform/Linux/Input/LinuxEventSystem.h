#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Core/Devices/DeviceIDs.h"
#include "Platform/EventSystem.h"
#include "Platform/Linux/Input/EvdevDevice.h"
#include "Platform/Linux/Input/EventNodeInfo.h"
#include "Platform/Linux/Input/ScreenGlance.h"
#include "Platform/Linux/Devices/LinuxDeviceRegistry.h"

namespace tindlewave {

class LinuxDeviceRegistry;
class X11Pointer;

// What an event service of the registry is: a mouse, a keyboard, or something never tapped
// (touch pads, tablets, touch screens, joysticks).
EventNodeInfo::Kind eventNodeKind(const LinuxDeviceRegistry::Entry& entry);

// The desktop's input events on Linux, from evdev and uinput, with no library in between.
//
// While a valid, enabled, attached tap exists (and the login session is active), every mouse and
// keyboard node is grabbed and mirrored: a uinput device with the node's ids, name, codes and
// properties and its phys behind "tindlewave/", which repeats nothing by itself. A node is
// grabbed only once none of its keys is down; a node another program grabs is left alone and
// reported. The grab waits for the node's mirror to be announced (so that the desktop reads
// it); what the node delivered before the grab is the desktop's, what it delivered since is
// ours, and a key that went down before the grab makes the program let go again at once (its up
// must reach the desktop from the node). Each frame a node delivers goes through the taps as events, and what they answer
// is written to its mirror; a frame with no type any tap sees is written as it came, without
// making an event. The program's posts go to a keyboard and a pointer of its own; nothing it
// writes is ever read back (its devices are never opened).
//
// Threads: everything runs on the input executor given at construction, which must watch
// descriptors (FdRegistrar). post, flagsState, the cursor and the screens may be called from
// any thread; posts run as input-executor jobs in order (one at the session level made on that
// executor is written at once), except that one made on another thread which no enabled,
// attached tap sees the type of is written on that thread, while no post made before it still
// waits on the executor (the session active, nothing suspended, nothing held for the program's
// devices' announcement). A watchdog thread releases every grab, and destroys the mirrors
// and the program's own devices (the kernel lets go of every key, button and modifier they
// hold), when a grabbed node's input has waited `stallSeconds` for that executor (nothing is
// looked at while no input waits: an idle program is not woken); the taps then get the
// time-out notice, and enabling them grabs again. `suspend` does the same at once, for a process
// about to stop (Ctrl-Z in its terminal, TerminalStop.h), until `resume`. Only while the login session is active: when the user
// switches to another session or console, every grab is released, the program's devices let go
// of what they hold, and the taps get the user-input notice.
class LinuxEventSystem final : public EventSystem {
  public:
    struct Options {
        std::string uinputPath = "/dev/uinput";
        double stallSeconds = 1.0;
        // A node is grabbed only once its mirror has been announced, and what is posted is held
        // (in order, up to 256 posts; more are written out with what waits) until the program's
        // own keyboard and pointer have been, however long udev takes: the desktop takes a device
        // up only then, and no input is lost meanwhile (the node is not grabbed yet). A device's
        // announcement (a mirror's, the keyboard's, the pointer's) is udev's "add" of its event
        // node through the registry (follow), or where given, this saying yes for the device's
        // input sysname ("input42") at a look (every 10 ms).
        std::function<bool(const std::string& sysname)> isAnnounced{};
        // Whether udev announces devices here; none: as the registry followed says
        // (LinuxDeviceRegistry::announces), and no without one. Where it does not, nothing waits
        // for an announcement, and the journal says so once.
        std::optional<bool> udevAnnounces{};
        // After udev's "add" of one of the program's devices, this much longer before it is
        // written to (the keyboard and pointer) or a node is grabbed behind it (a mirror): a
        // desktop opens a device a moment after it hears of it (through logind, a round trip on
        // the system bus), and what the device says before then reaches no one.
        double desktopOpenSeconds = 0.5;
        // Between looks at keys still down before a grab.
        double settleSeconds = 0.05;
        // A node another program holds is tried this many times, this far apart, before it is
        // reported.
        int busyTries = 10;
        double busySeconds = 0.2;
        // Follow logind's session (on the system bus): nothing is grabbed or written while
        // another session is active. Without logind the session counts as active.
        bool followSession = true;
        // Where lines for the device journal go (on the input executor); nowhere without it.
        std::function<void(const std::string& line)> journal{};
    };
    LinuxEventSystem(Executor& input, Options options);
    explicit LinuxEventSystem(Executor& input) : LinuxEventSystem(input, Options{}) {}
    // Ungrabs and closes every node and destroys the program's devices; on the input executor,
    // or after it stopped.
    ~LinuxEventSystem() override;
    LinuxEventSystem(const LinuxEventSystem&) = delete;
    LinuxEventSystem& operator=(const LinuxEventSystem&) = delete;

    // Refused without a writable uinput or without an executor that watches descriptors.
    std::optional<TapPort> createTap(const TapSpec& spec, TapCallback callback) override;
    bool attach(TapPort port, Executor& executor) override;
    void detach(TapPort port) override;
    void enable(TapPort port, bool enabled) override;
    bool isEnabled(TapPort port) const override;
    bool isValid(TapPort port) const override;
    void invalidate(TapPort port) override;
    bool tellsOfEveryDisable() const override { return true; }
    void post(const Event& event, EventLevel level) override;
    std::uint64_t flagsState() const override;
    // On X11 the pointer's place on the root window; elsewhere (Wayland: no program may know it)
    // the centre of the fastest screen. Only where frames are timed depends on it.
    Event::Location cursorLocation() const override;
    void associateMouseAndCursor(bool associated) override;
    std::optional<DisplayID> displayAt(Event::Location point) const override;
    std::vector<Screen> screens() const override;
    bool isRefreshing(DisplayID display) const override;

    // Takes the registry's event services as the nodes to tap, those present now and those that
    // come and go later (their changes arrive on the input executor); call on the input executor.
    void follow(LinuxDeviceRegistry& registry);
    // One node more or less, on the input executor (what follow() does for each).
    void nodeAdded(const EventNodeInfo& node);
    void nodeRemoved(SenderID id);
    // The login session became active or inactive (a switch of user or console): while it is
    // inactive nothing is grabbed or written, and the taps get the user-input notice.
    void setSessionActive(bool active);
    // Why logind's session is not followed although it was asked for (no system bus, no
    // logind, no session for this process): every switch of user or console then leaves the
    // grabs in place. None when it is followed. Set at construction; any thread.
    const std::optional<std::string>& sessionUnfollowed() const;
    // The desktop's screens (the program on screen gives its toolkit's as they change); until
    // then one 1920×1080 screen at 60 Hz. Any thread.
    void setScreens(std::vector<Screen> screens);

    // For benchmarks, which put pipes in place of devices: takes `fd` as a node already open and
    // grabbed (`description` as what it is) and `mirror` as its mirror; nothing watches it, its
    // frames are read by readNow. The program's own devices likewise.
    void adoptNode(const EventNodeInfo& node, int fd, InputDescription description,
                   UinputDevice mirror);
    void adoptVirtualDevices(UinputDevice keyboard, UinputDevice pointer);
    // Reads and handles what the node has ready now, as its watch does; input executor.
    void readNow(SenderID id);
    // Waits until everything handed to the writer so far is written to the devices (which are
    // written on a thread of their own); tests and benchmarks.
    void awaitWrites();

    // Any thread: lets go of the user's devices now, as the watchdog does at a stall (every grab
    // ended, the mirrors and the program's own devices destroyed, so nothing stays down), and
    // takes nothing up again until resume(): a grab or a device under way on the input executor
    // meanwhile is refused or destroyed by the watchdog, and nothing is posted.
    void suspend();
    void resume();
    // Every event system of the process, for a stop of the whole process.
    static void suspendAll();
    static void resumeAll();

    // Nodes left alone because another program grabs them, by devnode; input executor.
    std::vector<std::string> busyNodes() const;
    // Grabbed nodes, by devnode; input executor.
    std::vector<std::string> grabbedNodes() const;

    // The inside (LinuxEventSystemState.h), named here only so its two source files can use it.
    struct State;

  private:
    std::unique_ptr<State> state_;
    Executor& input_;

    // Read in place under the lock; what the cursor's place and the frame clock ask on every
    // frame is read from the glance, without it.
    mutable std::mutex screensMutex_;
    std::vector<Screen> screens_{Screen{1, {0, 0, 1920, 1080}, 60}};
    ScreenGlance glance_{screens_};
    std::unique_ptr<X11Pointer> pointer_;
};

}  // namespace tindlewave
