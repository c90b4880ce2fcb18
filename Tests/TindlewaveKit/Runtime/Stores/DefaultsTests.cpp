#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "Model/Config.h"
#include "Runtime/Stores/Defaults.h"
#include "Runtime/DivertLatch.h"
#include "TestKit/TempFolder.h"

using namespace tindlewave;
using namespace tindlewave::testkit;
namespace fs = std::filesystem;

namespace {
const DeviceMatch mouse = DeviceMatch::device(VendorID{0x046D}, ProductID{0xB023});
const DeviceMatch other = DeviceMatch::device(VendorID{0x046D}, ProductID{0x4082});
}  // namespace

TEST(DivertLatch, HoldsEachDeviceOnceAndSurvivesReopening) {
    TempFolder folder;
    const fs::path file = folder.path() / "state" / "defaults.json";
    {
        Defaults defaults(file);
        DivertLatch latch{defaults};
        EXPECT_FALSE(latch.contains(mouse));
        EXPECT_EQ(latch.insert(mouse), std::nullopt);
        EXPECT_EQ(latch.insert(mouse), std::nullopt);
        EXPECT_EQ(latch.insert(other), std::nullopt);
        EXPECT_EQ(
            defaults.stringArray("listenDiverted"),
            (std::vector<std::string>{
                R"({"VendorID":0x46D,"ProductID":0xB023,"PrimaryUsagePage":1,"PrimaryUsage":6})",
                R"({"VendorID":0x46D,"ProductID":0x4082,"PrimaryUsagePage":1,"PrimaryUsage":6})"}));
    }
    Defaults reopened(file);
    DivertLatch latch{reopened};
    EXPECT_TRUE(latch.contains(mouse));
    EXPECT_TRUE(latch.contains(other));
    EXPECT_FALSE(latch.contains(DeviceMatch::builtIn()));

    EXPECT_EQ(latch.clear(), std::nullopt);
    EXPECT_FALSE(Defaults(file).contains("listenDiverted"));
    // Only the file itself is left: no temporary files beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()),
              1);
}

TEST(DivertLatch, AWronglyTypedRecordCountsAsEmptyAndIsReplaced) {
    TempFolder folder;
    const fs::path file = folder.path() / "defaults.json";
    std::ofstream(file) << R"({"listenDiverted": ["ok", 5], "betaUpdates": true})";
    Defaults defaults(file);
    EXPECT_EQ(defaults.loadError(), std::nullopt);
    EXPECT_EQ(defaults.stringArray("listenDiverted"), std::nullopt);
    DivertLatch latch{defaults};
    EXPECT_FALSE(latch.contains(mouse));
    EXPECT_EQ(latch.insert(mouse), std::nullopt);

    Defaults reopened(file);
    EXPECT_EQ(reopened.stringArray("listenDiverted")->size(), 1u);
    EXPECT_EQ(reopened.boolean("betaUpdates"), true);  // other values are kept
    EXPECT_EQ(reopened.string("betaUpdates"), std::nullopt);
}

// Devices read by several threads at once (HID++ listening starts per device) each get recorded.
TEST(DivertLatch, ConcurrentInsertsAreAllKept) {
    TempFolder folder;
    const fs::path file = folder.path() / "defaults.json";
    Defaults defaults(file);
    constexpr int threads = 8, each = 10;
    std::vector<std::thread> inserting;
    for (int t = 0; t < threads; ++t) {
        inserting.emplace_back([&defaults, t] {
            for (int i = 0; i < each; ++i) {
                auto product = static_cast<std::uint16_t>(t * each + i + 1);
                DivertLatch{defaults}.insert(
                    DeviceMatch::device(VendorID{0x046D}, ProductID{product}));
            }
        });
    }
    for (auto& thread : inserting) thread.join();
    EXPECT_EQ(defaults.stringArray("listenDiverted")->size(), std::size_t{threads * each});
    EXPECT_EQ(Defaults(file).stringArray("listenDiverted")->size(), std::size_t{threads * each});
}

// Whatever sits under the name, only a bounded regular file is read; temporaries that killed
// writers left are removed.
TEST(Defaults, ReadsOnlyARegularFileAndRemovesStaleTemporaries) {
    TempFolder folder;
    const fs::path file = folder.path() / "defaults.json";
    fs::create_symlink("/dev/zero", file);
    Defaults device(file);
    ASSERT_TRUE(device.loadError().has_value());
    EXPECT_EQ(device.loadError()->description(), file.string() + ": not a regular file");

    fs::remove(file);
    std::ofstream(file) << R"({"settingsTab": 1})";
    pid_t ended = ::fork();
    if (ended == 0) ::_exit(0);
    ::waitpid(ended, nullptr, 0);
    const fs::path stale = file.string() + ".tmp-" + std::to_string(ended) + "-4";
    std::ofstream(stale) << "{";
    EXPECT_EQ(Defaults(file).integer("settingsTab"), 1);
    EXPECT_FALSE(fs::exists(stale));
}

