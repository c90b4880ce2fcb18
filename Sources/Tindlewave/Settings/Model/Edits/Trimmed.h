#pragma once

#include <string>
#include <string_view>

namespace tindlewave {

// The UTF-8 text without white space and line breaks at either end: the ASCII ones, the next-line
// character, the no-break and the typographic spaces, and the line and paragraph separators.
// Anything that is not valid UTF-8 counts as text and stays.
std::string trimmed(std::string_view text);

// A name as menus and rows show it: every control character (tab and line breaks included, and
// the line and paragraph separators) is a space, so a name stays on its one line and column.
std::string shownName(std::string_view text);

}  // namespace tindlewave
