#include <gtest/gtest.h>

#include <QMessageBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include "Runtime/Executors/Actors.h"
#include "Runtime/Stores/Defaults.h"
#include "Runtime/Stores/LogStore.h"
#include "Settings/Model/General/Updates.h"
#include "Shell/FeedUpdater.h"
#include "ShellWorld.h"
#include "TestKit/TempFolder.h"

namespace tindlewave {
namespace {

using testkit::RecordingWorkspace;
using testkit::TempFolder;

struct FeedWorld {
    // `remembered` is the defaults file of an earlier run, if any.
    explicit FeedWorld(std::string feed,
                       std::chrono::milliseconds checkLimit = std::chrono::seconds(60),
                       std::optional<std::filesystem::path> remembered = std::nullopt)
        : defaults(remembered.value_or(folder.path() / "defaults.json")),
          updates(defaults, std::move(feed), [this, checkLimit](const std::string& address) {
              auto made = std::make_unique<FeedUpdater>(
                  FeedUpdater::Options{.feed = address, .currentVersion = "1.4.0",
                                       .firstCheck = std::chrono::hours(1),
                                       .checkLimit = checkLimit},
                  workspace, defaults, log);
              updater = made.get();
              return made;
          }) {
        updates.start();
    }

    // Runs one check and waits until the updater may check again.
    bool check(bool userInitiated) {
        const auto before = checks();
        if (userInitiated)
            updater->checkForUpdates();
        else
            updater->checkOnSchedule();
        return QTest::qWaitFor([&] { return checks() > before && updates.canCheck(); }, 10000);
    }
    // Lines logged under "updates", a finished check's or a failure's.
    std::vector<std::string> lines() {
        std::vector<std::string> found;
        if (auto entries = log.entries(std::string(bundleIdentifier)))
            for (const auto& entry : *entries)
                if (entry.category == "updates") found.push_back(entry.message);
        return found;
    }
    std::size_t checks() { return lines().size(); }

