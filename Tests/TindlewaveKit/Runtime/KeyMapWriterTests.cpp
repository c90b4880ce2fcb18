#include "Runtime/KeyMapWriter.h"

#include <gtest/gtest.h>

#include <thread>

#include "Runtime/RunLoopExecutor.h"
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
    EXPECT_EQ(failed.error().description(), "hidutil exited 2: hidutil: failed on purpose\n");
    EXPECT_EQ(readNow(fake.host(), keyboardMatching).error(),
              KeyMapError::hidutilFailed(2, "hidutil: failed on purpose\n"));

    HidutilHost missing{folder / "no-hidutil", nullptr};
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

}  // namespace
}  // namespace tindlewave
