#include <gtest/gtest.h>

#include "App/MenuItems.h"

namespace tindlewave {
namespace {

std::vector<std::string> titles(const std::vector<MenuItem>& items) {
    std::vector<std::string> out;
    for (const auto& item : items) {
        switch (item.kind) {
        case MenuItem::Kind::separator: out.push_back("---"); break;
        case MenuItem::Kind::section: out.push_back("[" + item.title + "]"); break;
        case MenuItem::Kind::info:
            out.push_back((item.indented ? "  " : "") + item.title + (item.right ? " | " + *item.right : ""));
            break;
        case MenuItem::Kind::action: out.push_back(item.title); break;
        }
    }
    return out;
}

const MenuItem& find(const std::vector<MenuItem>& items, const std::string& title) {
    for (const auto& item : items)
        if (item.title == title) return item;
    throw std::runtime_error("no item " + title);
}

TEST(MenuItems, StartingShowsTheFixedItemsWithoutHyperKeyOrUpdates) {
    auto items = MenuItems::build(MenuPresentation{}, {});
    EXPECT_EQ(titles(items), (std::vector<std::string>{
                                 "Tindlewave | Starting", "---", "[Devices]", "---",
                                 "Re-apply Settings Now", "Pause Tindlewave", "---", "Settings\u2026",
                                 "Open Config File", "---", "Quit Tindlewave"}));
    EXPECT_TRUE(items[0].bold);
    EXPECT_FALSE(items[0].enabled);
    EXPECT_EQ(find(items, "Re-apply Settings Now").shortcut, 'r');
    EXPECT_EQ(find(items, "Settings\u2026").shortcut, ',');
    EXPECT_EQ(find(items, "Quit Tindlewave").shortcut, 'q');
    EXPECT_EQ(find(items, "Quit Tindlewave").command, MenuCommand{MenuCommand::Quit{}});
    EXPECT_TRUE(find(items, "Open Config File").enabled);
}

TEST(MenuItems, PausedWithAttentionShowsNoticesWithTheirDetailAndResume) {
    MenuPresentation presentation;
    presentation.state = "Paused";
    presentation.paused = true;
    presentation.needsAttention = true;
    presentation.notices = {{"Input Monitoring is off", "Mouse buttons need it. Click to allow.",
                             MenuPresentation::Fix::permission(Permission::inputMonitoring)}};
    presentation.rows = {{"MX & Co", "Paused"}};
    presentation.footnote = "MX & Co reconnected at 2:05 PM.";
    auto items = MenuItems::build(presentation, {.hyperKeyEnabled = true, .editable = true});
    EXPECT_EQ(titles(items),
              (std::vector<std::string>{
                  "Tindlewave | Paused", "Input Monitoring is off",
                  "  Mouse buttons need it. Click to allow.", "---", "[Devices]", "MX & Co | Paused",
                  "MX & Co reconnected at 2:05 PM.", "---", "Re-apply Settings Now", "Hyper Key",
                  "Resume Tindlewave", "---", "Settings\u2026", "Open Config File", "---",
                  "Quit Tindlewave"}));
    EXPECT_EQ(items[1].command,
              MenuCommand{MenuCommand::Fix{MenuPresentation::Fix::permission(Permission::inputMonitoring)}});
    EXPECT_TRUE(items[1].enabled);
    EXPECT_FALSE(items[2].enabled);
    EXPECT_EQ(find(items, "Resume Tindlewave").command, MenuCommand{MenuCommand::SetPaused{false}});
}

// Qt splits a menu text at its tab into the two columns; a name's own tab or line break must not.
TEST(MenuItems, ControlCharactersInNamesAndTextsShowAsSpaces) {
    MenuPresentation presentation;
    presentation.rows = {{"Desk\tmouse\n2", "Not applied: bad\tkey"}};
    presentation.footnote = "Desk\tmouse\u2028 reconnected at 2:05 PM.";
    presentation.notices = {{"Config file has an error", "devices[0].name\x1b[31m: x",
                             MenuPresentation::Fix::openConfig()}};
    const auto items = MenuItems::build(presentation, {});
    EXPECT_EQ(find(items, "Desk mouse 2").right, "Not applied: bad key");
    EXPECT_NO_THROW(find(items, "Desk mouse  reconnected at 2:05 PM."));
    EXPECT_NO_THROW(find(items, "devices[0].name [31m: x"));
}

TEST(MenuItems, HyperKeyIsCheckedByTheConfigAndEnabledOnlyWhileEditable) {
    auto on = MenuItems::build(MenuPresentation{}, {.hyperKeyEnabled = true, .editable = true});
    const auto& item = find(on, "Hyper Key");
    EXPECT_EQ(item.checked, true);
    EXPECT_TRUE(item.enabled);
    EXPECT_EQ(item.command, MenuCommand{MenuCommand::SetHyperKey{false}});
    auto broken = MenuItems::build(MenuPresentation{}, {.hyperKeyEnabled = false, .editable = false});
    EXPECT_EQ(find(broken, "Hyper Key").checked, false);
    EXPECT_FALSE(find(broken, "Hyper Key").enabled);
    EXPECT_EQ(find(broken, "Hyper Key").command, MenuCommand{MenuCommand::SetHyperKey{true}});
}

TEST(MenuItems, AFoundUpdateSitsBelowTheNoticesAndChecksFollowCanCheck) {
    MenuPresentation presentation;
    presentation.state = "Active";
    auto items = MenuItems::build(presentation, {.foundUpdate = "1.2", .updatesConfigured = true,
                                                 .canCheckForUpdates = false});
    EXPECT_EQ(items[1].title, "Update to Tindlewave 1.2\u2026");
    EXPECT_EQ(items[1].command, MenuCommand{MenuCommand::InstallUpdate{}});
    EXPECT_FALSE(find(items, "Check for Updates\u2026").enabled);
    auto checking = MenuItems::build(presentation, {.updatesConfigured = true, .canCheckForUpdates = true});
    EXPECT_TRUE(find(checking, "Check for Updates\u2026").enabled);
}

}  // namespace
}  // namespace tindlewave
