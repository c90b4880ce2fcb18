#pragma once

#include <variant>

#include "Core/Listening/Listener.h"
#include "Core/Tap/TapRules.h"
#include "Model/VariantRecord.h"

namespace tindlewave {

// What the engine asks of the tap host: whether the event tap must run, and its rules. The
// engine sends a new order only when it differs from the last one sent (or a resend is asked
// for), so orders compare by value.
struct TapOrder {
    bool install = false;
    TapRules rules;

    bool operator==(const TapOrder&) const = default;
};

// What the tap host reports back to the engine, in case order.
struct TapSignal {
    struct Heard {  // a press heard while listening
        ListenID id;
        ListenPress press;
        bool operator==(const Heard&) const = default;
    };
    struct Installed {  // the tap was made
        bool operator==(const Installed&) const = default;
    };
    struct InstallFailed {  // making the tap failed
        bool operator==(const InstallFailed&) const = default;
    };
    struct Removed {  // the tap was taken away
        bool operator==(const Removed&) const = default;
    };
    struct Reenabled {  // the system had disabled the tap and it was enabled again
        bool operator==(const Reenabled&) const = default;
    };

    std::variant<Heard, Installed, InstallFailed, Removed, Reenabled> value;

    static TapSignal heard(ListenID id, ListenPress press) { return {Heard{id, press}}; }
    static TapSignal installed() { return {Installed{}}; }
    static TapSignal installFailed() { return {InstallFailed{}}; }
    static TapSignal removed() { return {Removed{}}; }
    static TapSignal reenabled() { return {Reenabled{}}; }

    bool operator==(const TapSignal&) const = default;
};

}  // namespace tindlewave
