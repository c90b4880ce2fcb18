#include "Runtime/Worlds/DevicesLock.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "TestKit/TempFolder.h"

extern char** environ;

namespace tindlewave {
namespace {

// The lock is its holder's alone: a program the holder starts (a browser or file manager opened
// from the settings window) does not keep it once the holder has let go, or every start after a
// quit would be refused while that program runs on.
TEST(DevicesLock, IsHeldByItsTakerAloneNotByTheProgramsItStarts) {
    testkit::TempFolder folder;
    const std::string file = (folder.path() / "state" / "running").string();
    pid_t started = -1;
    {
        auto taken = DevicesLock::take(file);
        ASSERT_TRUE(std::holds_alternative<DevicesLock>(taken)) << std::get<std::string>(taken);
        ASSERT_TRUE(std::get<DevicesLock>(taken).held()) << std::get<DevicesLock>(taken).warning();
        auto again = DevicesLock::take(file);
        ASSERT_TRUE(std::holds_alternative<std::string>(again));
        EXPECT_NE(std::get<std::string>(again).find("(process " + std::to_string(::getpid()) + ")"),
                  std::string::npos)
            << std::get<std::string>(again);
        char program[] = "/bin/sleep";
        char seconds[] = "600";
        char* argv[] = {program, seconds, nullptr};
        ASSERT_EQ(::posix_spawn(&started, program, nullptr, nullptr, argv, environ), 0);
    }
    auto next = DevicesLock::take(file);
    ::kill(started, SIGKILL);
    ::waitpid(started, nullptr, 0);
    ASSERT_TRUE(std::holds_alternative<DevicesLock>(next)) << std::get<std::string>(next);
    EXPECT_TRUE(std::get<DevicesLock>(next).held());
}

}  // namespace
}  // namespace tindlewave
