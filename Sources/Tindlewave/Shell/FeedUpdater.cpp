#include "Shell/FeedUpdater.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <QUrl>

#include "Runtime/Actors.h"
#include "Settings/Model/VersionOrder.h"
#include "Settings/Model/Workspace.h"

namespace tindlewave {

FeedUpdater::FeedUpdater(Options options, Workspace& workspace, LogStore& log)
    : options_(std::move(options)), workspace_(workspace), log_(std::string(bundleIdentifier), "updates", log),
      network_(new QNetworkAccessManager(this)), schedule_(new QTimer(this)) {
    schedule_->setSingleShot(true);
    connect(schedule_, &QTimer::timeout, this, [this] {
        checkOnSchedule();
        schedule_->start(options_.interval);
    });
}

FeedUpdater::~FeedUpdater() = default;

void FeedUpdater::start(UpdaterDelegate& delegate) {
    delegate_ = &delegate;
    settings_.canCheck = true;
    settings_.automaticallyChecks = true;
    delegate_->settingsChanged();
    schedule_->start(options_.firstCheck);
}

void FeedUpdater::setAutomaticallyChecks(bool on) {
    if (settings_.automaticallyChecks == on) return;
    settings_.automaticallyChecks = on;
    if (on)
        schedule_->start(options_.interval);
    else
        schedule_->stop();
    if (delegate_) delegate_->settingsChanged();
}

void FeedUpdater::setCanCheck(bool canCheck) {
    if (settings_.canCheck == canCheck) return;
    settings_.canCheck = canCheck;
    if (delegate_) delegate_->settingsChanged();
}

void FeedUpdater::check(bool userInitiated) {
    if (!delegate_ || !settings_.canCheck) return;
    if (!userInitiated && !settings_.automaticallyChecks) return;
    setCanCheck(false);
    QNetworkRequest request(QUrl(QString::fromStdString(options_.feed)));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(30000);
    QNetworkReply* reply = network_->get(request);
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
        if (received > feedLimit) reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, userInitiated] { finished(reply, userInitiated); });
}

void FeedUpdater::finished(QNetworkReply* reply, bool userInitiated) {
    reply->deleteLater();
    setCanCheck(true);
    const std::string feed = options_.feed;
    auto fail = [&](const std::string& why) {
        log_.log(LogLevel::error, "update check failed: " + feed + ": " + why);
        delegate_->updateCycleFinished();
    };
    if (reply->error() != QNetworkReply::NoError) return fail(reply->errorString().toStdString());
    const QByteArray body = reply->read(feedLimit + 1);
    if (body.size() > feedLimit) return fail("the feed is larger than 64 KiB");
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError) return fail("not JSON: " + error.errorString().toStdString());
    const QJsonObject entry = document.object();
    const std::string version = entry.value("version").toString().toStdString();
    const QUrl download(entry.value("download").toString());
    if (!VersionOrder::parts(version)) return fail("no version in the feed");
    if (!download.isValid() || (download.scheme() != "https" && download.scheme() != "http"))
        return fail("no http or https download page in the feed");

    lastCheck_ = std::chrono::system_clock::now();
    if (VersionOrder::isNewer(version, options_.currentVersion)) {
        log_.log(LogLevel::defaultLevel, "update found: " + version);
        delegate_->willShowUpdate(version, userInitiated);
        if (userInitiated) {
            // Installing is the user's: the download page opens, and that is all.
            workspace_.open(download.toString().toStdString());
            delegate_->userAttendedToUpdate();
            delegate_->updateSessionWillFinish();
        }
    } else {
        log_.log(LogLevel::defaultLevel, "no update: " + version + " is not newer than " + options_.currentVersion);
    }
    delegate_->updateCycleFinished();
}

}  // namespace tindlewave
