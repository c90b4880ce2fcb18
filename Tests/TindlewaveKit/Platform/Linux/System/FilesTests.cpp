#include "Platform/Linux/System/Files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>

#include "TestKit/TempFolder.h"
#include "TestKit/Waiter.h"

namespace tindlewave {
namespace {

using testkit::TempFolder;
namespace fs = std::filesystem;

int entriesIn(const fs::path& folder) {
    return static_cast<int>(
        std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(Files, AtomicWriteReplacesContentKeepsModeAndLeavesNoTemporary) {
    TempFolder folder;
    auto path = folder / "config.json";
    ASSERT_TRUE(files::writeAtomically(path, "first").ok());
    EXPECT_EQ(TempFolder::read(path), "first");

    ::chmod(path.c_str(), 0640);
    // A reader that opened the file before the write reads the old content whole: the new one
    // is a file of its own, put in place at once, never written into the old.
    const int reader = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    ASSERT_TRUE(files::writeAtomically(path, "second, longer").ok());
    EXPECT_EQ(TempFolder::read(path), "second, longer");
    char before[32] = {};
    EXPECT_EQ(::read(reader, before, sizeof before), 5);
    EXPECT_EQ(std::string(before), "first");
    ::close(reader);
    struct stat info {};
    ::stat(path.c_str(), &info);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(entriesIn(folder.path()), 1);
}

TEST(Files, AtomicWriteThroughASymbolicLinkKeepsTheLink) {
    TempFolder folder;
    fs::create_directory(folder.path() / "dotfiles");
    auto real = folder / "dotfiles/config.json";
    auto link = folder / "config.json";
    TempFolder::write(real, "old");
    fs::create_symlink(real, link);
    ASSERT_TRUE(files::writeAtomically(link, "new").ok());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(TempFolder::read(real), "new");
}

// Another user's link is replaced, never written through; another user's folder is not written to.
TEST(Files, AtomicWriteNeverFollowsAnotherUsersLinkNorWritesIntoTheirFolder) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can make a link or folder of another user's";
    TempFolder folder;
    auto victim = folder / "victim";
    auto link = folder / "config.json";
    TempFolder::write(victim, "precious");
    fs::create_symlink(victim, link);
    ASSERT_EQ(::lchown(link.c_str(), 65534, 65534), 0);
    ASSERT_TRUE(files::writeAtomically(link, "new").ok());
    EXPECT_FALSE(fs::is_symlink(link));
    EXPECT_EQ(TempFolder::read(link), "new");
    EXPECT_EQ(TempFolder::read(victim), "precious");

    const fs::path others = folder / "others";
    fs::create_directory(others);
    ASSERT_EQ(::chown(others.c_str(), 65534, 65534), 0);
    auto refused = files::writeAtomically((others / "config.json").string(), "new");
    ASSERT_FALSE(refused.ok());
    EXPECT_NE(refused.error().description.find("another user's"), std::string::npos) << refused.error().description;
    EXPECT_TRUE(fs::is_empty(others));
}

TEST(Files, FailedWriteLeavesTheFileAndNoTemporary) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    TempFolder folder;
    auto path = folder / "config.json";
    TempFolder::write(path, "keep me");
    fs::permissions(folder.path(), fs::perms::owner_read | fs::perms::owner_exec);
    auto written = files::writeAtomically(path, "lost");
    ASSERT_FALSE(written.ok());
    EXPECT_EQ(written.error().description, "Permission denied");
    fs::permissions(folder.path(), fs::perms::owner_all);
    EXPECT_EQ(TempFolder::read(path), "keep me");
    EXPECT_EQ(entriesIn(folder.path()), 1);
}

// A name so long that no temporary beside it fits: the write fails even where permissions do not
// bind.
TEST(Files, FailedWriteOfALongNameLeavesTheFile) {
    TempFolder folder;
    auto path = folder / std::string(250, 'c');
    TempFolder::write(path, "keep me");
    auto written = files::writeAtomically(path, "lost");
    ASSERT_FALSE(written.ok());
    EXPECT_EQ(written.error().description, "File name too long");
    EXPECT_EQ(TempFolder::read(path), "keep me");
    EXPECT_EQ(entriesIn(folder.path()), 1);
}

TEST(Files, ReadAndMakeFoldersReportTheSystemError) {
    TempFolder folder;
    auto missing = files::read(folder / "absent");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().description, "No such file or directory");
    EXPECT_FALSE(files::read(folder.path().string()).ok());  // a folder is not a file

