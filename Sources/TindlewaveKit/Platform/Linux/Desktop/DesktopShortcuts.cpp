#include "Platform/Linux/Desktop/DesktopShortcuts.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>

#include "Model/Keys.h"

namespace tindlewave::DesktopShortcuts {

namespace {

std::string lowered(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

// The desktops' key names (lower-cased) that differ from the program's.
constexpr std::pair<std::string_view, std::string_view> aliases[] = {
    {"page_up", "pageUp"},      {"prior", "pageUp"},          {"pgup", "pageUp"},
    {"page_down", "pageDown"},  {"next", "pageDown"},         {"pgdown", "pageDown"},
    {"backspace", "delete"},    {"delete", "forwardDelete"},  {"del", "forwardDelete"},
    {"enter", "return"},        {"esc", "escape"},            {"bracketleft", "leftBracket"},
    {"bracketright", "rightBracket"}, {"apostrophe", "quote"}, {"-", "minus"},
    {"=", "equal"},             {"[", "leftBracket"},         {"]", "rightBracket"},
    {"\\", "backslash"},        {";", "semicolon"},           {"'", "quote"},
    {"`", "grave"},             {",", "comma"},               {".", "period"},
    {"/", "slash"},
};

std::optional<KeyCode> keyNamed(std::string_view name) {
    const std::string lower = lowered(name);
    for (const auto& [alias, ours] : aliases)
        if (alias == lower) return KeyCode::named(ours);
    return KeyCode::named(lower);
}

std::optional<Modifiers> modifierNamed(std::string_view name) {
    const std::string lower = lowered(name);
    if (lower == "super" || lower == "meta") return Modifiers::command;
    if (lower == "alt") return Modifiers::option;
    if (lower == "control" || lower == "ctrl" || lower == "primary") return Modifiers::control;
    if (lower == "shift") return Modifiers::shift;
    return std::nullopt;
}

std::optional<SymbolicHotKeyValue> valueOf(std::optional<KeyCode> key, Modifiers modifiers) {
    if (!key) return std::nullopt;
    return SymbolicHotKeyValue{key->rawValue, quartzFlags(modifiers)};
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

}  // namespace

std::optional<SymbolicHotKeyValue> gnome(std::string_view accelerator) {
    Modifiers modifiers;
    while (accelerator.starts_with("<")) {
        const auto close = accelerator.find('>');
        if (close == std::string_view::npos) return std::nullopt;
        auto modifier = modifierNamed(accelerator.substr(1, close - 1));
        if (!modifier) return std::nullopt;
        modifiers |= *modifier;
        accelerator.remove_prefix(close + 1);
    }
    if (accelerator.empty()) return std::nullopt;
    return valueOf(keyNamed(accelerator), modifiers);
}

std::optional<SymbolicHotKeyValue> kde(std::string_view shortcut) {
    Modifiers modifiers;
    // The key is after the last "+", unless the key itself is "+" (not one the program names).
    for (auto plus = shortcut.find('+'); plus != std::string_view::npos && plus + 1 < shortcut.size();
         plus = shortcut.find('+')) {
        auto modifier = modifierNamed(shortcut.substr(0, plus));
        if (!modifier) return std::nullopt;
        modifiers |= *modifier;
        shortcut.remove_prefix(plus + 1);
    }
    if (shortcut.empty()) return std::nullopt;
    return valueOf(keyNamed(shortcut), modifiers);
}

std::optional<std::string_view> kdeActive(std::string_view file, std::string_view group,
                                          std::string_view entry) {
    bool inGroup = false;
    while (!file.empty()) {
        const auto end = file.find('\n');
        std::string_view line = trimmed(file.substr(0, end));
        file.remove_prefix(end == std::string_view::npos ? file.size() : end + 1);
        if (line.starts_with("[")) {
            inGroup = line.size() == group.size() + 2 && line.substr(1, group.size()) == group &&
                      line.back() == ']';
            continue;
        }
        if (!inGroup) continue;
        const auto equals = line.find('=');
        if (equals == std::string_view::npos || trimmed(line.substr(0, equals)) != entry) continue;
        std::string_view active = line.substr(equals + 1);
        active = trimmed(active.substr(0, active.find(',')));
        active = active.substr(0, active.find("\\t"));
        if (active.empty() || active == "none") return std::nullopt;
        return active;
    }
    return std::nullopt;
}

}  // namespace tindlewave::DesktopShortcuts
