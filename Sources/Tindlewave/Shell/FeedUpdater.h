#pragma once

#include <QObject>
#include <QPointer>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "Runtime/Stores/LogStore.h"
#include "Settings/Model/General/UpdaterBackend.h"

class QMessageBox;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

namespace tindlewave {

class Defaults;
class Workspace;

// A check-only updater over a small feed: a JSON object with the latest "version" and the
// "download" page of it, and optionally a "beta" object of the same two, used only while the
// delegate allows the "beta" channel (the newer of the two counts then). It checks on a schedule
// (once a day) and when asked; a newer version found on the schedule is reported gently (the
// menu's update item), one found when the user asked opens its download page; either way the
// delegate learns of it with its page (the settings window says so). A check the user
// asked for that opens nothing ends with an answer in a message box: up to date, or why the
// feed could not be read. It never downloads or installs anything. A feed that cannot be read or
// understood changes nothing and is logged under "updates". Whether it checks on its own and when
// it last found the feed readable are remembered in the defaults, so the schedule goes on across
// runs: a user who turned the checks off is not contacted, and the first check of a run comes a
// day after the last one (never sooner than `firstCheck` after the start).
class FeedUpdater final : public QObject, public UpdaterBackend {
  public:
    struct Options {
        std::string feed;            // the feed's address (http, https or file)
        std::string currentVersion;  // the running program's version
        std::chrono::milliseconds firstCheck = std::chrono::seconds(10);
        std::chrono::milliseconds interval = std::chrono::hours(24);
        // The longest a whole check may take, however slowly the feed keeps arriving.
        std::chrono::milliseconds checkLimit = std::chrono::seconds(60);
    };
    // The largest feed read.
    static constexpr qint64 feedLimit = 64 * 1024;

    // The keys under which it remembers its switch and the last check (seconds since 1970).
    static constexpr std::string_view automaticChecksKey = "automaticallyChecksForUpdates";
    static constexpr std::string_view lastCheckKey = "lastUpdateCheck";

    FeedUpdater(Options options, Workspace& workspace, Defaults& defaults, LogStore& log);
    ~FeedUpdater() override;

    void start(UpdaterDelegate& delegate) override;
    UpdaterSettings settings() const override { return settings_; }
    std::optional<Date> lastUpdateCheckDate() const override { return lastCheck_; }
    void setAutomaticallyChecks(bool on) override;
    void setAutomaticallyDownloads(bool) override {}  // it never downloads
    void checkForUpdates() override { check(true); }
    // What the schedule runs.
    void checkOnSchedule() { check(false); }
    // The answer to the last check the user asked for, while it is open.
    QMessageBox* answer() const;
    // How long after `now` the next scheduled check comes, given the last one: an interval after
    // it, but not sooner than the first check's delay and not later than an interval from now (a
    // date ahead of the clock).
    static std::chrono::milliseconds nextCheckDelay(const std::optional<Date>& lastCheck, Date now,
                                                    const Options& options);
    // The time left before the next scheduled check; none while the checks are off.
    std::optional<std::chrono::milliseconds> nextCheckIn() const;

  private:
    void check(bool userInitiated);
    void finished(QNetworkReply* reply, bool userInitiated);
    void setCanCheck(bool canCheck);
    void tell(bool failed, const QString& text, const QString& detail);
    void schedule();

    Options options_;
    Workspace& workspace_;
    Defaults& defaults_;
    Logger log_;
    UpdaterDelegate* delegate_ = nullptr;
    UpdaterSettings settings_;
    std::optional<Date> lastCheck_;
    QNetworkAccessManager* network_;
    QTimer* schedule_;
    QPointer<QMessageBox> answer_;
};

}  // namespace tindlewave
