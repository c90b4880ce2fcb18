#include <gtest/gtest.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include "Platform/Linux/System/Files.h"
#include "Runtime/Stores/ConfigStore.h"
#include "Runtime/Stores/Defaults.h"
#include "Runtime/Stores/LogStore.h"
#include "TestKit/Environment.h"
#include "TestKit/ManualExecutor.h"
#include "TestKit/TempFolder.h"

using namespace tindlewave;
using namespace tindlewave::testkit;
namespace fs = std::filesystem;

TEST(LogStore, ReadsThisRunsEntriesOfOneSubsystemOldestFirstAndPrunesOldRuns) {
    TempFolder folder;
    for (int i = 0; i < 6; ++i)
        std::ofstream(folder.path() / ("2020010" + std::to_string(i) + "T000000Z-1.jsonl"))
            << "{}\n";
    ManualClock clock;
    LogStore earlier(folder.path(), false, clock);
    earlier.write("app.tindlewave", "devices", LogLevel::defaultLevel, "earlier run");
    LogStore store(folder.path(), false, clock);
    EXPECT_NE(store.runId(), earlier.runId());
    EXPECT_EQ(store.file().parent_path(), folder.path());

    store.write("app.tindlewave", "devices", LogLevel::defaultLevel, "first");
    store.write("other", "devices", LogLevel::defaultLevel, "other subsystem");
    clock.advance(std::chrono::milliseconds(1500));
    store.write("app.tindlewave", "actions", LogLevel::error, "second \"quoted\"\n\xff");

    auto entries = store.entries("app.tindlewave");
    ASSERT_TRUE(entries.ok()) << entries.error().description();
    ASSERT_EQ(entries->size(), 2u);
    EXPECT_EQ((*entries)[0],
              (LogEntry{clock.date() - std::chrono::milliseconds(1500), store.runId(),
                        "app.tindlewave", "devices", LogLevel::defaultLevel, "first"}));
    EXPECT_EQ((*entries)[1].category, "actions");
    EXPECT_EQ((*entries)[1].level, LogLevel::error);
    EXPECT_EQ((*entries)[1].message, "second \"quoted\"\n\xef\xbf\xbd");  // bad byte replaced

    // Each opening keeps the newest few earlier runs: six old files, then `earlier`, then this.
    std::vector<std::string> files;
    for (const auto& item : fs::directory_iterator(folder.path()))
        files.push_back(item.path().filename().string());
    EXPECT_EQ(files.size(), LogStore::keptRuns + 1);
    EXPECT_TRUE(fs::exists(earlier.file()));
}

TEST(LogStore, LinesFromSeveralThreadsNeverInterleave) {
    TempFolder folder;
    LogStore store(folder.path(), false, SystemClock::shared());
    const std::string payload(3000, 'x');
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < 100; ++i)
                store.write("s", "c", LogLevel::defaultLevel, std::to_string(t) + payload);
        });
    for (auto& writer : writers) writer.join();
    auto entries = store.entries("s");
    ASSERT_TRUE(entries.ok());
    ASSERT_EQ(entries->size(), 400u);
    for (const auto& entry : *entries) EXPECT_EQ(entry.message.substr(1), payload);
}

TEST(LogStore, SkipsATornLineAndReportsAnUnreadableStore) {
    TempFolder folder;
    LogStore store(folder.path(), false, SystemClock::shared());
    store.write("s", "c", LogLevel::fault, "kept");
    std::ofstream(store.file(), std::ios::app) << R"({"time":"2024-01-01T00:00:00.000Z","ru)";
    auto entries = store.entries("s");
    ASSERT_TRUE(entries.ok());
    ASSERT_EQ(entries->size(), 1u);
    EXPECT_EQ((*entries)[0].message, "kept");

    fs::remove(store.file());
    auto missing = store.entries("s");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().path, store.file().string());

    // A folder that cannot be made: writing is silently skipped, reading says why.
    std::ofstream(folder.path() / "blocker") << "a file";
    LogStore blocked(folder.path() / "blocker" / "log", false, SystemClock::shared());
    blocked.write("s", "c", LogLevel::defaultLevel, "lost");
    auto unreadable = blocked.entries("s");
    ASSERT_FALSE(unreadable.ok());
    EXPECT_NE(unreadable.error().description().find("blocker"), std::string::npos);
}