    auto nested = folder / "a/b/c";
    ASSERT_TRUE(files::makeFolders(nested).ok());
    EXPECT_TRUE(fs::is_directory(nested));
    EXPECT_TRUE(files::makeFolders(nested).ok());  // existing: no error

    TempFolder::write(folder / "plain", "x");
    EXPECT_FALSE(files::makeFolders(folder / "plain/sub").ok());
}

// A FIFO under the file's name has no writer: reading it must come back at once, not wait for one.
TEST(Files, ReadingAFifoDoesNotWaitForAWriter) {
    TempFolder folder;
    auto path = folder / "config.json";
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    testkit::Waiter waiter;
    bool returned = false;
    std::thread reader([&] {
        files::read(path);
        waiter.update([&] { returned = true; });
    });
    bool inTime = waiter.waitFor([&] { return returned; }, std::chrono::seconds(10));
    if (!inTime) ::close(::open(path.c_str(), O_WRONLY | O_NONBLOCK));  // release the reader
    reader.join();
    EXPECT_TRUE(inTime);
}

// Whatever sits under the name, only a regular file of bounded size is read: a device that never
// ends (or one that is empty), or a file past the limit, is refused with its cause.
TEST(Files, ReadTakesOnlyRegularFilesUpToTheLimit) {
    TempFolder folder;
    auto device = files::read("/dev/null");
    ASSERT_FALSE(device.ok());
    EXPECT_EQ(device.error().description, "not a regular file");
    auto link = folder / "config.json";
    fs::create_symlink("/dev/zero", link);
    ASSERT_FALSE(files::read(link).ok());
    EXPECT_EQ(files::read(link).error().description, "not a regular file");

    auto sparse = folder / "large.json";
    TempFolder::write(sparse, "");
    fs::resize_file(sparse, files::readLimit + 1);
    auto large = files::read(sparse);
    ASSERT_FALSE(large.ok());
    EXPECT_EQ(large.error().description, "larger than 16 MiB");

    TempFolder::write(sparse, "12345");
    EXPECT_EQ(*files::read(sparse, 5), "12345");
    EXPECT_EQ(files::read(sparse, 4).error().description, "larger than 4 bytes");
}

// A process killed while writing leaves its temporary; the next owner of the file removes it,
// but never the temporary of a process still running.
TEST(Files, StaleTemporariesOfEndedProcessesAreRemoved) {
    TempFolder folder;
    auto path = folder / "config.json";
    TempFolder::write(path, "kept");
    pid_t ended = ::fork();
    if (ended == 0) ::_exit(0);
    ::waitpid(ended, nullptr, 0);
    const std::string stale = path + ".tmp-" + std::to_string(ended) + "-0";
    const std::string running = path + ".tmp-" + std::to_string(::getppid()) + "-3";
    const std::string own = path + ".tmp-" + std::to_string(::getpid()) + "-7";
    for (const auto& name : {stale, running, own, path + ".tmp-x-1", folder / "other.tmp-1-1"})
        TempFolder::write(name, "partial");

    files::removeStaleTemporaries(path);
    EXPECT_FALSE(fs::exists(stale));
    for (const auto& name : {running, own, path + ".tmp-x-1", folder / "other.tmp-1-1", path})
        EXPECT_TRUE(fs::exists(name)) << name;
}

// Under a file-size limit the write fails and the file stays whole; the process is not killed.
TEST(Files, AWritePastTheFileSizeLimitFailsInsteadOfEndingTheProcess) {
    TempFolder folder;
    auto path = folder / "config.json";
    TempFolder::write(path, "keep me");
    pid_t child = ::fork();
    if (child == 0) {
        rlimit limit{64, 64};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        auto written = files::writeAtomically(path, std::string(1000, 'x'));
        ::_exit(!written.ok() && written.error().description == "File too large" ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(TempFolder::read(path), "keep me");
    EXPECT_EQ(entriesIn(folder.path()), 1);
}

}  // namespace
}  // namespace tindlewave
