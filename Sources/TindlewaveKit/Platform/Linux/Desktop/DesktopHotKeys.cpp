#include "Platform/Linux/Desktop/DesktopHotKeys.h"

#include <gio/gio.h>

#include <cstdlib>
#include <filesystem>

#include "Platform/Linux/Desktop/DesktopShortcuts.h"
#include "Platform/Linux/System/Files.h"

namespace tindlewave {

namespace {

constexpr std::uint16_t missionControl = 32, appExpose = 33, spaceLeft = 79, spaceRight = 81;

struct GnomeKey {
    const char* schema;
    const char* key;
};

std::optional<GnomeKey> gnomeKey(std::uint16_t number) {
    switch (number) {
        case missionControl: return GnomeKey{"org.gnome.shell.keybindings", "toggle-overview"};
        case spaceLeft: return GnomeKey{"org.gnome.desktop.wm.keybindings", "switch-to-workspace-left"};
        case spaceRight:
            return GnomeKey{"org.gnome.desktop.wm.keybindings", "switch-to-workspace-right"};
        default: return std::nullopt;  // App Exposé has no GNOME counterpart
    }
}

std::optional<std::string_view> kdeEntry(std::uint16_t number) {
    switch (number) {
        case missionControl: return "Overview";
        case appExpose: return "ExposeClass";
        case spaceLeft: return "Switch One Desktop to the Left";
        case spaceRight: return "Switch One Desktop to the Right";
        default: return std::nullopt;
    }
}

// The user's configuration folder; empty when neither it nor the home folder is known.
std::string configHome() {
    if (std::string config = files::environmentFolder("XDG_CONFIG_HOME"); !config.empty()) return config;
    const std::string home = files::homeFolder();
    return home.empty() ? std::string() : home + "/.config";
}

}  // namespace

DesktopHotKeys::Desktop DesktopHotKeys::desktopOf(std::string_view currentDesktop) {
    while (!currentDesktop.empty()) {
        const auto colon = currentDesktop.find(':');
        const std::string_view name = currentDesktop.substr(0, colon);
        if (name == "GNOME") return Desktop::gnome;
        if (name == "KDE") return Desktop::kde;
        if (colon == std::string_view::npos) break;
        currentDesktop.remove_prefix(colon + 1);
    }
    return Desktop::other;
}

DesktopHotKeys::Places DesktopHotKeys::userPlaces() {
    const std::string config = configHome();
    return Places{.kdeShortcuts = config.empty() ? std::string() : config + "/kglobalshortcutsrc"};
}

DesktopHotKeys::DesktopHotKeys()
    : DesktopHotKeys(desktopOf(std::getenv("XDG_CURRENT_DESKTOP") ? std::getenv("XDG_CURRENT_DESKTOP")
                                                                   : ""),
                     userPlaces()) {}

DesktopHotKeys::DesktopHotKeys(Desktop desktop, Places places)
    : desktop_(desktop), places_(std::move(places)) {}

DesktopHotKeys::~DesktopHotKeys() {
    if (schemaSource_) g_settings_schema_source_unref(static_cast<GSettingsSchemaSource*>(schemaSource_));
}

bool DesktopHotKeys::isAvailable() const { return desktop_ != Desktop::other; }

std::optional<SymbolicHotKeyValue> DesktopHotKeys::value(std::uint16_t number) const {
    if (desktop_ == Desktop::gnome) return gnome(number);
    if (desktop_ == Desktop::kde) return kde(number);
    return std::nullopt;
}

bool DesktopHotKeys::isEnabled(std::uint16_t number) const { return value(number).has_value(); }

std::optional<SymbolicHotKeyValue> DesktopHotKeys::gnome(std::uint16_t number) const {
    const auto wanted = gnomeKey(number);
    if (!wanted) return std::nullopt;
    std::lock_guard lock(mutex_);
    if (!schemaSource_) {
        GSettingsSchemaSource* source = nullptr;
        if (places_.schemaFolder.empty()) {
            source = g_settings_schema_source_get_default();
            if (source) g_settings_schema_source_ref(source);
        } else {
            source = g_settings_schema_source_new_from_directory(places_.schemaFolder.c_str(), nullptr,
                                                                 FALSE, nullptr);
        }
        if (!source) return std::nullopt;
        schemaSource_ = source;
    }
    // A schema that is not installed is looked up first: making settings of one would abort.
    GSettingsSchema* schema = g_settings_schema_source_lookup(
        static_cast<GSettingsSchemaSource*>(schemaSource_), wanted->schema, TRUE);
    if (!schema) return std::nullopt;
    // A key of another type (a schema of another GNOME version, or someone else's) is no binding:
    // reading it as a list of texts would only print GLib's criticals.
    bool isList = false;
    if (g_settings_schema_has_key(schema, wanted->key)) {
        GSettingsSchemaKey* key = g_settings_schema_get_key(schema, wanted->key);
        isList = g_variant_type_equal(g_settings_schema_key_get_value_type(key), G_VARIANT_TYPE_STRING_ARRAY);
        g_settings_schema_key_unref(key);
    }
    std::optional<SymbolicHotKeyValue> found;
    if (isList) {
        GSettings* settings = g_settings_new_full(schema, nullptr, nullptr);
        gchar** accelerators = g_settings_get_strv(settings, wanted->key);
        for (gchar** each = accelerators; each && *each && !found; ++each)
            found = DesktopShortcuts::gnome(*each);
        g_strfreev(accelerators);
        g_object_unref(settings);
    }
    g_settings_schema_unref(schema);
    return found;
}

std::optional<SymbolicHotKeyValue> DesktopHotKeys::kde(std::uint16_t number) const {
    const auto entry = kdeEntry(number);
    if (!entry) return std::nullopt;
    auto file = files::read(places_.kdeShortcuts);
    if (!file.ok()) return std::nullopt;
    auto active = DesktopShortcuts::kdeActive(*file, "kwin", *entry);
    if (!active) return std::nullopt;
    return DesktopShortcuts::kde(*active);
}

}  // namespace tindlewave
