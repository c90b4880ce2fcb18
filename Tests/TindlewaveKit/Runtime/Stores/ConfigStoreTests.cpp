#include "Runtime/Stores/ConfigStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stop_token>
#include <vector>

#include "Model/ConfigCodec.h"
#include "Platform/Linux/System/FolderWatchThread.h"
#include "Runtime/Executors/RunLoopExecutor.h"
#include "TestKit/Environment.h"
#include "TestKit/ManualExecutor.h"
#include "TestKit/TempFolder.h"
#include "TestKit/Waiter.h"

namespace tindlewave {
namespace {

using testkit::TempFolder;
namespace fs = std::filesystem;

std::string encoded(const Config& config) {
    return *ConfigCodec::encode(config);
}

Config withHyperOff() {
    Config config = Config::empty();
    config.hyper.enabled = false;
    return config;
}

Config withHyperOnF1() {
    Config config = Config::empty();
    config.hyper.key = HIDUsage{0x3A};
    return config;
}

// Collects what one subscriber receives.
class Subscriber {
  public:
    explicit Subscriber(ConfigStore& store)
        : subscription_(store.snapshots().subscribe(executor_, [this](ConfigSnapshot snapshot) {
              waiter_.update([&] { received_.push_back(std::move(snapshot)); });
          })) {}

    // Waits for the n-th snapshot (counting from 1) and returns it.
    ConfigSnapshot nth(std::size_t n) {
        EXPECT_TRUE(waiter_.waitFor([&] { return received_.size() >= n; })) << "snapshot " << n;
        return waiter_.read(
            [&] { return received_.size() >= n ? received_[n - 1] : ConfigSnapshot{}; });
    }
    std::size_t count() {
        return waiter_.read([&] { return received_.size(); });
    }

  private:
    RunLoopExecutor executor_{"test.subscriber"};
    testkit::Waiter waiter_;
    std::vector<ConfigSnapshot> received_;
    Subscription subscription_;
};

void startAndWait(ConfigStore& store) {
    testkit::Waiter waiter;
    bool done = false;
    store.start([&] { waiter.update([&] { done = true; }); });
    ASSERT_TRUE(waiter.waitFor([&] { return done; }));
}

std::optional<ConfigError> updateAndWait(ConfigStore& store,
                                         std::function<Config(const Config&)> transform) {
    testkit::Waiter waiter;
    std::optional<std::optional<ConfigError>> outcome;
    store.update(std::move(transform), [&](std::optional<ConfigError> error) {
        waiter.update([&] { outcome = error; });
    });
    EXPECT_TRUE(waiter.waitFor([&] { return outcome.has_value(); }));
    return outcome.value_or(ConfigError{"", "no answer"});
}

ConfigError cannotRead() {
    return {"", "cannot read the file: No such file or directory"};
}

TEST(ConfigStore, FirstStartCreatesFolderAndEmptyConfigAndASecondStartDoesNothing) {
    TempFolder home;
    auto path = home / ".config/tindlewave/config.json";
    ConfigStore store(path);
    Subscriber early(store);
    startAndWait(store);
    EXPECT_EQ(early.nth(1), (ConfigSnapshot{Config::empty(), std::nullopt}));
    EXPECT_EQ(TempFolder::read(path), encoded(Config::empty()));

    fs::remove(path);
    EXPECT_EQ(early.nth(2), (ConfigSnapshot{Config::empty(), cannotRead()}));
    startAndWait(store);  // would have written the file again
    EXPECT_FALSE(fs::exists(path));
}

TEST(ConfigStore, AnInvalidFileAtLaunchIsLeftAloneAndReportedWithoutAConfiguration) {
    TempFolder folder;
    auto path = folder / "config.json";
    TempFolder::write(path, "{ \"version\": ");
    ConfigStore store(path);
    startAndWait(store);
    Subscriber late(store);
    auto first = late.nth(1);
    EXPECT_EQ(first.config, std::nullopt);
    EXPECT_EQ(first.error, ConfigCodec::decode("{ \"version\": ").error());
    EXPECT_EQ(TempFolder::read(path), "{ \"version\": ");
}

TEST(ConfigStore, EditsAreSeenKeepingTheLastGoodConfigurationBesideTheError) {
    TempFolder folder;
    auto path = folder / "config.json";
    TempFolder::write(path, encoded(Config::empty()));
    ConfigStore store(path);
    startAndWait(store);
    Subscriber subscriber(store);
    ASSERT_EQ(subscriber.nth(1), (ConfigSnapshot{Config::empty(), std::nullopt}));

    TempFolder::write(path, "[");
    EXPECT_EQ(subscriber.nth(2),
              (ConfigSnapshot{Config::empty(), ConfigCodec::decode("[").error()}));

    TempFolder::write(path, encoded(withHyperOff()));
    EXPECT_EQ(subscriber.nth(3), (ConfigSnapshot{withHyperOff(), std::nullopt}));

    // The same content saved again publishes nothing: the next snapshot is the deletion's.
    TempFolder::write(path, encoded(withHyperOff()));
    fs::remove(path);
    EXPECT_EQ(subscriber.nth(4), (ConfigSnapshot{withHyperOff(), cannotRead()}));
    EXPECT_FALSE(fs::exists(path));

    // An editor's save: written beside, renamed into place.
    TempFolder::write(path + ".swp", encoded(withHyperOnF1()));
    fs::rename(path + ".swp", path);
    EXPECT_EQ(subscriber.nth(5), (ConfigSnapshot{withHyperOnF1(), std::nullopt}));
    EXPECT_EQ(subscriber.count(), 5u);
}

// A thread of this process, as the system counts it: its wake-ups so far (every time it went to
// sleep, waiting or preempted) and whether it sleeps in its loop's wait now.
struct ThreadOfThisProcess {
    pid_t id = 0;

