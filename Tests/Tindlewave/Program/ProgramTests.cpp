// The program as a user starts it: offscreen, with its own home and XDG folders.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "ProgramRun.h"

namespace tindlewave {
namespace {

namespace fs = std::filesystem;
using testkit::eventually;
using testkit::Program;

TEST(Program, StartsMakesTheConfigFileAndQuitsCleanlyOnSigterm) {
    Program program;
    program.start();
    ASSERT_TRUE(eventually([&] { return fs::exists(program.configFolder() / "config.json"); }));
    ASSERT_TRUE(eventually([&] { return program.log().find("\"category\":\"app\"") != std::string::npos; }))
        << program.log();
    // Offscreen there is no tray: the settings window carries the menu.
    ASSERT_TRUE(eventually([&] { return program.log().find("no system tray") != std::string::npos; }));
    const int status = program.terminate();
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(program.log().find("\"message\":\"quit\""), std::string::npos) << program.log();
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(program.configFolder()))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{"config.json"}));
}

}  // namespace
}  // namespace tindlewave
