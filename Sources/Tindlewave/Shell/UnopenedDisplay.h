#pragma once

#include <string>
#include <vector>

namespace tindlewave {

// A display the toolkit could not open at start, as it said so: an X display by its DISPLAY value,
// a Wayland one by its WAYLAND_DISPLAY value (empty: the variable is not set).
struct UnopenedDisplay {
    bool wayland = false;
    std::string name;
};

// What the program says for the displays the toolkit tried and could not open, one line each
// ("cannot open the display :99 (nothing listens at /tmp/.X11-unix/X99)"), why found out by
// reaching for the display's socket now, as its client would (never waiting for an answer). Those
// whose variable is not set are said only when no display was named.
std::vector<std::string> unopenedDisplayLines(const std::vector<UnopenedDisplay>& tried);

}  // namespace tindlewave
