#include "Settings/Model/Window/SettingsTab.h"

#include <array>

#include "Model/EnumTextTable.h"

namespace tindlewave {

std::string_view toText(SettingsTab tab) {
    switch (tab) {
        case SettingsTab::general:
            return "general";
        case SettingsTab::hyperKey:
            return "hyperKey";
        case SettingsTab::buttons:
            return "buttons";
        case SettingsTab::scrolling:
            return "scrolling";
        case SettingsTab::devices:
            return "devices";
    }
    return "general";
}

const char* tabTitle(SettingsTab tab) {
    switch (tab) {
        case SettingsTab::general: return "General";
        case SettingsTab::hyperKey: return "Hyper Key";
        case SettingsTab::buttons: return "Buttons";
        case SettingsTab::scrolling: return "Scrolling";
        case SettingsTab::devices: return "Devices";
    }
    return "";
}

std::string windowTitleFor(SettingsTab tab) {
    return std::string(tabTitle(tab)) + " \u2014 Tindlewave";
}

template <>
std::span<const SettingsTab> allCases<SettingsTab>() {
    static constexpr std::array cases{SettingsTab::general, SettingsTab::hyperKey,
                                      SettingsTab::buttons, SettingsTab::scrolling,
                                      SettingsTab::devices};
    return cases;
}

template <>
std::optional<SettingsTab> fromText<SettingsTab>(std::string_view text) {
    return caseWithText(allCases<SettingsTab>(), text);
}

}  // namespace tindlewave
