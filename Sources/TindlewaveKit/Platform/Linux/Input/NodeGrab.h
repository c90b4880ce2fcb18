#pragma once

namespace tindlewave {

// The grab of one evdev node as a state machine, apart from the calls that open, look at and
// grab the node (LinuxEventNodes.cpp makes them and tells it their outcome).
//
// A node opens when grabs are wanted and settles: first until the desktop can have taken up its
// mirror (udev announced the mirror's node, or a wait ran out), then until none of its keys is
// down. It is grabbed once the grab is taken and no key turns out to have gone down before it;
// else the grab is let go of at once. Settling or grabbed, it closes when grabs are no longer
// wanted; grabbed, it settles again after a stall. A grab refused `busyTries` times leaves it busy (another
// program's) until grabs are no longer wanted; then it is tried anew. The program's own devices
// are never opened.
class NodeGrab {
  public:
    enum class Phase {
        closed,    // not open (no tap wants it, or it could not be opened)
        settling,  // open and mirrored, waiting to grab (keys down, a new mirror, busy)
        grabbed,
        busy,      // another program holds it: left alone
        own,       // one of the program's own devices
    };
    // What a change of the wanted state asks of the node.
    enum class Step { none, open, look, close };
    // What a look at the node leads to.
    enum class Next {
        grab,      // go on: look at the keys, or grab now that none is down
        grabbed,   // the grab was taken
        later,     // keys are down, or the grab was refused: look again later
        busy,      // refused too often: another program's, close it and report it
        gone,      // the node went away: forget it
        stay,      // nothing to do: the keys could not be read
    };

    explicit NodeGrab(int busyTries = 10) : busyTries_(busyTries) {}

    Phase phase() const { return phase_; }
    bool isGrabbed() const { return phase_ == Phase::grabbed; }
    // Open and mirrored, or grabbed: the node's descriptor and mirror exist.
    bool isOpen() const { return phase_ == Phase::settling || phase_ == Phase::grabbed; }

    // Grabs are wanted or not (taps, the session); `lookPending`: a look is already scheduled.
    Step refresh(bool wanted, bool lookPending);
    // Opened and mirrored: it settles before its grab.
    void opened();
    // Found to be one of the program's own devices.
    void ownDevice() { phase_ = Phase::own; }
    // Taken as already grabbed (benchmarks).
    void adoptGrabbed() { phase_ = Phase::grabbed; }

    // A look, when it may be taken (settling, grabs wanted): at the mirror's node until it is
    // announced, then at the keys down (`error` the errno when they could not be
    // read), then, on `grab`, the grab's errno (0 when taken), then at what the grab caught:
    // whether a key went down before it (down now, or going up, with no down since).
    bool mayLook(bool wanted) const { return phase_ == Phase::settling && wanted; }
    bool waitsForMirror() const { return !mirrorShown_; }
    Next mirrorLooked(bool announced);
    Next keysLooked(int error, bool anyKeyDown) const;
    Next grabAnswered(int error);
    Next grabChecked(bool keyDownBeforeGrab);

    // Closed: settling or grabbed becomes closed; busy and own stay.
    void closed();
    // The grab was let go of (by the watchdog, or right after it was taken): it settles again.
    void letGo();

  private:
    Phase phase_ = Phase::closed;
    int busyTries_;
    int tries_ = 0;
    bool mirrorShown_ = false;
};

}  // namespace tindlewave
