#include "Platform/Linux/Desktop/DesktopHotKeys.h"

#include <gtest/gtest.h>

#include <gio/gio.h>

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "Model/Keys.h"
#include "Platform/Linux/Desktop/DesktopShortcuts.h"
#include "TestKit/Environment.h"
#include "TestKit/TempFolder.h"

namespace tindlewave {
namespace {

using testkit::Environment;
using testkit::TempFolder;

constexpr std::uint16_t overview = 32, appWindows = 33, workspaceLeft = 79, workspaceRight = 81;
constexpr std::uint16_t keyPageUp = 0x74, keyLeft = 0x7B, keyF10 = 0x6D, keyS = 0x01;

SymbolicHotKeyValue hotKey(std::uint16_t key, Modifiers modifiers) {
    return {key, quartzFlags(modifiers)};
}

TEST(DesktopShortcuts, AcceleratorsOfBothDesktopsBecomeKeysAndFlags) {
    using namespace DesktopShortcuts;
    EXPECT_EQ(gnome("<Super>Page_Up"), hotKey(keyPageUp, Modifiers::command));
    EXPECT_EQ(gnome("<Primary><Alt>Left"), hotKey(keyLeft, Modifiers::control | Modifiers::option));
    EXPECT_EQ(gnome("<Shift><Control>s"), hotKey(keyS, Modifiers::shift | Modifiers::control));
    EXPECT_EQ(gnome("<Super>Delete"), hotKey(0x75, Modifiers::command));  // forward delete
    EXPECT_EQ(gnome("<Hyper>Left"), std::nullopt);
    EXPECT_EQ(gnome("<Super>"), std::nullopt);
    EXPECT_EQ(gnome("<Super>XF86Launch1"), std::nullopt);
    EXPECT_EQ(gnome("<Super"), std::nullopt);
    EXPECT_EQ(kde("Meta+Ctrl+Left"), hotKey(keyLeft, Modifiers::command | Modifiers::control));
    EXPECT_EQ(kde("Ctrl+F10"), hotKey(keyF10, Modifiers::control));
    EXPECT_EQ(kde("Meta+PgUp"), hotKey(keyPageUp, Modifiers::command));
    EXPECT_EQ(kde("Fn+Left"), std::nullopt);
    EXPECT_EQ(kde("Ctrl+"), std::nullopt);
}

TEST(DesktopShortcuts, KdeFileGivesTheFirstActiveShortcutOfItsGroup) {
    const std::string file =
        "[plasmashell]\nOverview=Meta+Q,none,Something else\n"
        "[kwin]\n"
        "Overview=Meta+W\\tMeta+Tab,Meta+W,Toggle Overview\n"
        "ExposeClass=none,Ctrl+F7,Toggle Present Windows (Window class)\n"
        "Switch One Desktop to the Left = Meta+Ctrl+Left , Meta+Ctrl+Left,Switch One Desktop to the Left\n"
        "Switch One Desktop to the Right=,Meta+Ctrl+Right,Switch One Desktop to the Right\n"
        "[kwinx]\nExposeClass=Ctrl+F7,Ctrl+F7,x\n";
    using DesktopShortcuts::kdeActive;
    EXPECT_EQ(kdeActive(file, "kwin", "Overview"), "Meta+W");
    EXPECT_EQ(kdeActive(file, "kwin", "ExposeClass"), std::nullopt);
    EXPECT_EQ(kdeActive(file, "kwin", "Switch One Desktop to the Left"), "Meta+Ctrl+Left");
    EXPECT_EQ(kdeActive(file, "kwin", "Switch One Desktop to the Right"), std::nullopt);
    EXPECT_EQ(kdeActive(file, "kwin", "Missing"), std::nullopt);
    EXPECT_EQ(kdeActive(file, "plasmashell", "Overview"), "Meta+Q");
}

TEST(DesktopHotKeys, TheDesktopIsTheSessionsAndOthersHaveNoTable) {
    using D = DesktopHotKeys::Desktop;
    EXPECT_EQ(DesktopHotKeys::desktopOf("GNOME"), D::gnome);
    EXPECT_EQ(DesktopHotKeys::desktopOf("ubuntu:GNOME"), D::gnome);
    EXPECT_EQ(DesktopHotKeys::desktopOf("KDE"), D::kde);
    EXPECT_EQ(DesktopHotKeys::desktopOf("XFCE"), D::other);
    EXPECT_EQ(DesktopHotKeys::desktopOf(""), D::other);
    DesktopHotKeys other(D::other, {});
    EXPECT_FALSE(other.isAvailable());
    EXPECT_EQ(other.value(workspaceLeft), std::nullopt);
    EXPECT_FALSE(other.isEnabled(workspaceLeft));
}

// GNOME's own schemas, as far as the program reads them, compiled into a folder of the test's.
void compileSchemas(const TempFolder& folder, bool withShell) {
    TempFolder::write(folder / "org.gnome.desktop.wm.keybindings.gschema.xml", R"(<schemalist>
  <schema id="org.gnome.desktop.wm.keybindings" path="/org/gnome/desktop/wm/keybindings/">
    <key name="switch-to-workspace-left" type="as">
      <default><![CDATA[['<Super>Page_Up', '<Super><Alt>Left', '<Control><Alt>Left']]]></default>
    </key>
    <key name="switch-to-workspace-right" type="as">
      <default><![CDATA[['<Super>Page_Down']]]></default>
    </key>
  </schema>
</schemalist>
)");
    if (withShell) {
        TempFolder::write(folder / "org.gnome.shell.keybindings.gschema.xml", R"(<schemalist>
  <schema id="org.gnome.shell.keybindings" path="/org/gnome/shell/keybindings/">
    <key name="toggle-overview" type="as">
      <default><![CDATA[['<Super>s']]]></default>
    </key>
  </schema>
</schemalist>
)");
    }
    const std::string command = "glib-compile-schemas " + folder.path().string();
    ASSERT_EQ(std::system(command.c_str()), 0);
}

// The user's own bindings, set as GNOME's settings would set them.
void setBinding(const TempFolder& folder, const char* schemaID, const char* key,
                std::vector<const char*> accelerators) {
    GSettingsSchemaSource* source = g_settings_schema_source_new_from_directory(
        folder.path().c_str(), nullptr, FALSE, nullptr);
    ASSERT_NE(source, nullptr);
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, schemaID, FALSE);
    ASSERT_NE(schema, nullptr);
    GSettings* settings = g_settings_new_full(schema, nullptr, nullptr);
    accelerators.push_back(nullptr);
    EXPECT_TRUE(g_settings_set_strv(settings, key, accelerators.data()));
    g_settings_sync();
    g_object_unref(settings);
    g_settings_schema_unref(schema);
    g_settings_schema_source_unref(source);
}

TEST(DesktopHotKeys, GnomeBindingsComeFromGSettingsAsTheyChange) {
    ::setenv("GSETTINGS_BACKEND", "memory", 1);
    TempFolder folder;
    compileSchemas(folder, true);
    DesktopHotKeys hotKeys(DesktopHotKeys::Desktop::gnome, {.schemaFolder = folder.path().string()});
    ASSERT_TRUE(hotKeys.isAvailable());
    EXPECT_EQ(hotKeys.value(workspaceLeft), hotKey(keyPageUp, Modifiers::command));
    EXPECT_EQ(hotKeys.value(overview), hotKey(keyS, Modifiers::command));
    EXPECT_EQ(hotKeys.value(appWindows), std::nullopt);  // GNOME has none
    EXPECT_FALSE(hotKeys.isEnabled(appWindows));

    setBinding(folder, "org.gnome.desktop.wm.keybindings", "switch-to-workspace-left",
               {"<Hyper>Left", "<Control><Alt>Left"});
    EXPECT_EQ(hotKeys.value(workspaceLeft), hotKey(keyLeft, Modifiers::control | Modifiers::option));
    setBinding(folder, "org.gnome.desktop.wm.keybindings", "switch-to-workspace-right", {});
    EXPECT_EQ(hotKeys.value(workspaceRight), std::nullopt);
    EXPECT_FALSE(hotKeys.isEnabled(workspaceRight));

    // Without the shell's schema installed the overview simply has no binding.
    TempFolder bare;
    compileSchemas(bare, false);
    DesktopHotKeys withoutShell(DesktopHotKeys::Desktop::gnome, {.schemaFolder = bare.path().string()});
    EXPECT_EQ(withoutShell.value(overview), std::nullopt);
}

// Counts GLib's warnings and criticals while it lives.
class GLibComplaints {
  public:
    GLibComplaints() {
        for (const char* domain : {"GLib", "GLib-GIO", "GLib-GObject"})
            handlers_.push_back({domain, g_log_set_handler(domain, GLogLevelFlags(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING),
                                                           &GLibComplaints::count, this)});
    }
    ~GLibComplaints() {
        for (auto& [domain, id] : handlers_) g_log_remove_handler(domain, id);
    }
    int count() const { return count_; }

