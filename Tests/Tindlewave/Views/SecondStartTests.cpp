#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QTest>
#include <cstring>
#include <future>
#include <string>

#include "Shell/SecondStart.h"
#include "TestKit/TempFolder.h"

namespace tindlewave {
namespace {

using namespace std::chrono_literals;

// A connection to the socket at `file`, as any program of this user could make.
UniqueFd connectTo(const std::string& file) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, file.data(), file.size());
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return UniqueFd();
    return fd;
}

// Whether the other end closed the connection (having said nothing), within the test's patience.
bool closedByServer(int fd) {
    return QTest::qWaitFor([&] {
        pollfd readable{fd, POLLIN, 0};
        if (::poll(&readable, 1, 0) <= 0) return false;
        char byte = 0;
        return ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
    }, 10000);
}

// The running program answers the one request, and only that: a caller with anything else, or
// nothing, is dropped without a word, and the socket only this user can reach.
TEST(SecondStart, TheRunningProgramAnswersTheOneRequestOnly) {
    testkit::TempFolder folder;
    const std::string file = (folder.path() / "window.socket").string();
    auto listening = secondStart::listen(file);
    ASSERT_TRUE(std::holds_alternative<UniqueFd>(listening)) << std::get<std::string>(listening);
    struct stat info {};
    ASSERT_EQ(::lstat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    int shown = 0;
    auto server = std::make_unique<SecondStartServer>(std::move(std::get<UniqueFd>(listening)),
                                                      [&] { ++shown; }, 200ms);

    auto asked = std::async(std::launch::async, [&] { return secondStart::askToShow(file, 10s); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return asked.wait_for(0s) == std::future_status::ready; }, 10000));
    EXPECT_EQ(asked.get(), ::getpid());
    EXPECT_EQ(shown, 1);

    UniqueFd other = connectTo(file);
    ASSERT_TRUE(other.isOpen());
    const std::string wrong = "GET / HTTP/1.0\r\n\r\n";
    ASSERT_EQ(::send(other.get(), wrong.data(), wrong.size(), MSG_NOSIGNAL), ssize_t(wrong.size()));
    EXPECT_TRUE(closedByServer(other.get()));
    UniqueFd silent = connectTo(file);
    ASSERT_TRUE(silent.isOpen());
    const std::string half(secondStart::request.substr(0, 10));
    ASSERT_EQ(::send(silent.get(), half.data(), half.size(), MSG_NOSIGNAL), ssize_t(half.size()));
    EXPECT_TRUE(closedByServer(silent.get()));
    EXPECT_EQ(shown, 1);

    server.reset();  // the program ends: its socket goes, and nothing answers there
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(secondStart::askToShow(file, 1s), std::nullopt);
}

// Only the devices lock's holder listens: a socket a crashed program left is taken over, a file of
// another kind is left alone, and a path too long for a socket is said.
TEST(SecondStart, ListeningTakesOverALeftSocketOnly) {
    testkit::TempFolder folder;
    const std::string file = (folder.path() / "window.socket").string();
    {
        auto crashed = secondStart::listen(file);
        ASSERT_TRUE(std::holds_alternative<UniqueFd>(crashed));
    }  // closed, not removed: as a killed program leaves it
    ASSERT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(secondStart::askToShow(file, 1s), std::nullopt);
    auto again = secondStart::listen(file);
    ASSERT_TRUE(std::holds_alternative<UniqueFd>(again)) << std::get<std::string>(again);
    UniqueFd caller = connectTo(file);
    EXPECT_TRUE(caller.isOpen());

    const std::string planted = (folder.path() / "planted").string();
    testkit::TempFolder::write(planted, "mine");
    auto refused = secondStart::listen(planted);
    ASSERT_TRUE(std::holds_alternative<std::string>(refused));
    EXPECT_EQ(std::get<std::string>(refused), planted + ": not a socket");
    EXPECT_EQ(testkit::TempFolder::read(planted), "mine");

    const std::string tooLong = (folder.path() / std::string(120, 'x')).string();
    auto tooLongRefused = secondStart::listen(tooLong);
    ASSERT_TRUE(std::holds_alternative<std::string>(tooLongRefused));
    EXPECT_EQ(std::get<std::string>(tooLongRefused), tooLong + ": the path is too long for a socket");
}

}  // namespace
}  // namespace tindlewave