    TempFolder folder;
    Defaults defaults;
    LogStore log{folder.path() / "log", false, SystemClock::shared()};
    RecordingWorkspace workspace;
    FeedUpdater* updater = nullptr;
    Updates updates;
};

std::string feedFile(TempFolder& folder, const std::string& body, const std::string& name = "feed.json") {
    const auto path = (folder.path() / name).string();
    TempFolder::write(path, body);
    return "file://" + path;
}

TEST(FeedUpdater, ANewerVersionFoundOnScheduleShowsAndOneTheUserAskedForOpensItsPage) {
    TempFolder served;
    FeedWorld world(feedFile(served, R"({"version":"1.10.0","download":"https://example.org/get"})"));
    ASSERT_NE(world.updater, nullptr);
    EXPECT_TRUE(world.updates.canCheck());
    EXPECT_TRUE(world.updates.automaticallyChecks());
    EXPECT_FALSE(world.updates.allowsAutomaticDownloads());

    ASSERT_TRUE(world.check(true));  // asked for: the page opens, nothing is left in the menu
    EXPECT_EQ(world.updates.found(), std::nullopt);
    EXPECT_EQ(world.workspace.opened, (std::vector<std::string>{"https://example.org/get"}));
    EXPECT_TRUE(world.updates.lastCheck().has_value());
    // The window can say which version is out and offer its page (no browser may have opened).
    const AvailableUpdate available{"1.10.0", "https://example.org/get"};
    EXPECT_EQ(world.updates.available(), available);

    ASSERT_TRUE(world.check(false));
    EXPECT_EQ(world.updates.found(), "1.10.0");
    EXPECT_EQ(world.updates.available(), available);
    EXPECT_EQ(world.workspace.opened.size(), 1u);
}

TEST(FeedUpdater, AnOlderOrEqualVersionShowsNothing) {
    for (const char* version : {"1.4", "1.4.0", "1.3.9", "v1.2"}) {
        TempFolder served;
        FeedWorld world(feedFile(served, std::string(R"({"version":")") + version +
                                             R"(","download":"https://example.org/get"})"));
        ASSERT_TRUE(world.check(false)) << version;
        ASSERT_TRUE(world.check(true)) << version;
        EXPECT_EQ(world.updates.found(), std::nullopt) << version;
        EXPECT_TRUE(world.workspace.opened.empty()) << version;
    }
}

TEST(FeedUpdater, AFeedThatCannotBeReadOrUnderstoodChangesNothingAndLogsWhy) {
    TempFolder served;
    const std::vector<std::pair<std::string, std::string>> feeds{
        {"file://" + (served.path() / "missing.json").string(), "missing.json"},
        {feedFile(served, "{ not json", "a.json"), "not JSON"},
        {feedFile(served, R"({"version":"soon","download":"https://example.org/get"})", "b.json"), "no version"},
        {feedFile(served, R"({"version":"9.0","download":"file:///bin/sh"})", "c.json"),
         "no http or https download page"},
    };
    for (const auto& [feed, why] : feeds) {
        FeedWorld world(feed);
        ASSERT_TRUE(world.check(false)) << feed;
        ASSERT_TRUE(world.check(true)) << feed;
        EXPECT_EQ(world.updates.found(), std::nullopt);
        EXPECT_EQ(world.updates.lastCheck(), std::nullopt);
        EXPECT_TRUE(world.workspace.opened.empty());
        const auto lines = world.lines();
        ASSERT_FALSE(lines.empty());
        EXPECT_NE(lines.back().find("update check failed: " + feed), std::string::npos) << lines.back();
        EXPECT_NE(lines.back().find(why), std::string::npos) << lines.back();
    }
}

// The beta entry counts only while the user includes beta versions.
TEST(FeedUpdater, TheBetaEntryIsUsedOnlyWhileTheSwitchIsOn) {
    TempFolder served;
    FeedWorld world(feedFile(served, R"({"version":"1.4.0","download":"https://example.org/get",)"
                                     R"("beta":{"version":"1.5.0","download":"https://example.org/beta"}})"));
    ASSERT_TRUE(world.check(false));
    EXPECT_EQ(world.updates.found(), std::nullopt);
    ASSERT_TRUE(world.check(true));
    EXPECT_TRUE(world.workspace.opened.empty());

    world.updates.setBeta(true);
    ASSERT_TRUE(world.check(false));
    EXPECT_EQ(world.updates.found(), "1.5.0");
    ASSERT_TRUE(world.check(true));
    EXPECT_EQ(world.workspace.opened, (std::vector<std::string>{"https://example.org/beta"}));
    EXPECT_EQ(world.updates.available(), (AvailableUpdate{"1.5.0", "https://example.org/beta"}));
    // Without the beta there is nothing newer again.
    world.updates.setBeta(false);
    ASSERT_TRUE(world.check(true));
    EXPECT_EQ(world.updates.available(), std::nullopt);

    // A beta entry that is not one is the feed's fault only while it is used.
    FeedWorld broken(feedFile(served, R"({"version":"1.4.0","download":"https://example.org/get",)"
                                      R"("beta":{"version":"next"}})", "broken.json"));
    ASSERT_TRUE(broken.check(false));
    EXPECT_EQ(broken.lines().back(), "no update: 1.4.0 is not newer than 1.4.0");
    broken.updates.setBeta(true);
    ASSERT_TRUE(broken.check(false));
    EXPECT_NE(broken.lines().back().find("no version in the feed's beta entry"), std::string::npos);
}

// A check the user asked for ends with an answer on screen; one on the schedule stays quiet.
TEST(FeedUpdater, ACheckTheUserAskedForEndsWithAVisibleAnswer) {
    TempFolder served;
    FeedWorld current(feedFile(served, R"({"version":"1.4.0","download":"https://example.org/get"})"));
    ASSERT_TRUE(current.check(false));
    EXPECT_EQ(current.updater->answer(), nullptr);
    ASSERT_TRUE(current.check(true));
    ASSERT_NE(current.updater->answer(), nullptr);
    EXPECT_EQ(current.updater->answer()->text(), "Tindlewave is up to date");
    EXPECT_EQ(current.updater->answer()->informativeText(), "The newest version is 1.4.0.");
    EXPECT_TRUE(current.updater->answer()->isVisible());

    const std::string missing = "file://" + (served.path() / "missing.json").string();
    FeedWorld failing(missing);
    ASSERT_TRUE(failing.check(false));
    EXPECT_EQ(failing.updater->answer(), nullptr);
    ASSERT_TRUE(failing.check(true));
    ASSERT_NE(failing.updater->answer(), nullptr);
    EXPECT_EQ(failing.updater->answer()->text(), "Tindlewave could not check for updates");
    EXPECT_TRUE(failing.updater->answer()->informativeText().startsWith(QString::fromStdString(missing + ": ")));

    // A newer version asked for opens its page and needs no other answer.
    FeedWorld newer(feedFile(served, R"({"version":"2.0","download":"https://example.org/2"})", "newer.json"));
    ASSERT_TRUE(newer.check(true));
    EXPECT_EQ(newer.updater->answer(), nullptr);
}

// The switch and the last check's date outlive the run; the first check of the next run comes an
// interval after the last one, and none comes while the switch is off.
TEST(FeedUpdater, RemembersItsSwitchAndLastCheckAcrossRuns) {
    using namespace std::chrono;
    TempFolder served;
    const std::string feed = feedFile(served, R"({"version":"1.4.0","download":"https://example.org/get"})");
    std::optional<Date> checked;
    TempFolder earlier;
    const auto remembered = earlier.path() / "defaults.json";
    {
        FeedWorld first(feed, seconds(60), remembered);
        EXPECT_TRUE(first.updates.automaticallyChecks());
        ASSERT_TRUE(first.updater->nextCheckIn());
        EXPECT_GT(*first.updater->nextCheckIn(), minutes(59));  // the first check's delay
        ASSERT_TRUE(first.check(false));
        checked = first.updates.lastCheck();
        ASSERT_TRUE(checked);
        first.updater->setAutomaticallyChecks(false);
        EXPECT_FALSE(first.updater->nextCheckIn());
    }
    {
        FeedWorld second(feed, seconds(60), remembered);
        EXPECT_FALSE(second.updates.automaticallyChecks());
        EXPECT_FALSE(second.updater->nextCheckIn());
        ASSERT_TRUE(second.updates.lastCheck());
        EXPECT_EQ(floor<seconds>(*second.updates.lastCheck()), floor<seconds>(*checked));
        second.updater->setAutomaticallyChecks(true);
        ASSERT_TRUE(second.updater->nextCheckIn());
        EXPECT_GT(*second.updater->nextCheckIn(), hours(23));  // a day after the last check
    }
    FeedWorld third(feed, seconds(60), remembered);
    EXPECT_TRUE(third.updates.automaticallyChecks());

    const FeedUpdater::Options options{
        .feed = "", .currentVersion = "", .firstCheck = seconds(10), .interval = hours(24)};
    const Date now = system_clock::now();
    EXPECT_EQ(FeedUpdater::nextCheckDelay(std::nullopt, now, options), seconds(10));
    EXPECT_EQ(FeedUpdater::nextCheckDelay(now - hours(2), now, options), hours(22));
    EXPECT_EQ(FeedUpdater::nextCheckDelay(now - hours(240), now, options), seconds(10));
    EXPECT_EQ(FeedUpdater::nextCheckDelay(now + hours(240), now, options), hours(24));  // a clock set back
}

TEST(FeedUpdater, ReadsAFeedFromALoopbackServer) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    int requests = 0;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        QTcpSocket* socket = server.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, &requests] {
            if (!socket->readAll().contains("\r\n\r\n")) return;
            ++requests;
            const QByteArray body = R"({"version":"2.0.0","download":"https://example.org/2"})";
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: " +
                          QByteArray::number(body.size()) + "\r\n\r\n" + body);
            socket->disconnectFromHost();
        });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    });
    FeedWorld world("http://127.0.0.1:" + std::to_string(server.serverPort()) + "/feed.json");
    ASSERT_TRUE(world.check(false));
    EXPECT_EQ(requests, 1);
    EXPECT_EQ(world.updates.found(), "2.0.0");
}

// A server that answers a byte at a time, each well inside the transfer time-out, never ending:
// the check still ends at its limit.
TEST(FeedUpdater, AFeedDripFedForEverEndsTheCheckAtItsLimit) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        QTcpSocket* socket = server.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
            if (!socket->readAll().contains("\r\n\r\n")) return;
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                          "Content-Length: 60000\r\n\r\n");
            auto* drip = new QTimer(socket);
            QObject::connect(drip, &QTimer::timeout, socket, [socket] { socket->write(" "); });
            drip->start(100);
        });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    });
    const std::string feed = "http://127.0.0.1:" + std::to_string(server.serverPort()) + "/feed.json";
    FeedWorld world(feed, std::chrono::milliseconds(1500));
    ASSERT_TRUE(world.check(false));
    const auto lines = world.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find("update check failed: " + feed + ": no whole answer within 1.5 s"),
              std::string::npos)
        << lines.back();
}

}  // namespace
}  // namespace tindlewave