  private:
    static void count(const gchar*, GLogLevelFlags, const gchar*, gpointer self) {
        ++static_cast<GLibComplaints*>(self)->count_;
    }
    std::vector<std::pair<const char*, guint>> handlers_;
    int count_ = 0;
};

TEST(DesktopHotKeys, AGnomeKeyOfAnotherTypeIsNoBindingAndNoComplaint) {
    ::setenv("GSETTINGS_BACKEND", "memory", 1);
    TempFolder folder;
    TempFolder::write(folder / "org.gnome.shell.keybindings.gschema.xml", R"(<schemalist>
  <schema id="org.gnome.shell.keybindings" path="/org/gnome/shell/keybindings/">
    <key name="toggle-overview" type="s">
      <default>'<Super>s'</default>
    </key>
  </schema>
</schemalist>
)");
    TempFolder::write(folder / "org.gnome.desktop.wm.keybindings.gschema.xml", R"(<schemalist>
  <schema id="org.gnome.desktop.wm.keybindings" path="/org/gnome/desktop/wm/keybindings/">
    <key name="switch-to-workspace-left" type="i">
      <default>3</default>
    </key>
    <key name="switch-to-workspace-right" type="as">
      <default><![CDATA[['<Super>Page_Down']]]></default>
    </key>
  </schema>
</schemalist>
)");
    ASSERT_EQ(std::system(("glib-compile-schemas " + folder.path().string()).c_str()), 0);
    // The memory backend is the process's: set what an earlier test may have changed.
    setBinding(folder, "org.gnome.desktop.wm.keybindings", "switch-to-workspace-right", {"<Super>Page_Down"});
    DesktopHotKeys hotKeys(DesktopHotKeys::Desktop::gnome, {.schemaFolder = folder.path().string()});
    GLibComplaints complaints;
    EXPECT_EQ(hotKeys.value(overview), std::nullopt);
    EXPECT_EQ(hotKeys.value(workspaceLeft), std::nullopt);
    EXPECT_EQ(hotKeys.value(workspaceRight), hotKey(0x79, Modifiers::command));
    EXPECT_EQ(complaints.count(), 0);
}

TEST(DesktopHotKeys, TheKdeFileIsFoundWithoutHomeAsTheRestOfTheProgramFindsIt) {
    Environment noConfig("XDG_CONFIG_HOME", nullptr);
    {
        Environment home("HOME", "/home/someone");
        EXPECT_EQ(DesktopHotKeys::userPlaces().kdeShortcuts, "/home/someone/.config/kglobalshortcutsrc");
    }
    {
        Environment noHome("HOME", nullptr);
        const passwd* user = ::getpwuid(::getuid());
        ASSERT_NE(user, nullptr);
        EXPECT_EQ(DesktopHotKeys::userPlaces().kdeShortcuts,
                  std::string(user->pw_dir) + "/.config/kglobalshortcutsrc");
    }
    Environment config("XDG_CONFIG_HOME", "/elsewhere");
    EXPECT_EQ(DesktopHotKeys::userPlaces().kdeShortcuts, "/elsewhere/kglobalshortcutsrc");
}

TEST(DesktopHotKeys, KdeBindingsComeFromItsShortcutsFileAsItChanges) {
    TempFolder config;
    DesktopHotKeys hotKeys(DesktopHotKeys::Desktop::kde, {.kdeShortcuts = config / "kglobalshortcutsrc"});
    EXPECT_TRUE(hotKeys.isAvailable());
    EXPECT_EQ(hotKeys.value(overview), std::nullopt);  // no file yet
    TempFolder::write(config / "kglobalshortcutsrc",
                      "[kwin]\nOverview=Meta+W,Meta+W,Toggle Overview\n"
                      "ExposeClass=Ctrl+F7,Ctrl+F7,Toggle Present Windows (Window class)\n"
                      "Switch One Desktop to the Left=none,Meta+Ctrl+Left,Switch One Desktop to the Left\n");
    EXPECT_EQ(hotKeys.value(overview), hotKey(0x0D, Modifiers::command));
    EXPECT_EQ(hotKeys.value(appWindows), hotKey(0x62, Modifiers::control));
    EXPECT_FALSE(hotKeys.isEnabled(workspaceLeft));
    EXPECT_FALSE(hotKeys.isEnabled(workspaceRight));
}

}  // namespace
}  // namespace tindlewave
