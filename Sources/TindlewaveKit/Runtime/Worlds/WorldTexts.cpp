#include "Runtime/Worlds/WorldTexts.h"

#include <array>
#include <atomic>

namespace tindlewave {

namespace {

std::atomic<WorldTexts> current{WorldTexts::simulated};

struct ModifierTexts {
    Modifiers modifier;
    std::string_view symbol;     // simulated world
    std::string_view word;       // simulated world
    std::string_view linuxName;  // over Linux devices: both symbol and word
};

constexpr std::array<ModifierTexts, 4> modifierTexts{{
    {Modifiers::control, "\u2303", "Control", "Ctrl"},
    {Modifiers::option, "\u2325", "Option", "Alt"},
    {Modifiers::shift, "\u21E7", "Shift", "Shift"},
    {Modifiers::command, "\u2318", "Command", "Super"},
}};

bool overLinux() { return current.load() == WorldTexts::linuxDevices; }

}  // namespace

void setWorldTexts(WorldTexts texts) { current.store(texts); }

WorldTexts worldTexts() { return current.load(); }

std::string systemActionName(SystemAction action) {
    const bool onLinux = worldTexts() == WorldTexts::linuxDevices;
    switch (action) {
        case SystemAction::missionControl: return onLinux ? "Overview" : "Mission Control";
        case SystemAction::appExpose: return onLinux ? "Windows of the App" : "App Exposé";
        case SystemAction::spaceLeft: return onLinux ? "Workspace to the left" : "Space to the left";
        case SystemAction::spaceRight: return onLinux ? "Workspace to the right" : "Space to the right";
    }
    return {};
}

std::vector<std::string> modifierSymbols(Modifiers modifiers) {
    const bool onLinux = overLinux();
    std::vector<std::string> symbols;
    for (const auto& texts : modifierTexts)
        if (modifiers.contains(texts.modifier)) symbols.emplace_back(onLinux ? texts.linuxName : texts.symbol);
    return symbols;
}

std::string modifierName(Modifiers modifier) {
    for (const auto& texts : modifierTexts)
        if (modifier == texts.modifier) return std::string(overLinux() ? texts.linuxName : texts.word);
    return {};
}

std::string modifierNames(Modifiers modifiers) {
    const bool onLinux = overLinux();
    std::string names;
    for (const auto& texts : modifierTexts) {
        if (!modifiers.contains(texts.modifier)) continue;
        if (!names.empty()) names += '+';
        names += onLinux ? texts.linuxName : texts.word;
    }
    return names;
}

Modifiers modifiersOfFlags(std::uint64_t flags) {
    Modifiers result;
    if (flags & QuartzFlag::control) result |= Modifiers::control;
    if (flags & QuartzFlag::option) result |= Modifiers::option;
    if (flags & QuartzFlag::shift) result |= Modifiers::shift;
    if (flags & QuartzFlag::command) result |= Modifiers::command;
    return result;
}

std::string modifierKeyName(HeldModifier modifier) {
    const bool right = modifier == HeldModifier::rightControl || modifier == HeldModifier::rightOption ||
                       modifier == HeldModifier::rightShift || modifier == HeldModifier::rightCommand;
    return (right ? "Right " : "Left ") + modifierName(generic(modifier));
}

std::string shortcutText(Modifiers modifiers, std::string_view key) {
    if (!overLinux()) {
        std::string text;
        for (const auto& symbol : modifierSymbols(modifiers)) text += symbol;
        return text + std::string(key);
    }
    std::string text = modifierNames(modifiers);
    if (!key.empty()) {
        if (!text.empty()) text += '+';
        text += key;
    }
    return text;
}

}  // namespace tindlewave
