#pragma once

#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>

#include "Core/Devices/DeviceIDs.h"
#include "Model/Config.h"
#include "Model/Date.h"
#include "Model/EngineStatus.h"
#include "Model/Identifiers.h"
#include "Model/Keys.h"
#include "Model/VariantRecord.h"

namespace tindlewave {

// The id of one listen for a press. Printed as "#" and the decimal number.
struct ListenID {
    std::uint64_t rawValue = 0;

    bool operator==(const ListenID&) const = default;
    auto operator<=>(const ListenID&) const = default;
};

// "#3".
std::string toText(ListenID id);

// Which listen, on which device.
struct ListenTarget {
    ListenID id;
    DeviceInstanceID device;

    bool operator==(const ListenTarget&) const = default;
};

// A press as the HID++ link or the event tap reports it while listening.
struct ListenPress {
    struct Hidpp {
        CID cid;
        bool operator==(const Hidpp&) const = default;
    };
    struct Button {
        std::int64_t number;
        bool operator==(const Button&) const = default;
    };
    struct Key {
        KeyCode keyCode;
        bool operator==(const Key&) const = default;
    };
    struct ThumbWheel {
        bool operator==(const ThumbWheel&) const = default;
    };
    std::variant<Hidpp, Button, Key, ThumbWheel> value;

    static ListenPress hidpp(CID cid) { return {Hidpp{cid}}; }
    static ListenPress button(std::int64_t number) { return {Button{number}}; }
    static ListenPress key(KeyCode keyCode) { return {Key{keyCode}}; }
    static ListenPress thumbWheel() { return {ThumbWheel{}}; }

    // For the journal: "control 0xC3", "button 5", "key code 12", "the thumb wheel".
    std::string description() const;

    bool operator==(const ListenPress&) const = default;
};

// Who heard a press: the event tap for a listen, or a device's HID++ link.
struct ListenSource {
    struct Tap {
        ListenID id;
        bool operator==(const Tap&) const = default;
    };
    struct Device {
        DeviceInstanceID device;
        bool operator==(const Device&) const = default;
    };
    std::variant<Tap, Device> value;

    static ListenSource tap(ListenID id) { return {Tap{id}}; }
    static ListenSource device(DeviceInstanceID device) { return {Device{device}}; }

    bool operator==(const ListenSource&) const = default;
};

// What the compiled intent carries while listening: the target, and for each carrier key the
// listened keyboard sends, the key the user really pressed.
struct ListenPlan {
    ListenTarget target;
    std::unordered_map<KeyCode, HIDUsage> carrierSources;

    // Names a press as a control that a rule can use, or unnamed.
    Heard heard(const ListenPress& press) const;

    bool operator==(const ListenPlan&) const = default;
};

// The bookkeeping of listening for one press; the engine arms, ends and stops it.
struct Listener {
    struct Armed {
        ListenID id;
        DeviceMatch match;
        DeviceInstanceID device;
        Date until;
        bool operator==(const Armed&) const = default;
    };

    struct State {
        struct Ended {
            DeviceMatch match;
            ListenEnd end;
            bool operator==(const Ended&) const = default;
        };
        struct Idle {
            bool operator==(const Idle&) const = default;
        };
        std::variant<Armed, Ended, Idle> value = Idle{};

        static State armed(Armed armed) { return {std::move(armed)}; }
        static State ended(DeviceMatch match, ListenEnd end) { return {Ended{match, end}}; }
        static State idle() { return {Idle{}}; }

        bool operator==(const State&) const = default;
    };

    State state;
    std::uint64_t nextID = 1;

    // A press came from `source`. When it is the armed listen's (the tap for its id, or its
    // device), the listen is over: the state becomes idle and the armed record is returned.
    // Otherwise nothing changes.
    std::optional<Armed> hear(const ListenSource& source);

    bool operator==(const Listener&) const = default;
};

}  // namespace tindlewave

template <>
struct std::hash<tindlewave::ListenID> {
    std::size_t operator()(tindlewave::ListenID id) const noexcept {
        return std::hash<std::uint64_t>{}(id.rawValue);
    }
};
