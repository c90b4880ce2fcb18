#include "Settings/Model/Window/SnapshotShots.h"

#include <fmt/format.h>

namespace tindlewave::SnapshotNames {

namespace {
char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool kept(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }
}  // namespace

std::string tabStem(SettingsTab tab) {
    std::string stem;
    for (const char* c = tabTitle(tab); *c; ++c) stem.push_back(*c == ' ' ? '-' : lower(*c));
    return stem;
}

std::string mouseStem(std::string_view name) {
    std::string stem;
    for (char c : name) {
        c = lower(c);
        if (kept(c))
            stem.push_back(c);
        else if (!stem.empty() && stem.back() != '-')
            stem.push_back('-');
    }
    while (!stem.empty() && stem.back() == '-') stem.pop_back();
    return stem.empty() ? "mouse" : stem;
}

std::vector<SnapshotShot> shots(const std::vector<SettingsDevice>& mice) {
    std::vector<SnapshotShot> list;
    for (SettingsTab tab : allCases<SettingsTab>()) {
        const bool perMouse = tab == SettingsTab::buttons || tab == SettingsTab::scrolling;
        if (perMouse && !mice.empty()) {
            for (const auto& mouse : mice)
                list.push_back({tabStem(tab) + "-" + mouseStem(mouse.name), tab, mouse.match});
        } else {
            list.push_back({tabStem(tab), tab, std::nullopt});
        }
    }
    return list;
}

std::string baseName(int position, std::string_view name) { return fmt::format("{:02d}-{}", position, name); }

}  // namespace tindlewave::SnapshotNames