    std::string file(const char* name) const {
        return "/proc/self/task/" + std::to_string(id) + "/" + name;
    }
    long long wakeUps() const {
        long long total = 0;
        std::ifstream status(file("status"));
        for (std::string line; std::getline(status, line);)
            if (line.find("ctxt_switches:") != std::string::npos) total += std::stoll(line.substr(line.find(':') + 1));
        return total;
    }
    bool asleepInItsLoop() const {
        const std::string stat = TempFolder::read(file("stat"));
        const auto state = stat.rfind(") ");  // after the name, which may hold anything
        if (state == std::string::npos || stat.compare(state + 2, 1, "S") != 0) return false;
        // Where it sleeps, where the system says so (the loop waits in epoll).
        const std::string where = TempFolder::read(file("wchan"));
        return where.empty() || where == "0" || where.find("epoll") != std::string::npos;
    }
};

// Another program's files beside the settings (a log or state written all the time) do not even
// wake the store's thread: a hundred writes there cost it no wake-up and start no reading; a
// change of the file itself still does.
TEST(ConfigStore, WritesOfOtherFilesInItsFolderDoNotWakeIt) {
    TempFolder folder;
    auto path = folder / "config.json";
    TempFolder::write(path, encoded(withHyperOff()));
    TempFolder::write(folder / "state.json", "");
    testkit::Waiter waiter;
    int reads = 0;
    ThreadOfThisProcess storeThread;
    ConfigStore store(path, [&](std::string_view bytes, const std::stop_token& stop) {
        waiter.update([&] {
            ++reads;
            storeThread.id = ::gettid();
        });
        return ConfigCodec::decode(bytes, stop);
    });
    startAndWait(store);
    Subscriber subscriber(store);
    ASSERT_EQ(subscriber.nth(1).config, withHyperOff());
    ASSERT_EQ(waiter.read([&] { return reads; }), 1);
    ASSERT_TRUE(testkit::pollUntil([&] { return storeThread.asleepInItsLoop(); }));

    const long long before = storeThread.wakeUps();
    for (int i = 0; i < 100; ++i) TempFolder::write(folder / "state.json", std::to_string(i));
    // Woken, it would be at once; ten times the gathering time pass without a wake-up.
    EXPECT_FALSE(testkit::pollUntil([&] { return storeThread.wakeUps() > before; },
                                    10 * folderWatchLatency))
        << storeThread.wakeUps() - before << " wake-ups for 100 writes of another file";
    EXPECT_EQ(waiter.read([&] { return reads; }), 1);
    TempFolder::write(path, encoded(withHyperOnF1()));
    EXPECT_EQ(subscriber.nth(2).config, withHyperOnF1());
    EXPECT_EQ(waiter.read([&] { return reads; }), 2);
}

TEST(ConfigStore, UpdateWritesTheTransformedFileAndPublishesItOnce) {
    TempFolder folder;
    auto path = folder / "config.json";
    ConfigStore store(path);
    startAndWait(store);
    Subscriber subscriber(store);
    ASSERT_EQ(subscriber.nth(1).config, Config::empty());

    struct stat before {};
    ::stat(path.c_str(), &before);
    EXPECT_EQ(updateAndWait(store, [](const Config& config) { return config; }), std::nullopt);
    struct stat after {};
    ::stat(path.c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino);  // not rewritten

    // Two updates in a row, each laid on the file as the one before left it.
    store.update([](Config config) {
        config.hyper.enabled = false;
        return config;
    });
    EXPECT_EQ(updateAndWait(store,
                            [](Config config) {
                                config.hyper.key = HIDUsage{0x3A};
                                return config;
                            }),
              std::nullopt);
    Config both = withHyperOnF1();
    both.hyper.enabled = false;
    EXPECT_EQ(TempFolder::read(path), encoded(both));
    EXPECT_EQ(subscriber.nth(3), (ConfigSnapshot{both, std::nullopt}));
    EXPECT_EQ(subscriber.nth(2).config, withHyperOff());
}

TEST(ConfigStore, FailedUpdatesLeaveTheFileAsItWas) {
    TempFolder folder;
    auto path = folder / "config.json";
    TempFolder::write(path, "{\"version\": 1, \"hyper\": 3}");
    ConfigStore store(path);
    startAndWait(store);
    auto decodeError = ConfigCodec::decode("{\"version\": 1, \"hyper\": 3}").error();
    auto broken = updateAndWait(store, [](const Config&) { return withHyperOff(); });
    ASSERT_TRUE(broken.has_value());
    ASSERT_FALSE(decodeError.path.empty());
    EXPECT_EQ(broken->path, "");
    EXPECT_EQ(broken->description(),
              "the file has an error, so it was not changed. " + decodeError.path + ": " + decodeError.message);
    EXPECT_EQ(TempFolder::read(path), "{\"version\": 1, \"hyper\": 3}");

    // A key with no name cannot be written: nothing is.
    TempFolder::write(path, encoded(Config::empty()));
    auto unnamed = updateAndWait(store, [](Config config) {
        config.hyper.key = HIDUsage{0xFFF0};
        return config;
    });
    ASSERT_TRUE(unnamed.has_value());
    EXPECT_EQ(unnamed->path, "");
    EXPECT_EQ(TempFolder::read(path), encoded(Config::empty()));

    fs::remove(path);
    EXPECT_EQ(updateAndWait(store, [](const Config&) { return withHyperOff(); }), cannotRead());
}

TEST(ConfigStore, AFailedWriteInUpdateReportsThePathAndKeepsTheFile) {
    TempFolder folder;
    // So long a name that no temporary file fits beside it; this binds even where permissions do
    // not (as root).
    auto path = folder / (std::string(250, 'c'));
    TempFolder::write(path, encoded(Config::empty()));
    ConfigStore store(path);
    startAndWait(store);
    auto failed = updateAndWait(store, [](const Config&) { return withHyperOff(); });
    ASSERT_TRUE(failed.has_value());
    EXPECT_EQ(failed->message, "cannot write " + path + ": File name too long");
    EXPECT_EQ(TempFolder::read(path), encoded(Config::empty()));
}

// A file that cannot be made at the first start is reported as that, with the file's path and the
// system's words, not as a missing file, until the file can be read.
TEST(ConfigStore, AFileThatCannotBeMadeIsReportedSoUntilItCanBeRead) {
    TempFolder folder;
    TempFolder::write(folder / "blocker", "a file where the folder should be");
    auto blocked = folder / "blocker/config.json";
    ConfigStore store(blocked);
    Subscriber subscriber(store);
    startAndWait(store);
    EXPECT_EQ(subscriber.nth(1),
              (ConfigSnapshot{std::nullopt, ConfigError{"", "cannot create " + blocked + ": Not a directory"}}));
    startAndWait(store);  // tries again: there is no watch
    EXPECT_EQ(subscriber.count(), 1u);

    // A folder the program may not write into: another user's (this binds root too), or one
    // without write access.
    const fs::path closed = folder.path() / "closed";
    fs::create_directory(closed);
    ASSERT_EQ(::geteuid() == 0 ? ::chown(closed.c_str(), 65534, 65534) : ::chmod(closed.c_str(), 0555), 0);
    const std::string path = (closed / "config.json").string();
    ConfigStore unwritable(path);
    Subscriber watching(unwritable);
    startAndWait(unwritable);
    const auto first = watching.nth(1);
    EXPECT_EQ(first.config, std::nullopt);
    ASSERT_TRUE(first.error);
    EXPECT_EQ(first.error->message.rfind("cannot create " + path + ": ", 0), 0u) << first.error->message;
    EXPECT_FALSE(fs::exists(path));
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(closed.c_str(), 0755), 0);
    }
    TempFolder::write(path, encoded(withHyperOff()));
    EXPECT_EQ(watching.nth(2), (ConfigSnapshot{withHyperOff(), std::nullopt}));
    fs::remove(path);
    EXPECT_EQ(watching.nth(3), (ConfigSnapshot{withHyperOff(), cannotRead()}));
}