// The log's name can be guessed (start time and process id): a link planted under it, a link in
// place of the folder or a folder of another user's is never written through.
TEST(LogStore, TheLogIsNeverWrittenThroughALinkOrIntoAnotherUsersFolder) {
    TempFolder folder;
    const fs::path victim = folder / "victim";
    TempFolder::write(victim, "precious");
    ManualClock clock;
    const fs::path logs = folder / "log";
    // "<time>-<pid>" for a process's first store, "<time>-<pid>-<n>" for its n-th.
    const std::string probed = LogStore(logs, false, clock).runId();
    const auto first = probed.find('-'), last = probed.rfind('-');
    const std::string next = first == last ? probed + "-2"
                                           : probed.substr(0, last + 1) + std::to_string(std::stoi(probed.substr(last + 1)) + 1);
    fs::create_symlink(victim, logs / (next + ".jsonl"));
    {
        LogStore store(logs, false, clock);
        store.write("s", "c", LogLevel::defaultLevel, "kept");
        EXPECT_NE(store.runId(), next);
        ASSERT_TRUE(store.entries("s").ok());
        EXPECT_EQ(store.entries("s")->size(), 1u);
    }
    EXPECT_EQ(TempFolder::read(victim), "precious");

    const fs::path elsewhere = folder / "elsewhere";
    fs::create_directory(elsewhere);
    fs::create_directory_symlink(elsewhere, folder / "linked");
    LogStore linked(folder / "linked", false, clock);
    linked.write("s", "c", LogLevel::defaultLevel, "lost");
    EXPECT_FALSE(linked.entries("s").ok());
    EXPECT_TRUE(fs::is_empty(elsewhere));

    if (::geteuid() == 0) {
        const fs::path others = folder / "others";
        fs::create_directory(others);
        ASSERT_EQ(::chown(others.c_str(), 65534, 65534), 0);
        LogStore intoOthers(others, false, clock);
        intoOthers.write("s", "c", LogLevel::defaultLevel, "lost");
        ASSERT_FALSE(intoOthers.entries("s").ok());
        EXPECT_NE(intoOthers.entries("s").error().description().find("another user's"), std::string::npos);
        EXPECT_TRUE(fs::is_empty(others));
    }
}

// Run as root by a sudo that keeps HOME (and the XDG folders): the other user's home is left
// alone, the state files go to root's own home, and the run can say why.
TEST(LogStore, AHomeOfAnotherUsersIsLeftAloneAndSaidSo) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can make a folder of another user's";
    const passwd* user = ::getpwuid(::getuid());
    ASSERT_NE(user, nullptr);
    const fs::path own = user->pw_dir;
    TempFolder folder;
    const fs::path others = folder / "alice";
    fs::create_directories(others / ".local/state");
    ASSERT_EQ(::chown(others.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chown((others / ".local/state").c_str(), 65534, 65534), 0);
    Environment home("HOME", others.c_str());
    Environment state("XDG_STATE_HOME", (others / ".local/state").c_str());
    Environment config("XDG_CONFIG_HOME", (others / ".config").c_str());  // missing, in another's home
    EXPECT_EQ(files::homeFolder(), own.string());
    EXPECT_EQ(LogStore::defaultFolder(), own / ".local/state/tindlewave/log");
    EXPECT_EQ(Defaults::defaultFile(), own / ".local/state/tindlewave/defaults.json");
    EXPECT_EQ(ConfigStore::defaultURL(), (own / ".config/tindlewave/config.json").string());
    const auto notice = files::foldersOfAnotherUser();
    ASSERT_TRUE(notice.has_value());
    for (const std::string& named : std::vector<std::string>{"HOME (" + others.string() + ")", "XDG_STATE_HOME",
                                                             "XDG_CONFIG_HOME", "kept under " + own.string()})
        EXPECT_NE(notice->find(named), std::string::npos) << *notice;

    // Before a toolkit reads them, HOME and the XDG folders are root's own: none of the other
    // user's folders is left in the lists, nor their temporary folder, nor the runtime directory
    // of a user who logged out.
    fs::create_directories(others / ".local/share");
    fs::create_directories(others / "tmp");
    for (const auto& theirs : {others / ".local", others / ".local/share", others / "tmp"})
        ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
    const std::string loggedOut = folder / "run-user-4242";  // gone with its login
    Environment dataDirs("XDG_DATA_DIRS", ((others / ".local/share").string() + ":/usr/share").c_str());
    Environment configDirs("XDG_CONFIG_DIRS", (others / ".config").c_str());
    Environment data("XDG_DATA_HOME", (others / ".local/share").c_str());
    Environment cache("XDG_CACHE_HOME", (others / ".cache").c_str());
    Environment runtime("XDG_RUNTIME_DIR", loggedOut.c_str());
    Environment temporary("TMPDIR", (others / "tmp").c_str());
    EXPECT_EQ(files::temporaryFolder(), "/tmp");
    const auto said = files::foldersOfAnotherUser();
    ASSERT_TRUE(said.has_value());
    EXPECT_NE(said->find("XDG_RUNTIME_DIR (" + loggedOut + ")"), std::string::npos) << *said;
    files::useOwnFoldersOnly();
    EXPECT_EQ(std::string(std::getenv("HOME")), own.string());
    for (const char* variable : {"XDG_STATE_HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME",
                                 "XDG_RUNTIME_DIR", "TMPDIR", "XDG_CONFIG_DIRS"})
        EXPECT_EQ(std::getenv(variable), nullptr) << variable << "=" << std::getenv(variable);
    ASSERT_NE(std::getenv("XDG_DATA_DIRS"), nullptr);
    EXPECT_EQ(std::string(std::getenv("XDG_DATA_DIRS")), "/usr/share");
    EXPECT_EQ(files::foldersOfAnotherUser(), std::nullopt);
    EXPECT_FALSE(fs::exists(loggedOut));

    // The user's own places are used, and nothing is said.
    home.set(folder.path().c_str());
    state.set((folder / "state").c_str());
    config.set(nullptr);
    EXPECT_EQ(files::homeFolder(), folder.path().string());
    EXPECT_EQ(LogStore::defaultFolder(), folder / "state/tindlewave/log");
    EXPECT_EQ(files::foldersOfAnotherUser(), std::nullopt);
}

