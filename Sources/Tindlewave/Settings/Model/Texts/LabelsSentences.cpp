// The sentences of the settings pages: under rules, after listening, and for set-up choices.

#include "Core/Overloaded.h"
#include "Model/HexCoding.h"
#include "Runtime/Worlds/WorldTexts.h"
#include "Settings/Model/Texts/Labels.h"
#include "Settings/Model/Edits/Trimmed.h"

namespace tindlewave::Labels {

namespace {

// The name of the first profile with the match, else the match itself.
std::string name(const DeviceMatch& match, const Config& config) {
    for (const DeviceProfile& profile : config.devices) {
        if (profile.match == match) return shownName(profile.name);
    }
    return Labels::match(match);
}

std::string_view presetTitle(DevicePreset preset) {
    switch (preset) {
        case DevicePreset::mxMaster3:
            return "MX Master 3 preset";
        case DevicePreset::mouse24G:
            return "2.4G mouse preset";
        case DevicePreset::keyboard:
            return "Hyper key";
    }
    return "";
}

std::string presetHelp(DevicePreset preset) {
    switch (preset) {
        case DevicePreset::mxMaster3:
            return "Gesture and top buttons, reversed thumb wheel, smooth scrolling, and hold the "
                   "right button to scroll.";
        case DevicePreset::mouse24G:
            return "Lists it with the mice. Escape becomes " + modifierKeyName(HeldModifier::rightOption) +
                   " while held, and Return sends " + shortcutText(Modifiers::option | Modifiers::shift, "S") +
                   ".";
        case DevicePreset::keyboard:
            return "Turns on the hyper key for this keyboard.";
    }
    return "";
}

}  // namespace

std::optional<std::string> heldKeys(const Action& action) {
    if (const auto* shortcut = as<Action::Shortcut>(action)) {
        return chord(shortcut->chord) + " stays down while you hold it, and goes up when you let go.";
    }
    if (const auto* held = as<Action::Modifier>(action)) {
        return std::string(modifierName(held->modifier)) +
               " stays down while you hold it, so a click meanwhile is a " +
               std::string(modifierSymbol(held->modifier)) + "-click.";
    }
    return std::nullopt;
}

std::string holdToScroll(const Control& control, bool hasClickRule) {
    std::string text = "Hold the button and move the mouse to scroll. ";
    if (hasClickRule) return text + "A quick press still does the click rule.";
    if (is<Control::Button>(control)) return text + "A quick press still clicks as usual.";
    return text + "A quick press does nothing until you add a click rule.";
}

std::string listenEnded(ListenEnd end, std::string_view device) {
    switch (end) {
        case ListenEnd::timedOut:
            return "No press heard in " + std::to_string(ListenStatus::timeout.count()) +
                   " seconds. Add Rule to try again.";
        case ListenEnd::disconnected:
            return std::string(device) + " disconnected, so Tindlewave stopped listening.";
        case ListenEnd::paused:
            return "Tindlewave is paused, so it stopped listening.";
        case ListenEnd::slept:
            return "The computer went to sleep, so Tindlewave stopped listening.";
        case ListenEnd::needsAccessibility:
            return "Tindlewave needs Accessibility to hear this mouse's buttons.";
    }
    return "";
}

std::string match(const DeviceMatch& match) {
    const auto* device = as<DeviceMatch::Device>(match);
    if (!device) return "Built-in keyboard";
    return "Vendor " + hexText(device->vendor) + ", product " + hexText(device->product);
}

std::string setUpItem(const ProfileSource& source, const Config& config) {
    return std::visit(
        Overloaded{
            [](const ProfileSource::Preset& s) { return std::string(presetTitle(s.preset)); },
            [&](const ProfileSource::Copy& s) { return "Same as " + name(s.of, config); },
            [](const ProfileSource::Blank&) { return std::string("Nothing yet"); },
        },
        source.value);
}

std::string setUpHelp(const ProfileSource& source, const Config& config) {
    return std::visit(
        Overloaded{
            [](const ProfileSource::Preset& s) { return std::string(presetHelp(s.preset)); },
            [&](const ProfileSource::Copy& s) {
                return "Starts with the same settings as " + name(s.of, config) + ".";
            },
            [](const ProfileSource::Blank&) {
                return std::string(
                    "Adds the mouse with no rules, so you can add them on the Buttons tab.");
            },
        },
        source.value);
}

}  // namespace tindlewave::Labels
