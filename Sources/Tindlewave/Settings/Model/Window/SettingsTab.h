#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "Model/EnumText.h"

namespace tindlewave {

// The settings window's pages, in tab order. Each one's text is its case name, the form kept
// under "settingsTab".
enum class SettingsTab { general, hyperKey, buttons, scrolling, devices };

std::string_view toText(SettingsTab tab);
// The title of a tab: its tool-bar label.
const char* tabTitle(SettingsTab tab);
// The window's title while a tab is selected: the tab's title and the program's name, so that
// task bars and window switchers tell the program's window by its name ("General — Tindlewave").
std::string windowTitleFor(SettingsTab tab);
template <>
std::optional<SettingsTab> fromText<SettingsTab>(std::string_view text);
template <>
std::span<const SettingsTab> allCases<SettingsTab>();

}  // namespace tindlewave
