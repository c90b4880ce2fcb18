#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "Platform/Linux/Desktop/XdgAutostart.h"
#include "TestKit/TempFolder.h"

namespace tindlewave {
namespace {

using testkit::TempFolder;
namespace fs = std::filesystem;

TEST(XdgAutostart, SwitchesOnAndOffWithAnEntryThatStartsTheProgram) {
    TempFolder home;
    XdgAutostart item(home.path() / "config" / "autostart", "/opt/tw/bin/tindlewave");
    EXPECT_EQ(item.status(), LoginItemState::off);
    EXPECT_EQ(item.disable(), std::nullopt);  // nothing to remove

    EXPECT_EQ(item.enable(), std::nullopt);  // makes the missing folders
    EXPECT_EQ(item.status(), LoginItemState::on);
    EXPECT_EQ(TempFolder::read(item.file().string()),
              "[Desktop Entry]\nType=Application\nName=Tindlewave\nExec=/opt/tw/bin/tindlewave\n");
    EXPECT_EQ(item.enable(), std::nullopt);  // again: same file
    EXPECT_EQ(item.status(), LoginItemState::on);

    EXPECT_EQ(item.disable(), std::nullopt);
    EXPECT_FALSE(fs::exists(item.file()));
    EXPECT_EQ(item.status(), LoginItemState::off);
}

// An upgrade or rebuild replaces the running program's file: the system then gives its path with
// " (deleted)" after it, which would start nothing and read back as off.
TEST(XdgAutostart, AReplacedProgramIsStartedFromItsPathAndARemovedOneSaysWhy) {
    TempFolder home;
    const fs::path program = home.path() / "tindlewave";
    std::string link = program.string() + " (deleted)";
    XdgAutostart item(home.path() / "autostart", XdgAutostart::ProgramPath([&] { return link; }));

    const auto refused = item.enable();  // nothing in its place
    ASSERT_TRUE(refused.has_value());
    EXPECT_EQ(*refused,
              "the program was removed from " + program.string() +
                  " while it runs; start Tindlewave from where it is now, then switch this on");
    EXPECT_FALSE(fs::exists(item.file()));

    TempFolder::write(program.string(), "new build");
    EXPECT_EQ(item.enable(), std::nullopt);
    EXPECT_EQ(XdgAutostart::execProgram(TempFolder::read(item.file().string())), program.string());
    EXPECT_EQ(item.status(), LoginItemState::on);

    link = home.path().string() + "/moved/tindlewave";  // read again at each switch
    EXPECT_EQ(item.enable(), std::nullopt);
    EXPECT_EQ(XdgAutostart::execProgram(TempFolder::read(item.file().string())), link);
}

TEST(XdgAutostart, ExecQuotesAndEscapesPathsThatNeedItAndReadsThemBack) {
    for (std::string program :
         {"/home/a b/tindlewave", "/x/\"q\"$`/tindlewave", "/x/100%/tindlewave",
          "/x/back\\slash/tindlewave", "/x/new\nline/tindlewave"}) {
        auto entry = XdgAutostart::entryText(program);
        EXPECT_EQ(XdgAutostart::execProgram(entry), program) << entry;
        EXPECT_EQ(std::count(entry.begin(), entry.end(), '\n'), 4) << entry;  // one line each
    }
    EXPECT_NE(XdgAutostart::entryText("/home/a b/tindlewave").find("Exec=\"/home/a b/tindlewave\""),
              std::string::npos);
    EXPECT_NE(XdgAutostart::entryText("/x/100%/tindlewave").find("100%%"), std::string::npos);
}

TEST(XdgAutostart, OnlyOurVisibleEntryCountsAsOnAndAForeignOneIsLeftAlone) {
    TempFolder folder;
    XdgAutostart item(folder.path(), "/usr/bin/tindlewave");
    auto file = item.file().string();

    TempFolder::write(file, "[Desktop Entry]\nType=Application\nExec=/usr/bin/other --x\n");
    EXPECT_EQ(item.status(), LoginItemState::off);
    EXPECT_EQ(item.disable(), std::nullopt);
    EXPECT_TRUE(fs::exists(file));  // not ours

    // Ours from another place (a moved or packaged program), with arguments and spacing.
    TempFolder::write(file, "# note\n[Desktop Entry]\nExec = /old/place/tindlewave --flag\n");
    EXPECT_EQ(item.status(), LoginItemState::on);
    TempFolder::write(file, "[Desktop Entry]\nExec=tindlewave\nHidden=true\n");
    EXPECT_EQ(item.status(), LoginItemState::off);
    // A key of another group does not count.
    TempFolder::write(file, "[Desktop Action x]\nExec=tindlewave\n[Desktop Entry]\nName=T\n");
    EXPECT_EQ(item.status(), LoginItemState::off);

    TempFolder::write(file, "[Desktop Entry]\nExec=tindlewave\nHidden=true\n");
    EXPECT_EQ(item.disable(), std::nullopt);  // ours though hidden: removed
    EXPECT_FALSE(fs::exists(file));
}

TEST(XdgAutostart, AFolderThatCannotBeMadeOrAProgramNotFoundGivesAnError) {
    TempFolder folder;
    TempFolder::write(folder / "config", "a file where the folder should be");
    XdgAutostart blocked(folder.path() / "config" / "autostart", "/usr/bin/tindlewave");
    auto error = blocked.enable();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->rfind("cannot write " + blocked.file().string() + ": ", 0), 0u) << *error;
    EXPECT_EQ(blocked.status(), LoginItemState::off);
    EXPECT_EQ(blocked.disable(), std::nullopt);

    XdgAutostart lost(folder.path() / "autostart", std::nullopt);
    EXPECT_EQ(lost.enable(), "cannot find the path of the running program");
    EXPECT_FALSE(fs::exists(lost.file()));
}

TEST(XdgAutostart, TheDefaultFolderFollowsAnAbsoluteConfigHomeAndTheProgramIsAbsolute) {
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    std::string restore = saved ? saved : "";
    setenv("XDG_CONFIG_HOME", "/tmp/cfg", 1);
    EXPECT_EQ(XdgAutostart::defaultFolder(), fs::path("/tmp/cfg/autostart"));
    setenv("XDG_CONFIG_HOME", "relative", 1);
    EXPECT_EQ(XdgAutostart::defaultFolder().filename(), "autostart");
    EXPECT_EQ(XdgAutostart::defaultFolder().parent_path().filename(), ".config");
    if (saved)
        setenv("XDG_CONFIG_HOME", restore.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");

    auto program = XdgAutostart::runningProgram();
    ASSERT_TRUE(program);
    EXPECT_TRUE(fs::path(*program).is_absolute());
}

}  // namespace
}  // namespace tindlewave
