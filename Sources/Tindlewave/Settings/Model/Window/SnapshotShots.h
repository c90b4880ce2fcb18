#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Model/Config.h"
#include "Settings/Model/Devices/SettingsDevice.h"
#include "Settings/Model/Window/SettingsTab.h"

namespace tindlewave {

// One picture of the settings window: its file-name stem, the page, and the mouse to select for
// it (none for pages about no mouse).
struct SnapshotShot {
    std::string name;
    SettingsTab tab = SettingsTab::general;
    std::optional<DeviceMatch> mouse{};

    bool operator==(const SnapshotShot&) const = default;
};

// An appearance pass: the file-name suffix and whether the window is dark.
struct SnapshotPass {
    std::string_view suffix;
    bool dark = false;
};

namespace SnapshotNames {

// Light first, then dark ("-dark").
inline constexpr SnapshotPass passes[] = {{"", false}, {"-dark", true}};

// A tab's stem: its title lower-cased, spaces turned into "-" ("hyper-key").
std::string tabStem(SettingsTab tab);
// A mouse's stem from its name, which comes from a file or a device: lower-cased letters and
// digits kept, every other run of characters one "-", none at either end; "mouse" when nothing
// is left. It never holds "/" or ".", so the file stays inside the folder.
std::string mouseStem(std::string_view name);
// Every page in tab order; Buttons and Scrolling once per mouse when there are mice.
std::vector<SnapshotShot> shots(const std::vector<SettingsDevice>& mice);
// "%02d-" and the stem: the shot's position in its pass, counted from 1.
std::string baseName(int position, std::string_view name);

// The extra suffixes: before the pass's suffix for the General page's variant, and after it for a
// page's end.
inline constexpr std::string_view permissionMissing = "-permission-missing";
inline constexpr std::string_view scrolledToEnd = "-end";

}  // namespace SnapshotNames

}  // namespace tindlewave
