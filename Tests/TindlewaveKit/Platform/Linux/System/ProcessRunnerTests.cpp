#include "Platform/Linux/System/ProcessRunner.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <string>

#include "TestKit/TempFolder.h"

namespace tindlewave {
namespace {

using namespace std::chrono_literals;
using testkit::TempFolder;

std::string script(const TempFolder& folder, const std::string& body) {
    auto path = folder / "tool";
    TempFolder::write(path, "#!/bin/sh\n" + body + "\n");
    ::chmod(path.c_str(), 0755);
    return path;
}

TEST(ProcessRunner, MissingOrNonExecutableProgramIsALaunchError) {
    TempFolder folder;
    auto missing = runProcess(folder / "absent", {}, 3s);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().description, "No such file or directory");

    TempFolder::write(folder / "plain", "#!/bin/sh\n");
    auto plain = runProcess(folder / "plain", {}, 3s);
    ASSERT_FALSE(plain.ok());
    EXPECT_EQ(plain.error().description, "Permission denied");
}

TEST(ProcessRunner, ExitStatusMergedOutputAndArgumentsPassedWhole) {
    TempFolder folder;
    auto tool = script(folder, R"(echo "out $#:$1"; echo err >&2; echo again; exit 3)");
    auto run = runProcess(tool, {R"({"VendorID":0x46D, "a b"})"}, 3s);
    ASSERT_TRUE(run.ok());
    EXPECT_EQ(run->ending, ProcessOutcome::Ending{ProcessOutcome::Exited{3}});
    EXPECT_EQ(run->output, "out 1:{\"VendorID\":0x46D, \"a b\"}\nerr\nagain\n");
}

TEST(ProcessRunner, AHangingChildIsKilledAtTheTimeout) {
    TempFolder folder;
    auto tool = script(folder, "echo started; exec sleep 60");
    // Long enough for a shell on a busy machine to print its line before the kill.
    auto run = runProcess(tool, {}, 3s);
    ASSERT_TRUE(run.ok());
    EXPECT_EQ(run->ending, ProcessOutcome::Ending{ProcessOutcome::Signalled{SIGKILL}});
    EXPECT_EQ(run->output, "started\n");
}

// A process the child leaves behind keeps the pipe open; the read ends with the child anyway, and
// the leftover process, not being the child, is never signalled.
TEST(ProcessRunner, AGrandchildHoldingThePipeNeitherHangsTheReadNorGetsKilled) {
    TempFolder folder;
    auto tool = script(folder, "sleep 60 & echo $!; exit 0");
    auto run = runProcess(tool, {}, 60s);
    ASSERT_TRUE(run.ok());
    EXPECT_EQ(run->ending, ProcessOutcome::Ending{ProcessOutcome::Exited{0}});
    pid_t grandchild = std::stoi(run->output);
    EXPECT_EQ(::kill(grandchild, 0), 0);
    ::kill(grandchild, SIGKILL);

    auto hanging = script(folder, "sleep 60 & echo $!; exec sleep 60");
    auto killed = runProcess(hanging, {}, 3s);
    ASSERT_TRUE(killed.ok());
    EXPECT_EQ(killed->ending, ProcessOutcome::Ending{ProcessOutcome::Signalled{SIGKILL}});
    grandchild = std::stoi(killed->output);
    EXPECT_EQ(::kill(grandchild, 0), 0);
    ::kill(grandchild, SIGKILL);
}

// A child that floods the pipe, or prints far more than the limit and then exits, is cut off at
// the limit and stopped at once: memory stays bounded and the watchdog need not fire.
TEST(ProcessRunner, OutputPastTheLimitIsCutAndTheChildStopped) {
    TempFolder folder;
    auto flood = runProcess("/usr/bin/yes", {}, 60s, 100'000);
    ASSERT_TRUE(flood.ok());
    EXPECT_TRUE(flood->outputCut);
    std::string lines;
    for (int i = 0; i < 50'000; ++i) lines += "y\n";
    EXPECT_EQ(flood->output, lines);
    EXPECT_EQ(flood->ending, ProcessOutcome::Ending{ProcessOutcome::Signalled{SIGKILL}});

    auto tool = script(folder, "exec head -c 3000000 /dev/zero");
    auto large = runProcess(tool, {}, 60s, 1000);
    ASSERT_TRUE(large.ok());
    EXPECT_TRUE(large->outputCut);
    EXPECT_EQ(large->output, std::string(1000, '\0'));

    auto exact = runProcess(script(folder, "printf 12345"), {}, 60s, 5);
    ASSERT_TRUE(exact.ok());
    EXPECT_FALSE(exact->outputCut);
    EXPECT_EQ(exact->output, "12345");
    EXPECT_EQ(exact->ending, ProcessOutcome::Ending{ProcessOutcome::Exited{0}});
}

TEST(ProcessRunner, InvalidUTF8IsReplaced) {
    EXPECT_EQ(decodeUTF8Lossy("ok \xC3\xA9"), "ok \xC3\xA9");
    EXPECT_EQ(decodeUTF8Lossy("a\xFF"
                              "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(decodeUTF8Lossy("\xE2\x82"), "\xEF\xBF\xBD");              // cut short
    EXPECT_EQ(decodeUTF8Lossy("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");  // overlong
}

}  // namespace
}  // namespace tindlewave
