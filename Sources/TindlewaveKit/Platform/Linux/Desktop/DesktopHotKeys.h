#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/SymbolicHotKeys.h"

namespace tindlewave {

// The system actions' shortcuts as the Linux desktop has them: GNOME's through GSettings
// (the overview and the workspace switches; GNOME has no shortcut for an application's windows),
// KDE's from its global shortcuts file. The desktop is chosen by XDG_CURRENT_DESKTOP; elsewhere
// the table is unavailable. Bindings are read at each call, so a change the user makes counts at
// once. A binding that is missing, switched off, of another type than a list of accelerators or
// names a key the program does not know reads as no shortcut. Thread-safe.
class DesktopHotKeys final : public SymbolicHotKeys {
  public:
    enum class Desktop { gnome, kde, other };

    struct Places {
        // GNOME: where the schemas are compiled (empty: the system's own).
        std::string schemaFolder = {};
        // KDE: the shortcuts file.
        std::string kdeShortcuts = {};
    };

    // The desktop an XDG_CURRENT_DESKTOP value names ("ubuntu:GNOME" is GNOME).
    static Desktop desktopOf(std::string_view currentDesktop);
    // The user's own places: the shortcuts file in $XDG_CONFIG_HOME when that is an absolute path,
    // else in ~/.config (the home folder as files::homeFolder finds it, $HOME or the password
    // database); empty when no home folder is known.
    static Places userPlaces();
    // The running session's desktop and the user's own places.
    DesktopHotKeys();
    DesktopHotKeys(Desktop desktop, Places places);
    ~DesktopHotKeys() override;
    DesktopHotKeys(const DesktopHotKeys&) = delete;
    DesktopHotKeys& operator=(const DesktopHotKeys&) = delete;

    Desktop desktop() const { return desktop_; }

    bool isAvailable() const override;
    std::optional<SymbolicHotKeyValue> value(std::uint16_t number) const override;
    bool isEnabled(std::uint16_t number) const override;

  private:
    std::optional<SymbolicHotKeyValue> gnome(std::uint16_t number) const;
    std::optional<SymbolicHotKeyValue> kde(std::uint16_t number) const;

    Desktop desktop_;
    Places places_;
    mutable std::mutex mutex_;
    mutable void* schemaSource_ = nullptr;  // GSettingsSchemaSource, made on first use
};

}  // namespace tindlewave
