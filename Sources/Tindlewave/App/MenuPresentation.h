#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Model/EngineStatus.h"
#include "Model/VariantRecord.h"
#include "Settings/Model/Texts/TimeText.h"

namespace tindlewave {

// What the status menu shows for the latest engine status: a one-word state, the notices the user
// can act on, one line per configured device and the last reconnection. Equal presentations look
// the same.
struct MenuPresentation {
    // What choosing a notice does.
    struct Fix {
        struct Permission {  // ask for the grant and guide the user to it
            tindlewave::Permission permission;
            bool operator==(const Permission&) const = default;
        };
        struct OpenConfig {  // open the configuration file
            bool operator==(const OpenConfig&) const = default;
        };
        struct Reapply {  // apply every setting again now
            bool operator==(const Reapply&) const = default;
        };

        std::variant<Permission, OpenConfig, Reapply> value;

        static Fix permission(tindlewave::Permission permission) { return {Permission{permission}}; }
        static Fix openConfig() { return {OpenConfig{}}; }
        static Fix reapply() { return {Reapply{}}; }

        bool operator==(const Fix&) const = default;
    };

    struct Notice {
        std::string title;
        std::string detail;
        Fix fix;
        bool operator==(const Notice&) const = default;
    };

    struct Row {
        std::string name;
        std::string detail;
        bool operator==(const Row&) const = default;
    };

    std::string state = "Starting";  // "Starting", "Active", "Needs attention" or "Paused"
    bool needsAttention = false;     // there is at least one notice, paused or not
    std::vector<Notice> notices;     // in the engine's attention order
    std::vector<Row> rows;           // one per configured device
    std::optional<std::string> footnote{};  // the last reconnection
    bool paused = false;

    // The presentation of a status; without one, the engine is still starting.
    static MenuPresentation make(const std::optional<EngineStatus>& status, const TimeText& time);

    // One line for the log: "state=Active notices=[] devices=[MX Master 3=Connected]".
    std::string summary() const;

    bool operator==(const MenuPresentation&) const = default;
};

}  // namespace tindlewave
