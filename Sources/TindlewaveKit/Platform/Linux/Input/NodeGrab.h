#pragma once

namespace tindlewave {

// The grab of one evdev node as a state machine, apart from the calls that open, look at and
// grab the node (LinuxEventNodes.cpp makes them and tells it their outcome).
//
// A node opens when grabs are wanted and settles; it is grabbed once none of its keys is down and
// the grab is taken. Settling or grabbed, it closes when grabs are no longer wanted; grabbed, it
// settles again after a stall. A grab refused `busyTries` times leaves it busy (another
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
        grab,      // no key is down: grab it now
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

    // A look, when it may be taken (settling, grabs wanted): first at the keys down (`error` the
    // errno when they could not be read), then, on `grab`, the grab's errno (0 when taken).
    bool mayLook(bool wanted) const { return phase_ == Phase::settling && wanted; }
    Next keysLooked(int error, bool anyKeyDown) const;
    Next grabAnswered(int error);

    // Closed: settling or grabbed becomes closed; busy and own stay.
    void closed();
    // The watchdog let go of the grab: it settles again.
    void stalled();

  private:
    Phase phase_ = Phase::closed;
    int busyTries_;
    int tries_ = 0;
};

}  // namespace tindlewave
