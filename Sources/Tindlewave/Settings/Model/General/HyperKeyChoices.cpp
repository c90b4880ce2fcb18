#include "Settings/Model/General/HyperKeyChoices.h"

#include <algorithm>
#include <array>

#include "Core/Overloaded.h"
#include "Model/HexCoding.h"
#include "Runtime/Worlds/WorldTexts.h"
#include "Settings/Model/Texts/Labels.h"

namespace tindlewave::HyperKeyChoices {

const std::vector<HIDUsage>& keys() {
    static const std::vector<HIDUsage> offered = [] {
        constexpr std::array names{"capsLock", "f1", "f2", "f3", "f4", "f5", "f6",
                                   "f7",       "f8", "f9", "f10", "f11", "f12"};
        std::vector<HIDUsage> usages;
        for (const char* name : names)
            if (auto usage = HIDUsage::named(name)) usages.push_back(*usage);
        return usages;
    }();
    return offered;
}

std::vector<HIDUsage> offered(HIDUsage current) {
    std::vector<HIDUsage> items = keys();
    if (std::find(items.begin(), items.end(), current) == items.end()) items.push_back(current);
    return items;
}

std::string keyLabel(HIDUsage usage) {
    if (auto name = usage.name()) return Labels::key(*name);
    return "Key " + hexText(usage.rawValue, 2);
}

std::string detail(const SettingsDevice& keyboard) {
    if (!keyboard.connected()) return "Not connected";
    if (keyboard.isNew()) return "Connected, new";
    if (!keyboard.status || !keyboard.status->hyper) return "Connected";
    return std::visit(Overloaded{
                          [](const HyperStatus::On&) -> std::string { return "Connected, hyper key on"; },
                          [](const HyperStatus::Off&) -> std::string { return "Connected, hyper key off"; },
                          [](const HyperStatus::Applying&) -> std::string {
                              return "Connected, turning the hyper key on\u2026";
                          },
                          [](const HyperStatus::Failed& failed) -> std::string {
                              return "Connected, not applied: " + failed.reason;
                          },
                      },
                      keyboard.status->hyper->value);
}

bool isOn(const SettingsDevice& keyboard) {
    return keyboard.profile && keyboard.profile->hyper.value_or(false);
}

SettingsEdit toggled(const SettingsDevice& keyboard, bool on) {
    if (keyboard.isNew())
        return SettingsEdit::addDevice(keyboard.match, keyboard.name,
                                       ProfileSource::preset(DevicePreset::keyboard));
    return SettingsEdit::hyperOn(keyboard.match, on);
}

PageTexts pageTexts() {
    const auto symbols = modifierSymbols(Modifiers::hyper);
    std::string spaced;
    for (const auto& symbol : symbols) spaced += (spaced.empty() ? "" : " ") + symbol;
    const std::string held = shortcutText(Modifiers::hyper, "");
    const std::string words = modifierName(Modifiers::control) + ", " + modifierName(Modifiers::option) + ", " +
                              modifierName(Modifiers::shift) + " and " + modifierName(Modifiers::command);
    PageTexts texts{
        .heldSymbols = spaced,
        .keyHelp = "Holding it holds " + held + " on the keyboards below. It no longer types as itself.",
        .whileHeldHelp = "Every key you press gets " + words + ", for app shortcuts.",
        .howItWorks = "Tindlewave turns the key into F18 on the keyboards ticked above, then holds " + held +
                      " while you hold F18.",
        .caveat = std::nullopt,
    };
    if (worldTexts() != WorldTexts::linuxDevices)
        texts.caveat = "In password fields the system keeps typing away from other apps, so the hyper key does "
                       "nothing there.";
    return texts;
}

}  // namespace tindlewave::HyperKeyChoices