// A device under the file's name (one that never ends, or an empty one) or a file of any size is
// never read whole: the store reports it as unreadable, for a reload and an update alike, and keeps
// the last good configuration.
TEST(ConfigStore, NoDeviceAndNoFileOverTheLimitIsRead) {
    TempFolder folder;
    auto path = folder / "config.json";
    TempFolder::write(path, encoded(withHyperOff()));
    ConfigStore store(path);
    startAndWait(store);
    Subscriber subscriber(store);
    ASSERT_EQ(subscriber.nth(1).config, withHyperOff());

    // Each put in place at once, so that each is one change.
    fs::create_symlink("/dev/null", folder / "device");
    fs::rename(folder / "device", path);
    const ConfigError notRegular{"", "cannot read the file: not a regular file"};
    EXPECT_EQ(subscriber.nth(2), (ConfigSnapshot{withHyperOff(), notRegular}));
    EXPECT_EQ(updateAndWait(store, [](const Config&) { return Config::empty(); }), notRegular);

    TempFolder::write(folder / "large", encoded(Config::empty()));
    fs::resize_file(folder / "large", 17 << 20);  // the settings, then a long run of NUL bytes
    fs::rename(folder / "large", path);
    const ConfigError tooLarge{"", "cannot read the file: larger than 16 MiB"};
    EXPECT_EQ(subscriber.nth(3), (ConfigSnapshot{withHyperOff(), tooLarge}));
    EXPECT_EQ(updateAndWait(store, [](const Config&) { return withHyperOnF1(); }), tooLarge);
    EXPECT_EQ(subscriber.count(), 3u);
}

