#include "Core/Evdev/ModifierKeys.h"

namespace tindlewave {

std::uint64_t ModifierKeys::flags(bool capsLock) const {
    std::uint64_t flags = capsLock ? capsLockFlag : 0;
    for (HeldModifier m : allCases<HeldModifier>()) {
        if (contains(m)) flags |= deviceFlag(m) | quartzFlags(generic(m));
    }
    return flags;
}

ModifierKeys ModifierKeys::forFlags(std::uint64_t flags) {
    ModifierKeys keys;
    Modifiers sided;
    for (HeldModifier m : allCases<HeldModifier>()) {
        if ((flags & deviceFlag(m)) != 0) {
            keys.set(m, true);
            sided |= generic(m);
        }
    }
    // The left keys come first in the case order.
    for (HeldModifier m : {HeldModifier::leftControl, HeldModifier::leftShift,
                           HeldModifier::leftOption, HeldModifier::leftCommand}) {
        const Modifiers family = generic(m);
        if ((flags & quartzFlags(family)) != 0 && !sided.contains(family)) keys.set(m, true);
    }
    return keys;
}

}  // namespace tindlewave
