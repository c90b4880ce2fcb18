#include "App/MenuItems.h"

#include "Settings/Model/Edits/Trimmed.h"

namespace tindlewave {

namespace {
// Rows carry names and texts from devices and the file: each stays on its line and in its column.
MenuItem info(std::string_view left, const std::optional<std::string>& right, bool bold = false) {
    MenuItem item;
    item.kind = MenuItem::Kind::info;
    item.title = shownName(left);
    if (right) item.right = shownName(*right);
    item.bold = bold;
    return item;
}

MenuItem separator() {
    MenuItem item;
    item.kind = MenuItem::Kind::separator;
    return item;
}

MenuItem action(std::string title, MenuCommand command, char shortcut = 0, bool enabled = true) {
    MenuItem item;
    item.title = std::move(title);
    item.command = std::move(command);
    item.shortcut = shortcut;
    item.enabled = enabled;
    return item;
}
}  // namespace

std::vector<MenuItem> MenuItems::build(const MenuPresentation& presentation, const MenuState& state) {
    std::vector<MenuItem> items;
    items.push_back(info("Tindlewave", presentation.state, true));
    for (const auto& notice : presentation.notices) {
        items.push_back(action(notice.title, {MenuCommand::Fix{notice.fix}}));
        auto detail = info(notice.detail, std::nullopt);
        detail.indented = true;
        items.push_back(std::move(detail));
    }
    if (state.foundUpdate)
        items.push_back(action("Update to Tindlewave " + *state.foundUpdate + "\u2026",
                               {MenuCommand::InstallUpdate{}}));
    items.push_back(separator());
    MenuItem devices;
    devices.kind = MenuItem::Kind::section;
    devices.title = "Devices";
    items.push_back(devices);
    for (const auto& row : presentation.rows) items.push_back(info(row.name, row.detail));
    if (presentation.footnote) items.push_back(info(*presentation.footnote, std::nullopt));
    items.push_back(separator());
    items.push_back(action("Re-apply Settings Now", {MenuCommand::Reapply{}}, 'r'));
    if (state.hyperKeyEnabled) {
        auto hyper = action("Hyper Key", {MenuCommand::SetHyperKey{!*state.hyperKeyEnabled}}, 0,
                            state.editable);
        hyper.checked = *state.hyperKeyEnabled;
        items.push_back(std::move(hyper));
    }
    items.push_back(action(presentation.paused ? "Resume Tindlewave" : "Pause Tindlewave",
                           {MenuCommand::SetPaused{!presentation.paused}}));
    items.push_back(separator());
    items.push_back(action("Settings\u2026", {MenuCommand::OpenSettings{}}, ','));
    items.push_back(action("Open Config File", {MenuCommand::OpenConfig{}}));
    if (state.updatesConfigured)
        items.push_back(action("Check for Updates\u2026", {MenuCommand::CheckForUpdates{}}, 0,
                               state.canCheckForUpdates));
    items.push_back(separator());
    items.push_back(action("Quit Tindlewave", {MenuCommand::Quit{}}, 'q'));
    return items;
}

}  // namespace tindlewave
