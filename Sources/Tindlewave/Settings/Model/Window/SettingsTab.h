#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "Model/EnumText.h"

namespace tindlewave {

// The settings window's pages, in tab order. Each one's text is its case name, the form kept
// under "settingsTab".
enum class SettingsTab { general, hyperKey, buttons, scrolling, devices };

std::string_view toText(SettingsTab tab);
// The title of a tab: its tool-bar label and the window's title while selected.
const char* tabTitle(SettingsTab tab);
template <>
std::optional<SettingsTab> fromText<SettingsTab>(std::string_view text);
template <>
std::span<const SettingsTab> allCases<SettingsTab>();

}  // namespace tindlewave