TEST(Defaults, BadFilesAndUnwritablePlacesGiveErrorsWithTheirPath) {
    TempFolder folder;
    const fs::path file = folder.path() / "defaults.json";
    std::ofstream(file) << "{ not json";
    Defaults broken(file);
    ASSERT_TRUE(broken.loadError().has_value());
    EXPECT_EQ(broken.loadError()->path, file.string());
    EXPECT_FALSE(broken.contains("listenDiverted"));
    EXPECT_EQ(broken.set("settingsTab", std::int64_t{2}), std::nullopt);  // replaces the bad file
    EXPECT_EQ(Defaults(file).integer("settingsTab"), 2);

    std::ofstream(folder.path() / "blocker") << "a file";
    Defaults blocked(folder.path() / "blocker" / "defaults.json");
    EXPECT_EQ(blocked.loadError(), std::nullopt);
    auto error = blocked.set("snapshotSettings", "/tmp/shots");
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->description().find("blocker"), std::string::npos);
    EXPECT_EQ(blocked.string("snapshotSettings"), "/tmp/shots");  // kept in memory
}

// A value nested far deeper than the program writes is a malformed file: loading it and writing
// the next value must not run the printer down the whole depth.
TEST(Defaults, NestingDeeperThanWrittenIsRefusedAsMalformed) {
    TempFolder folder;
    const fs::path file = folder.path() / "defaults.json";
    const std::size_t levels = 100000;
    std::ofstream(file) << R"({"settingsTab": )" << std::string(levels, '[') << std::string(levels, ']') << "}";
    Defaults deep(file);
    ASSERT_TRUE(deep.loadError().has_value());
    EXPECT_EQ(deep.loadError()->description(), file.string() + ": nested deeper than 2 levels");
    EXPECT_FALSE(deep.contains("settingsTab"));
    EXPECT_EQ(deep.set("betaUpdates", true), std::nullopt);
    EXPECT_EQ(Defaults(file).boolean("betaUpdates"), true);

    // What the program writes itself, brackets inside texts included, still loads.
    std::ofstream(file, std::ios::trunc) << R"({"listenDiverted": ["[[[{", "a\"[["], "x": 1})";
    Defaults written(file);
    EXPECT_EQ(written.loadError(), std::nullopt);
    EXPECT_EQ(written.stringArray("listenDiverted"), (std::vector<std::string>{"[[[{", "a\"[["}));
}

// Every quit clears the divert record: when there is none, the file is neither made nor written.
TEST(Defaults, RemovingAnAbsentKeyWritesNothing) {
    TempFolder folder;
    const fs::path missing = folder.path() / "missing" / "defaults.json";
    EXPECT_EQ(Defaults(missing).remove("listenDiverted"), std::nullopt);
    EXPECT_FALSE(fs::exists(missing.parent_path()));

    const fs::path file = folder.path() / "defaults.json";
    const std::string text = R"({"settingsTab":1,"listenDiverted":["x"]})";
    std::ofstream(file) << text;
    Defaults defaults(file);
    auto read = [&] {
        std::ifstream in(file);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(defaults.remove("betaUpdates"), std::nullopt);
    EXPECT_EQ(read(), text);  // the hand-written layout is untouched
    EXPECT_EQ(defaults.remove("listenDiverted"), std::nullopt);
    EXPECT_FALSE(Defaults(file).contains("listenDiverted"));
    EXPECT_EQ(Defaults(file).integer("settingsTab"), 1);
}

// The engine clears and fills the divert record on its executor's thread, which runs until the
// program's statics are torn down at exit: the program's defaults must still be usable then.
TEST(Defaults, TheProgramsDefaultsStillWriteWhileStaticsAreTornDown) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process: no defaults made yet
    TempFolder folder;
    EXPECT_EXIT(
        {
            setenv("XDG_STATE_HOME", folder.path().c_str(), 1);
            std::atexit([] {
                bool kept = !Defaults::standard().remove("listenDiverted") &&
                            !Defaults(Defaults::defaultFile()).contains("listenDiverted");
                std::error_code ignored;
                fs::remove_all(std::getenv("XDG_STATE_HOME"), ignored);
                std::_Exit(kept ? 0 : 1);
            });
            Defaults::standard().set("listenDiverted", std::vector<std::string>{"made after"});
            std::exit(2);
        },
        ::testing::ExitedWithCode(0), "");
}
