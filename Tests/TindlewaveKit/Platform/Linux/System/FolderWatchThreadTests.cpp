#include "Platform/Linux/System/FolderWatchThread.h"
#include "Platform/Linux/System/FolderWatchDescriptor.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "TestKit/TempFolder.h"
#include "TestKit/Waiter.h"

namespace tindlewave {
namespace {

using testkit::TempFolder;
namespace fs = std::filesystem;

// Records, at each callback, what the watched file held then: a change counts as seen once a
// callback has come after it.
struct Observer {
    explicit Observer(std::string path) : file(std::move(path)) {}
    void changed() {
        std::string now = fs::exists(file) ? TempFolder::read(file) : "<missing>";
        waiter.update([&] {
            ++callbacks;
            seen = now;
        });
    }
    bool sees(const std::string& content) {
        return waiter.waitFor([&] { return seen == content; });
    }
    int count() {
        return waiter.read([&] { return callbacks; });
    }

    std::string file;
    testkit::Waiter waiter;
    int callbacks = 0;
    std::string seen;
};

TEST(FolderWatchThread, SeesWritesDeletionAttributesAndSaveByRename) {
    TempFolder root;
    auto file = root / "config.json";
    Observer observer(file);
    FolderWatchThread watcher(root.path().string(), [&] { observer.changed(); });
    ASSERT_TRUE(watcher.isWatching());

    TempFolder::write(file, "one");
    EXPECT_TRUE(observer.sees("one"));

    TempFolder::write(root / "config.json.tmp", "two");
    fs::rename(root / "config.json.tmp", file);
    EXPECT_TRUE(observer.sees("two"));

    fs::remove(file);
    EXPECT_TRUE(observer.sees("<missing>"));

    TempFolder::write(file, "three");
    ASSERT_TRUE(observer.sees("three"));
    int before = observer.count();
    ::chmod(file.c_str(), 0600);
    EXPECT_TRUE(observer.waiter.waitFor([&] { return observer.callbacks > before; }));
}

// A program that writes the file and keeps it open is seen at its write, not only at its close.
TEST(FolderWatchThread, SeesAWriteToAFileKeptOpen) {
    TempFolder root;
    auto file = root / "config.json";
    TempFolder::write(file, "one");
    Observer observer(file);
    FolderWatchThread watcher(root.path().string(), [&] { observer.changed(); });
    ASSERT_TRUE(watcher.isWatching());

    std::ofstream open(file, std::ios::app);
    open << " two" << std::flush;
    EXPECT_TRUE(observer.sees("one two"));
}

TEST(FolderWatchThread, FollowsTheFolderByPathWhenDeletedOrNotYetThere) {
    TempFolder root;
    auto folder = root / "a/b";
    auto file = folder + "/config.json";
    Observer observer(file);
    FolderWatchThread watcher(folder, [&] { observer.changed(); });

    fs::create_directories(folder);
    TempFolder::write(file, "created later");
    EXPECT_TRUE(observer.sees("created later"));

    fs::remove_all(root / "a");
    EXPECT_TRUE(observer.sees("<missing>"));
    fs::create_directories(folder);
    TempFolder::write(file, "recreated");
    EXPECT_TRUE(observer.sees("recreated"));

    // A folder moved away and replaced by another under the same path.
    fs::rename(folder, root / "a/old");
    fs::create_directory(folder);
    TempFolder::write(file, "replacement");
    EXPECT_TRUE(observer.sees("replacement"));
    TempFolder::write(root / "a/old/config.json", "not watched any more");
    TempFolder::write(file, "replacement, edited");
    EXPECT_TRUE(observer.sees("replacement, edited"));

    // A folder further up moved away: the path now leads to nothing, then to a new folder.
    fs::rename(root / "a", root / "a-old");
    EXPECT_TRUE(observer.sees("<missing>"));
    fs::create_directories(folder);
    TempFolder::write(file, "under a new parent");
    EXPECT_TRUE(observer.sees("under a new parent"));
}

TEST(FolderWatchThread, CoalescesABurstIntoOneCallback) {
    TempFolder root;
    auto file = root / "config.json";
    Observer observer(file);
    // A long window, so the whole burst surely falls into it.
    FolderWatchThread watcher(
        root.path().string(), [&] { observer.changed(); }, std::chrono::seconds(1));
    for (int i = 0; i < 5; ++i) TempFolder::write(file, "burst " + std::to_string(i));
    ASSERT_TRUE(observer.sees("burst 4"));
    TempFolder::write(file, "marker");
    ASSERT_TRUE(observer.sees("marker"));
    EXPECT_EQ(observer.count(), 2);
}


// Given its entry, the watch counts that entry's changes and the folder's own, not the other
// files': every way the file can change still counts. The other files' writes and attributes do
// not even make the descriptor readable, so its owner's thread sleeps through them (a file
// written beside the settings all the time). A change is queued by the call that makes it, so
// each drain and each look at the descriptor sees exactly what was done before it.
TEST(FolderWatchDescriptor, CountsOnlyItsEntryAndEveryEntryWhileItIsALink) {
    TempFolder root;
    const std::string folder = root / "a";
    const std::string file = folder + "/config.json";
    fs::create_directories(folder);
    TempFolder::write(folder + "/log.txt", "");
    FolderWatchDescriptor watch(folder, FolderWatchDescriptor::Changes::contents, "config.json");
    ASSERT_TRUE(watch.isValid());
    const auto readable = [&] {
        pollfd waiting{watch.fd(), POLLIN, 0};
        return ::poll(&waiting, 1, 0) == 1;
    };
    // Writes and attributes of a file that is there: no wake-up at all.
    const auto written = [&] {
        for (int i = 0; i < 100; ++i) TempFolder::write(folder + "/log.txt", std::to_string(i));
        std::ofstream(folder + "/log.txt", std::ios::app) << "kept open" << std::flush;
        ::chmod((folder + "/log.txt").c_str(), 0600);
        return readable();
    };
    EXPECT_FALSE(written());
    const auto other = [&] {
        for (int i = 0; i < 5; ++i) TempFolder::write(folder + "/state.json", std::to_string(i));
        TempFolder::write(folder + "/state.json.tmp", "x");
        fs::rename(folder + "/state.json.tmp", folder + "/state.json");
        ::chmod((folder + "/state.json").c_str(), 0600);
        fs::remove(folder + "/state.json");
        return watch.drain();
    };
    EXPECT_FALSE(other());

    TempFolder::write(file, "created");
    EXPECT_TRUE(watch.drain());
    EXPECT_FALSE(other());
    EXPECT_FALSE(written());
    {
        std::ofstream open(file, std::ios::app);
        open << ", appended" << std::flush;
        EXPECT_TRUE(readable());
        EXPECT_TRUE(watch.drain());
    }
    EXPECT_TRUE(watch.drain());  // closed after writing
    TempFolder::write(file + ".tmp", "saved by rename");
    EXPECT_FALSE(watch.drain());
    fs::rename(file + ".tmp", file);
    EXPECT_TRUE(watch.drain());
    EXPECT_FALSE(written());
    ::chmod(file.c_str(), 0600);
    EXPECT_TRUE(watch.drain());
    TempFolder::write(file, "written where it was saved");
    EXPECT_TRUE(watch.drain());
    // The file it replaced, kept under another name (an editor's backup), is another file now.
    fs::rename(file, file + "~");
    TempFolder::write(file + ".tmp", "saved again");
    fs::rename(file + ".tmp", file);
    EXPECT_TRUE(watch.drain());
    TempFolder::write(file + "~", "the backup, edited");
    EXPECT_FALSE(readable());
    fs::remove(file + "~");
    EXPECT_FALSE(watch.drain());
    fs::remove(file);
    EXPECT_TRUE(watch.drain());

    // A link: what it leads to may be any entry, so every entry counts while it is one.
    TempFolder::write(folder + "/real.json", "target");
    EXPECT_FALSE(watch.drain());
    fs::create_symlink("real.json", file);
    EXPECT_TRUE(watch.drain());
    TempFolder::write(folder + "/real.json", "target, edited");
    EXPECT_TRUE(watch.drain());
    fs::remove(file);
    EXPECT_TRUE(watch.drain());
    TempFolder::write(folder + "/real.json", "not linked any more");
    EXPECT_FALSE(watch.drain());
    EXPECT_FALSE(written());
    // A link to a file kept elsewhere (with the user's other settings, say), put in the file's
    // place: each save of that file by rename counts, the first and every later one.
    const std::string kept = root / "dotfiles";
    fs::create_directories(kept);
    TempFolder::write(kept + "/tindlewave.json", "kept elsewhere");
    fs::create_symlink(kept + "/tindlewave.json", file + ".new");
    fs::rename(file + ".new", file);
    EXPECT_TRUE(watch.drain());
    for (int save = 1; save <= 3; ++save) {
        TempFolder::write(kept + "/tindlewave.json.tmp", "saved " + std::to_string(save));
        fs::rename(kept + "/tindlewave.json.tmp", kept + "/tindlewave.json");
        EXPECT_TRUE(watch.drain()) << "save " << save;
    }
    fs::remove(file);
    EXPECT_TRUE(watch.drain());

    // The folder replaced under its path.
    fs::rename(folder, root / "old");
    EXPECT_TRUE(watch.drain());
    fs::create_directory(folder);
    EXPECT_TRUE(watch.drain());
    TempFolder::write(root / "old/config.json", "not watched any more");
    EXPECT_FALSE(watch.drain());
    EXPECT_FALSE(other());
    TempFolder::write(folder + "/log.txt", "");
    EXPECT_FALSE(watch.drain());
    EXPECT_FALSE(written());
    TempFolder::write(file, "in the new folder");
    EXPECT_TRUE(watch.drain());
    TempFolder::write(file, "in the new folder, edited");
    EXPECT_TRUE(watch.drain());
}

}  // namespace
}  // namespace tindlewave
