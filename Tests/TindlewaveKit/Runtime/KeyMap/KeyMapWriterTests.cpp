#include "Runtime/KeyMap/KeyMapWriter.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "Platform/Linux/System/FolderWatchDescriptor.h"
#include "Runtime/Executors/RunLoopExecutor.h"
#include "Runtime/Executors/ThreadPool.h"
#include "TestKit/FakeHidutil.h"
#include "TestKit/TempFolder.h"
#include "TestKit/Waiter.h"

namespace tindlewave {
namespace {

using namespace KeyMapWriter;
using testkit::FakeHidutil;
using testkit::TempFolder;

// The matching text of the device in the fake's state: vendor 0x46D, product 0xC52B.
const std::string keyboardMatching =
    R"({"VendorID":0x46D,"ProductID":0xC52B,"PrimaryUsagePage":1,"PrimaryUsage":6})";

KeyMapSetup hyperOnCapsLock() {
    return {{{HIDUsage{0x39},
              KeyTarget::carrier(Carrier::hyperKey(), CarrierMeaning::holdModifiers({}))}}};
}

KeyMapSetup twoRoutes() {
    auto setup = hyperOnCapsLock();
    setup.routes.push_back({HIDUsage{0x3A}, KeyTarget::native(HIDUsage{0xE4})});
    return setup;
}

class KeyMapWriterTest : public ::testing::Test {
  protected:
    TempFolder folder;
    FakeHidutil fake{folder / "hidutil.json"};
};

TEST_F(KeyMapWriterTest, WriteIsAppliedToEveryServiceAndReadBack) {
    fake.addKeyboard(0x1000004be, 0x46D, 0xC52B);
    fake.addKeyboard(0x1000004c0, 0x46D, 0xC52B);
    fake.addKeyboard(0x5, 0x1234, 0xAB);  // another keyboard, not touched

    ASSERT_TRUE(writeNow(fake.host(), twoRoutes(), keyboardMatching).ok());
    auto read = readNow(fake.host(), keyboardMatching);
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(*read, (Pairs{{0x700000039, 0x70000006D}, {0x70000003A, 0x7000000E4}}));

    auto state = fake.load();
    EXPECT_TRUE(state["services"][2]["mapping"].is_null());
    // The matching and set-up texts, quotes and braces and all, each arrive as one argument.
    const auto& set = state["calls"][0];
    EXPECT_EQ(set, (nlohmann::json{"property", "--matching", keyboardMatching, "--set",
                                   twoRoutes().userKeyMappingJSON()}));
    EXPECT_EQ(state["calls"][1], (nlohmann::json{"property", "--matching", keyboardMatching,
                                                 "--get", "UserKeyMapping"}));
}

TEST_F(KeyMapWriterTest, AnEmptyMapClearsTheKeyboard) {
    fake.addKeyboard(0x1000004be, 0x46D, 0xC52B);
    ASSERT_TRUE(writeNow(fake.host(), hyperOnCapsLock(), keyboardMatching).ok());
    ASSERT_TRUE(writeNow(fake.host(), KeyMapSetup::neutral(), keyboardMatching).ok());
    EXPECT_EQ(*readNow(fake.host(), keyboardMatching), Pairs{});
}

TEST_F(KeyMapWriterTest, WriteChecksFailWhenNoServiceMatchesOrOneLags) {
    fake.addKeyboard(0x1000004be, 0x46D, 0xC52B);
    auto unmatched = writeNow(fake.host(), hyperOnCapsLock(), R"({"VendorID":0x1})");
    ASSERT_FALSE(unmatched.ok());
    EXPECT_EQ(unmatched.error().description(), "no keyboard service matched");

    fake.addKeyboard(0x1000004c0, 0x46D, 0xC52B, /*builtIn=*/false, /*lags=*/true);
    auto lagging = writeNow(fake.host(), hyperOnCapsLock(), keyboardMatching);
    ASSERT_FALSE(lagging.ok());
    EXPECT_EQ(lagging.error(), KeyMapError::serviceLagsDevice());
    EXPECT_EQ(lagging.error().description(), "keyboard service not ready");

    fake.change([](auto& state) { state["garbage"] = true; });
    EXPECT_EQ(writeNow(fake.host(), hyperOnCapsLock(), keyboardMatching).error(),
              KeyMapError::noServiceMatched());
}

TEST_F(KeyMapWriterTest, FailedAndMissingHidutilReportStatusAndOutput) {
    fake.addKeyboard(0x1000004be, 0x46D, 0xC52B);
    fake.change([](auto& state) { state["exitStatus"] = 2; });
    auto failed = writeNow(fake.host(), hyperOnCapsLock(), keyboardMatching);
    ASSERT_FALSE(failed.ok());
    // One line for the status and the log, whatever hidutil printed.
    EXPECT_EQ(failed.error().description(), "hidutil exited 2: hidutil: failed on purpose");
    EXPECT_EQ(readNow(fake.host(), keyboardMatching).error(),
              KeyMapError::hidutilFailed(2, "hidutil: failed on purpose\n"));
    EXPECT_EQ(KeyMapError::hidutilFailed(1, "\n  first line \r\n\n\tsecond\n").description(),
              "hidutil exited 1: first line; second");
    EXPECT_EQ(KeyMapError::hidutilFailed(1, " \n").description(), "hidutil exited 1");

    KeyMapHost missing{folder / "no-hidutil", nullptr};
    auto notThere = readNow(missing, keyboardMatching);
    ASSERT_FALSE(notThere.ok());
    EXPECT_EQ(notThere.error().description(), "hidutil exited -1: No such file or directory");
}

TEST_F(KeyMapWriterTest, AHangingHidutilIsKilledAfterThreeSecondsAsTimedOut) {
    fake.addKeyboard(0x1000004be, 0x46D, 0xC52B);
    fake.change([](auto& state) { state["hang"] = true; });
    auto hung = readNow(fake.host(), keyboardMatching);
    ASSERT_FALSE(hung.ok());
    EXPECT_EQ(hung.error(), KeyMapError::timedOut());
    EXPECT_EQ(hung.error().description(), "hidutil timed out");
}

// Calls for one keyboard never overlap, whoever makes them: a replaced slot's write still
// running must not race the new slot's survey.
TEST_F(KeyMapWriterTest, CallsForOneKeyboardRunOneAtATimeAndReportBackOnTheCallersExecutor) {
    fake.addKeyboard(0x1000004be, 0x46D, 0xC52B);
    fake.change([](auto& state) { state["delay"] = 0.1; });
    RunLoopExecutor back("test.back");
    testkit::Waiter waiter;
    int finished = 0;
    bool allOnBack = true;
    for (int i = 0; i < 3; ++i) {
        write(fake.host(), back, hyperOnCapsLock(), keyboardMatching, [&](auto result) {
            waiter.update([&] {
                allOnBack = allOnBack && back.isCurrent() && result.ok();
                ++finished;
            });
        });
        read(fake.host(), back, keyboardMatching, [&](auto result) {
            waiter.update([&] {
                allOnBack = allOnBack && back.isCurrent() && result.ok();
                ++finished;
            });
        });
    }
    ASSERT_TRUE(waiter.waitFor([&] { return finished == 6; }));
    EXPECT_TRUE(waiter.read([&] { return allOnBack; }));
    EXPECT_EQ(fake.load()["mostRunning"], 1);
}

// Like the real tool, the fake answers bad dictionaries with an error and a non-zero status, and
// changes nothing.
TEST_F(KeyMapWriterTest, TheFakeRefusesLiteralsAndValuesItCannotRead) {
    fake.addKeyboard(0x1000004be, 0x46D, 0xC52B);
    ASSERT_TRUE(writeNow(fake.host(), hyperOnCapsLock(), keyboardMatching).ok());
    const auto before = fake.load()["services"];
    auto set = [&](std::string dictionary) {
        return *hidutil(fake.host(),
                        {"property", "--matching", keyboardMatching, "--set", dictionary});
    };
    const HidutilRun badMatching{1, "hidutil: cannot parse the matching dictionary\n"};
    const HidutilRun badSet{1, "hidutil: cannot parse the property dictionary\n"};
    EXPECT_EQ(
        *hidutil(fake.host(), {"property", "--matching", R"({"VendorID":0x10000000000000000})",
                               "--get", "UserKeyMapping"}),
        badMatching);
    auto wrong = [](std::string source) {
        return R"({"UserKeyMapping":[{"HIDKeyboardModifierMappingSrc":)" + source +
               R"(,"HIDKeyboardModifierMappingDst":0x70000006D}]})";
    };
    EXPECT_EQ(set(wrong("0x1FFFFFFFFFFFFFFFFF")), badSet);
    EXPECT_EQ(set(wrong("\"capsLock\"")), badSet);
    EXPECT_EQ(set(wrong("-57")), badSet);
    EXPECT_EQ(set(R"({"UserKeyMapping":[7]})"), badSet);
    EXPECT_EQ(fake.load()["services"], before);
}

// The fake's count of runs under way, read under its lock (a run may be writing the file).
int runningNow(const std::string& stateFile) {
    int fd = ::open(stateFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    ::flock(fd, LOCK_SH);
    auto state = nlohmann::json::parse(TempFolder::read(stateFile), nullptr, false);
    ::flock(fd, LOCK_UN);
    ::close(fd);
    return state.is_object() ? state.value("running", -1) : -1;
}

// Waits until the fake's state file says `count` runs are under way, looking again at each change
// of the folder.
bool waitForRunning(const TempFolder& folder, int count) {
    FolderWatchDescriptor watch(folder.path().string());
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (runningNow(folder / "hidutil.json") != count) {
        if (std::chrono::steady_clock::now() > limit) return false;
        pollfd ready{watch.fd(), POLLIN, 0};
        ::poll(&ready, 1, 1000);
        watch.drain();
    }
    return true;
}

// Calls queued behind a hanging keyboard wait outside the pool: another keyboard's call gets a
// thread at once instead of after the hanging one's watchdog.
TEST_F(KeyMapWriterTest, AHangingKeyboardLeavesThePoolToTheOthers) {
    const std::string otherMatching =
        R"({"VendorID":0x1234,"ProductID":0xAB,"PrimaryUsagePage":1,"PrimaryUsage":6})";
    fake.addKeyboard(0x1000004be, 0x46D, 0xC52B);
    fake.addKeyboard(0x5, 0x1234, 0xAB);
    fake.change([](auto& state) { state["hang"] = true; });
    testkit::Waiter waiter;  // outlives the executor and the pool that notify it
    int hungDone = 0;
    bool otherDone = false, otherBeforeHung = false;
    RunLoopExecutor back("test.back");
    ThreadPool pool(4);
    KeyMapHost host{fake.host().executable, &pool};

    for (int i = 0; i < 8; ++i) {
        read(host, back, keyboardMatching, [&](auto) { waiter.update([&] { ++hungDone; }); });
    }
    ASSERT_TRUE(waitForRunning(folder, 1));
    fake.change([](auto& state) { state["hang"] = false; });  // the first call hangs on
    read(host, back, otherMatching, [&](auto result) {
        waiter.update([&] {
            otherDone = result.ok();
            otherBeforeHung = hungDone == 0;
        });
    });
    ASSERT_TRUE(waiter.waitFor([&] { return otherDone; }));
    EXPECT_TRUE(waiter.read([&] { return otherBeforeHung; }));
    EXPECT_TRUE(waiter.waitFor([&] { return hungDone == 8; }));
}

// A child that prints without end is stopped at the output limit, long before the watchdog.
TEST_F(KeyMapWriterTest, AFloodingHidutilIsStoppedAtTheOutputLimit) {
    KeyMapHost flooding{folder / "flooding", nullptr};
    TempFolder::write(flooding.executable, "#!/bin/sh\nexec yes\n");
    ::chmod(flooding.executable.c_str(), 0755);
    auto run = hidutil(flooding, {"property"});
    ASSERT_FALSE(run.ok());
    EXPECT_EQ(run.error(), KeyMapError::hidutilFailed(-1, "hidutil printed more than 4 MiB"));
    EXPECT_EQ(readNow(flooding, keyboardMatching).error(), run.error());
}

}  // namespace
}  // namespace tindlewave
