#pragma once

#include <optional>
#include <string_view>

#include "Platform/SymbolicHotKeys.h"

namespace tindlewave {

// The shortcut texts of the Linux desktops, read into the key and flags to post. Keys are those
// the program names; letters are taken at their US positions.
namespace DesktopShortcuts {

// A GNOME accelerator such as "<Super>Page_Up" or "<Primary><Alt>Left"; none when a modifier or
// the key is unknown.
std::optional<SymbolicHotKeyValue> gnome(std::string_view accelerator);
// A KDE shortcut such as "Meta+Ctrl+Left"; none likewise.
std::optional<SymbolicHotKeyValue> kde(std::string_view shortcut);
// The first active shortcut of an entry of a KDE shortcuts file ("active,default,name"; several
// active ones are separated by "\t"): none when the group or entry is missing, or the entry is
// switched off ("none" or empty).
std::optional<std::string_view> kdeActive(std::string_view file, std::string_view group,
                                          std::string_view entry);

}  // namespace DesktopShortcuts

}  // namespace tindlewave
