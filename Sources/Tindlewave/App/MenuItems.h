#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "App/MenuPresentation.h"
#include "Model/VariantRecord.h"

namespace tindlewave {

// What choosing a menu item does; carried out by the status menu through the app model.
struct MenuCommand {
    struct None {
        bool operator==(const None&) const = default;
    };
    struct Fix {  // the notice's fix
        MenuPresentation::Fix fix;
        bool operator==(const Fix&) const = default;
    };
    struct InstallUpdate {  // check for updates, to install the one found
        bool operator==(const InstallUpdate&) const = default;
    };
    struct Reapply {
        bool operator==(const Reapply&) const = default;
    };
    struct SetHyperKey {  // the opposite of the shown switch; sent only while editable
        bool enabled;
        bool operator==(const SetHyperKey&) const = default;
    };
    struct SetPaused {
        bool paused;
        bool operator==(const SetPaused&) const = default;
    };
    struct OpenSettings {
        bool operator==(const OpenSettings&) const = default;
    };
    struct OpenConfig {
        bool operator==(const OpenConfig&) const = default;
    };
    struct CheckForUpdates {
        bool operator==(const CheckForUpdates&) const = default;
    };
    struct Quit {
        bool operator==(const Quit&) const = default;
    };

    std::variant<None, Fix, InstallUpdate, Reapply, SetHyperKey, SetPaused, OpenSettings, OpenConfig,
                 CheckForUpdates, Quit>
        value;

    bool operator==(const MenuCommand&) const = default;
};

// One item of the status menu, as plain values; the toolkit side only draws it.
struct MenuItem {
    enum class Kind {
        info,       // a disabled two-column row: `title`, then `right` in the secondary colour
        action,     // a command
        separator,
        section,    // a small heading ("Devices")
    };

    Kind kind = Kind::action;
    std::string title;
    std::optional<std::string> right{};
    bool bold = false;
    bool indented = false;  // the second line of a notice: its detail
    bool enabled = false;
    std::optional<bool> checked{};  // a check mark, for switches
    char shortcut = 0;              // with the Command (Control) modifier; 0 for none
    MenuCommand command{};

    bool operator==(const MenuItem&) const = default;
};

// What the menu needs besides the presentation, read when it is built.
struct MenuState {
    std::optional<std::string> foundUpdate{};  // a version a scheduled check found
    bool updatesConfigured = false;          // there is an updater
    bool canCheckForUpdates = false;
    std::optional<bool> hyperKeyEnabled{};   // absent until a configuration is loaded
    bool editable = false;                   // a configuration without error is loaded
};

class MenuItems {
  public:
    MenuItems() = delete;

    // Every item of the menu, top to bottom.
    static std::vector<MenuItem> build(const MenuPresentation& presentation, const MenuState& state);
};

}  // namespace tindlewave
