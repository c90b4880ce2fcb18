#include "Platform/Linux/Input/NodeGrab.h"

#include <cerrno>

namespace tindlewave {

NodeGrab::Step NodeGrab::refresh(bool wanted, bool lookPending) {
    switch (phase_) {
        case Phase::closed:
            return wanted ? Step::open : Step::none;
        case Phase::settling:
            if (!wanted) return Step::close;
            return lookPending ? Step::none : Step::look;
        case Phase::grabbed:
            return wanted ? Step::none : Step::close;
        case Phase::busy:
            if (!wanted) phase_ = Phase::closed;  // tried anew when wanted again
            return Step::none;
        case Phase::own:
            return Step::none;
    }
    return Step::none;
}

void NodeGrab::opened() {
    phase_ = Phase::settling;
    tries_ = 0;
    mirrorShown_ = false;
}

NodeGrab::Next NodeGrab::mirrorLooked(bool announced) {
    if (mirrorShown_) return Next::grab;
    if (!announced) return Next::later;
    mirrorShown_ = true;
    return Next::grab;
}

NodeGrab::Next NodeGrab::keysLooked(int error, bool anyKeyDown) const {
    if (error != 0) return error == ENODEV ? Next::gone : Next::stay;
    // A grab now would keep the up of a key that is down from the desktop.
    return anyKeyDown ? Next::later : Next::grab;
}

NodeGrab::Next NodeGrab::grabAnswered(int error) {
    if (error == 0) {
        phase_ = Phase::grabbed;
        return Next::grabbed;
    }
    if (error == ENODEV) return Next::gone;
    if (++tries_ < busyTries_) return Next::later;
    // Another program holds it: it stays theirs.
    phase_ = Phase::busy;
    return Next::busy;
}

void NodeGrab::closed() {
    if (isOpen()) phase_ = Phase::closed;
}

NodeGrab::Next NodeGrab::grabChecked(bool keyDownBeforeGrab) {
    if (phase_ != Phase::grabbed) return Next::stay;
    // Its up must reach the desktop from the node, as its down did.
    if (keyDownBeforeGrab) {
        phase_ = Phase::settling;
        return Next::later;
    }
    return Next::grabbed;
}

void NodeGrab::letGo() {
    if (phase_ == Phase::grabbed) phase_ = Phase::settling;
}

}  // namespace tindlewave