// The store's end (the programs' quit) does not wait for a reload's decoding, however long the
// file: the decoding is told to stop, and nothing it found is published.
TEST(ConfigStore, ItsEndStopsTheDecodingOfAReloadAndPublishesNothingOfItButWritesAnUpdateQueuedBehind) {
    TempFolder folder;
    auto path = folder / "config.json";
    TempFolder::write(path, encoded(withHyperOff()));
    testkit::Waiter waiter;
    bool decoding = false;
    bool toldToStop = false;
    Channel<ConfigSnapshot> published(Buffering::unbounded);
    {
        // The start's decoding goes on until it is told to stop (the limit only ends a broken
        // store's wait), then finds the file good; later ones decode at once, and stop when told
        // as the program's decoder does.
        ConfigStore store(path, [&](std::string_view bytes, const std::stop_token& stop) {
            if (waiter.read([&] { return decoding; })) return ConfigCodec::decode(bytes, stop);
            waiter.update([&] { decoding = true; });
            std::mutex mutex;
            std::condition_variable_any never;
            std::unique_lock lock(mutex);
            never.wait_for(lock, stop, std::chrono::seconds(60), [] { return false; });
            waiter.update([&] { toldToStop = stop.stop_requested(); });
            return ConfigCodec::decode(bytes);
        });
        published = store.snapshots();
        store.start();
        ASSERT_TRUE(waiter.waitFor([&] { return decoding; }));
        // An edit made just before the quit, queued behind the decoding.
        store.update([](const Config&) { return withHyperOnF1(); }, nullptr);
    }
    EXPECT_TRUE(waiter.read([&] { return toldToStop; }));
    EXPECT_EQ(TempFolder::read(path), encoded(withHyperOnF1()));

    testkit::ManualScheduler scheduler;
    testkit::ManualExecutor reader(scheduler, "reader");
    std::size_t received = 0;
    auto subscription = published.subscribe(reader, [&](ConfigSnapshot) { ++received; });
    scheduler.runReady();
    EXPECT_EQ(received, 0u);
}

// Temporaries that writers killed mid-write left beside the file are gone once the store starts.
TEST(ConfigStore, StartRemovesTheTemporariesOfKilledWriters) {
    TempFolder folder;
    auto path = folder / "config.json";
    TempFolder::write(path, encoded(Config::empty()));
    pid_t ended = ::fork();
    if (ended == 0) ::_exit(0);
    ::waitpid(ended, nullptr, 0);
    const std::string stale = path + ".tmp-" + std::to_string(ended) + "-0";
    TempFolder::write(stale, "{ \"version\": ");
    ConfigStore store(path);
    startAndWait(store);
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(path));
}

// The XDG base-directory convention: XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
TEST(ConfigStore, DefaultURLIsInTheUsersConfigFolder) {
    testkit::Environment home("HOME", "/home/someone/");
    testkit::Environment config("XDG_CONFIG_HOME", "/home/someone/settings/");
    EXPECT_EQ(ConfigStore::defaultURL(), "/home/someone/settings/tindlewave/config.json");
    for (const char* unusable : {static_cast<const char*>(nullptr), "", "relative/settings"}) {
        config.set(unusable);
        EXPECT_EQ(ConfigStore::defaultURL(), "/home/someone/.config/tindlewave/config.json")
            << (unusable ? unusable : "unset");
    }
}

}  // namespace
}  // namespace tindlewave
