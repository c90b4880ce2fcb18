// The widget tests' own main: every test process runs on the offscreen platform with a fixed
// 1440x900 screen at scale 2 (and a second one, 1024x600, on its right), in en_US and UTC, with a
// temporary home and XDG folders, so nothing depends on (or touches) the machine's display, locale
// or the user's files.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLocale>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "TestKit/TempFolder.h"

namespace {
void setFolder(const char* variable, const std::filesystem::path& path) {
    std::filesystem::create_directories(path);
    ::setenv(variable, path.c_str(), 1);
}
}  // namespace

int main(int argc, char** argv) {
    tindlewave::testkit::TempFolder home;
    setFolder("HOME", home.path());
    setFolder("XDG_CONFIG_HOME", home.path() / ".config");
    setFolder("XDG_STATE_HOME", home.path() / ".local/state");
    setFolder("XDG_DATA_HOME", home.path() / ".local/share");
    setFolder("XDG_CACHE_HOME", home.path() / ".cache");
    setFolder("XDG_RUNTIME_DIR", home.path() / "runtime");
    std::filesystem::permissions(home.path() / "runtime", std::filesystem::perms::owner_all);
    ::setenv("QT_QPA_PLATFORM", "offscreen:configfile=" TW_OFFSCREEN_SCREEN, 1);
    ::setenv("TZ", "UTC", 1);
    ::setenv("LANG", "en_US.UTF-8", 1);
    ::unsetenv("LC_ALL");
    ::unsetenv("QT_SCALE_FACTOR");
    ::unsetenv("QT_SCREEN_SCALE_FACTORS");
    ::tzset();

    QApplication application(argc, argv);
    QApplication::setStyle("Fusion");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
