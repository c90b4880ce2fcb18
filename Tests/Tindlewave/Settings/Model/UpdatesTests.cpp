#include <gtest/gtest.h>

#include <vector>

#include "Runtime/Stores/Defaults.h"
#include "Settings/Model/General/Updates.h"
#include "TestKit/TempFolder.h"

using namespace tindlewave;
using namespace tindlewave::testkit;

namespace {

// An updater whose state the test sets; it tells the wrapper only when the test says so.
struct FakeUpdater final : UpdaterBackend {
    UpdaterSettings now{.canCheck = true, .automaticallyChecks = true};
    std::optional<Date> lastChecked = Date{std::chrono::seconds(1700000000)};
    UpdaterDelegate* delegate = nullptr;
    int checks = 0;

    void start(UpdaterDelegate& d) override { delegate = &d; }
    UpdaterSettings settings() const override { return now; }
    std::optional<Date> lastUpdateCheckDate() const override { return lastChecked; }
    void setAutomaticallyChecks(bool on) override {
        now.automaticallyChecks = on;
        delegate->settingsChanged();
    }
    void setAutomaticallyDownloads(bool on) override {
        now.automaticallyDownloads = on;
        delegate->settingsChanged();
    }
    void checkForUpdates() override { ++checks; }
};

struct UpdatesTest : ::testing::Test {
    TempFolder folder;
    Defaults defaults{folder.path() / "defaults.json"};
    FakeUpdater* updater = nullptr;
    std::vector<UpdatesField> told;

    std::unique_ptr<Updates> make(std::optional<std::string> feed) {
        return std::make_unique<Updates>(defaults, std::move(feed), [this](const std::string&) {
            auto made = std::make_unique<FakeUpdater>();
            updater = made.get();
            return made;
        });
    }
};

}  // namespace

TEST_F(UpdatesTest, WithoutAFeedItStaysOffButTheBetaSwitchStillReadsAndWrites) {
    defaults.set("betaUpdates", true);
    auto updates = make(std::nullopt);
    updates->start();
    EXPECT_EQ(updates->controller(), nullptr);
    EXPECT_EQ(updater, nullptr);
    EXPECT_FALSE(updates->canCheck());
    EXPECT_FALSE(updates->automaticallyChecks());
    EXPECT_EQ(updates->lastCheck(), std::nullopt);
    EXPECT_TRUE(updates->beta());
    EXPECT_EQ(updates->allowedChannels(), std::set<std::string>{"beta"});

    updates->setBeta(false);
    EXPECT_EQ(defaults.boolean("betaUpdates"), false);
    EXPECT_EQ(updates->allowedChannels(), std::set<std::string>{});
    EXPECT_EQ(Defaults(defaults.file()).boolean("betaUpdates"), false);  // on disk
}

TEST_F(UpdatesTest, MirrorsTheUpdatersSettingsAtStartAndAfterEveryChangeTellingOnlyChanges) {
    auto updates = make("https://feed.invalid/appcast");
    auto observation = updates->observe([&](UpdatesField f) { told.push_back(f); });
    updates->start();
    ASSERT_NE(updater, nullptr);
    EXPECT_EQ(updates->controller(), updater);
    EXPECT_TRUE(updates->canCheck());
    EXPECT_TRUE(updates->automaticallyChecks());
    EXPECT_FALSE(updates->automaticallyDownloads());
    EXPECT_EQ(updates->lastCheck(), updater->lastChecked);
    EXPECT_EQ(told, (std::vector{UpdatesField::canCheck, UpdatesField::automaticallyChecks,
                                 UpdatesField::lastCheck}));

    told.clear();
    updates->controller()->setAutomaticallyChecks(false);
    updates->controller()->setAutomaticallyDownloads(false);  // unchanged: nobody told
    EXPECT_FALSE(updates->automaticallyChecks());
    EXPECT_EQ(told, std::vector{UpdatesField::automaticallyChecks});

    told.clear();
    updater->now.allowsAutomaticDownloads = true;
    updater->delegate->settingsChanged();
    EXPECT_TRUE(updates->allowsAutomaticDownloads());
    updater->lastChecked = *updater->lastChecked + std::chrono::hours(24);
    updater->delegate->updateCycleFinished();
    EXPECT_EQ(updates->lastCheck(), updater->lastChecked);
    updater->delegate->updateCycleFinished();  // same date: silent
    EXPECT_EQ(told, (std::vector{UpdatesField::allowsAutomaticDownloads, UpdatesField::lastCheck}));

    updates->start();  // once only
    EXPECT_EQ(updates->controller(), updater);
}

TEST_F(UpdatesTest, OnlyAScheduledCheckRemembersWhatItFoundUntilTheUserAttends) {
    auto updates = make("https://feed.invalid/appcast");
    updates->start();
    EXPECT_TRUE(updates->supportsGentleScheduledUpdateReminders());

    updater->delegate->willShowUpdate("2.0", true);  // the user asked: shown in front of them
    EXPECT_EQ(updates->found(), std::nullopt);
    updater->delegate->willShowUpdate("2.0", false);
    EXPECT_EQ(updates->found(), "2.0");
    updater->delegate->userAttendedToUpdate();
    EXPECT_EQ(updates->found(), std::nullopt);

    updater->delegate->willShowUpdate("2.1", false);
    updater->delegate->willShowUpdate("2.1", true);  // leaves the scheduled one in place
    EXPECT_EQ(updates->found(), "2.1");
    updater->delegate->updateSessionWillFinish();
    EXPECT_EQ(updates->found(), std::nullopt);
}

TEST_F(UpdatesTest, TheBetaSwitchIsStoredOnEverySetAndChoosesTheChannel) {
    auto updates = make("https://feed.invalid/appcast");
    auto observation = updates->observe([&](UpdatesField f) { told.push_back(f); });
    EXPECT_FALSE(updates->beta());  // absent default
    updates->setBeta(true);
    EXPECT_EQ(updates->allowedChannels(), std::set<std::string>{"beta"});
    defaults.remove("betaUpdates");
    updates->setBeta(true);  // unchanged, still written
    EXPECT_EQ(defaults.boolean("betaUpdates"), true);
    updates->setBeta(false);
    EXPECT_EQ(defaults.boolean("betaUpdates"), false);
    EXPECT_TRUE(updates->allowedChannels().empty());
    EXPECT_EQ(told, (std::vector{UpdatesField::beta, UpdatesField::beta}));
}

TEST(UpdatesVersion, IsTheBuildsVersionOrUnknown) {
    EXPECT_EQ(Updates::versionOf(""), "unknown");
    EXPECT_EQ(Updates::versionOf("1.2.3"), "1.2.3");
    EXPECT_NE(Updates::version(), "unknown");  // the project gives the build its version
}