// A device or profile name reaches the log verbatim; the terminal must see no escape sequence.
TEST(LogStore, TheStandardErrorMirrorEscapesControlCharactersAsTheFileDoes) {
    EXPECT_EQ(terminalText("plain é ⌘ text"), "plain é ⌘ text");
    EXPECT_EQ(terminalText("a\tb\nc\rd\be\ff"), "a\\tb\\nc\\rd\\be\\ff");
    EXPECT_EQ(terminalText("\x1b]0;owned\x07\x1b[2J\x7f"), "\\u001b]0;owned\\u0007\\u001b[2J\\u007f");
    EXPECT_EQ(terminalText("\u009b31m \u0085"), "\\u009b31m \\u0085");  // C1 controls
    EXPECT_EQ(terminalText(std::string("x\0y\x9b\xc0\xaf\xed\xa0\x80", 9)),
              "x\\u0000y\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");  // not UTF-8: replaced bytewise

    TempFolder folder;
    ManualClock clock;
    const fs::path captured = folder.path() / "stderr";
    const int saved = ::dup(STDERR_FILENO);
    const int file = ::open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(file, 0);
    ::dup2(file, STDERR_FILENO);
    {
        LogStore store(folder.path() / "log", true, clock);
        store.write("app.tindlewave", "devices", LogLevel::error, "connected Mouse\x1b[8m\tB");
    }
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    ::close(file);
    std::ifstream in(captured);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "devices error: connected Mouse\\u001b[8m\\tB\n");
}

TEST(LogStore, DefaultFolderFollowsXdgStateHome) {
    Environment home("HOME", "/home/someone");
    Environment state("XDG_STATE_HOME", "/state");
    EXPECT_EQ(LogStore::defaultFolder(), fs::path("/state/tindlewave/log"));
    state.set("relative");  // not absolute: ignored
    EXPECT_EQ(LogStore::defaultFolder(), fs::path("/home/someone/.local/state/tindlewave/log"));
}

// Without HOME the log and the defaults go to the home folder the password database names, never
// to a shared folder (such as /tmp) where another user could have planted a link.
TEST(LogStore, WithoutHomeTheStateFilesStayInTheUsersOwnHomeFolder) {
    const passwd* user = ::getpwuid(::getuid());
    ASSERT_NE(user, nullptr);
    const fs::path home = user->pw_dir;
    ASSERT_FALSE(home.empty());
    Environment noHome("HOME", nullptr);
    Environment noState("XDG_STATE_HOME", nullptr);
    EXPECT_EQ(LogStore::defaultFolder(), home / ".local/state/tindlewave/log");
    EXPECT_EQ(Defaults::defaultFile(), home / ".local/state/tindlewave/defaults.json");
}

// Journal lines come from the executors' threads, which run until the program's statics are torn
// down at exit, and the store is often made by one of them: it must still take lines then.
TEST(LogStore, TheProgramsStoreStillWritesWhileStaticsAreTornDown) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process: no store made yet
    TempFolder folder;
    EXPECT_EXIT(
        {
            setenv("XDG_STATE_HOME", folder.path().c_str(), 1);
            std::atexit([] {
                auto& store = LogStore::shared();
                store.write("s", "c", LogLevel::defaultLevel, "at exit");
                auto entries = store.entries("s");
                bool kept =
                    entries.ok() && entries->size() == 2 && (*entries)[1].message == "at exit";
                std::error_code ignored;
                fs::remove_all(std::getenv("XDG_STATE_HOME"), ignored);
                std::_Exit(kept ? 0 : 1);
            });
            LogStore::shared().write("s", "c", LogLevel::defaultLevel, "made after the handler");
            std::exit(2);
        },
        ::testing::ExitedWithCode(0), "");
}
