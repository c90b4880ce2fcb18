#include "Shell/FeedUpdater.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <QUrl>
#include <QVariant>
#include <algorithm>
#include <cstdint>
#include <variant>

#include <fmt/format.h>

#include "Runtime/Executors/Actors.h"
#include "Runtime/Stores/Defaults.h"
#include "Settings/Model/General/VersionOrder.h"
#include "Settings/Model/Workspace.h"

namespace tindlewave {

namespace {
// The latest second a remembered date may name: later ones, and dates before 1970, are no dates
// this program wrote, and read as none.
constexpr std::int64_t latestRememberedSecond = std::int64_t{1} << 32;

std::optional<Date> rememberedDate(const Defaults& defaults) {
    const auto seconds = defaults.integer(FeedUpdater::lastCheckKey);
    if (!seconds || *seconds < 0 || *seconds >= latestRememberedSecond) return std::nullopt;
    return Date(std::chrono::seconds(*seconds));
}

void logUnremembered(Logger& log, const std::optional<DefaultsError>& error) {
    if (error) log.log(LogLevel::error, "could not remember the update checks: " + error->description());
}
}  // namespace

FeedUpdater::FeedUpdater(Options options, Workspace& workspace, Defaults& defaults, LogStore& log)
    : options_(std::move(options)), workspace_(workspace), defaults_(defaults),
      log_(std::string(bundleIdentifier), "updates", log),
      network_(new QNetworkAccessManager(this)), schedule_(new QTimer(this)) {
    schedule_->setSingleShot(true);
    connect(schedule_, &QTimer::timeout, this, [this] {
        checkOnSchedule();
        schedule_->start(options_.interval);
    });
}

// An answer still on screen goes with the updater that gave it.
FeedUpdater::~FeedUpdater() { delete answer_.data(); }

void FeedUpdater::start(UpdaterDelegate& delegate) {
    delegate_ = &delegate;
    settings_.canCheck = true;
    settings_.automaticallyChecks = defaults_.boolean(automaticChecksKey).value_or(true);
    lastCheck_ = rememberedDate(defaults_);
    delegate_->settingsChanged();
    schedule();
}

void FeedUpdater::setAutomaticallyChecks(bool on) {
    if (settings_.automaticallyChecks == on) return;
    settings_.automaticallyChecks = on;
    logUnremembered(log_, defaults_.set(automaticChecksKey, on));
    schedule();
    if (delegate_) delegate_->settingsChanged();
}

std::chrono::milliseconds FeedUpdater::nextCheckDelay(const std::optional<Date>& lastCheck, Date now,
                                                      const Options& options) {
    if (!lastCheck) return options.firstCheck;
    const auto due = std::chrono::duration_cast<std::chrono::milliseconds>(*lastCheck + options.interval - now);
    return std::clamp(due, options.firstCheck, std::max(options.firstCheck, options.interval));
}

std::optional<std::chrono::milliseconds> FeedUpdater::nextCheckIn() const {
    if (!schedule_->isActive()) return std::nullopt;
    return std::chrono::milliseconds(schedule_->remainingTime());
}

void FeedUpdater::schedule() {
    if (settings_.automaticallyChecks)
        schedule_->start(nextCheckDelay(lastCheck_, std::chrono::system_clock::now(), options_));
    else
        schedule_->stop();
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
    // The transfer time-out starts again with every byte: a feed sent a byte at a time would keep
    // the check open for ever without this bound on the whole of it.
    QTimer::singleShot(options_.checkLimit, reply, [reply] {
        reply->setProperty("overTime", true);
        reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, userInitiated] { finished(reply, userInitiated); });
}

QMessageBox* FeedUpdater::answer() const {
    return answer_.data();
}

void FeedUpdater::tell(bool failed, const QString& text, const QString& detail) {
    if (answer_) answer_->close();
    auto* box = new QMessageBox(failed ? QMessageBox::Warning : QMessageBox::Information, "Tindlewave", text,
                                QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(detail);
    answer_ = box;
    box->open();
}

namespace {
// One entry of the feed: a version and its download page.
struct FeedEntry {
    std::string version;
    QUrl download;
};

// The entry in `object`, or why it is not one.
std::variant<FeedEntry, std::string> entryIn(const QJsonObject& object, const std::string& where) {
    FeedEntry entry{object.value("version").toString().toStdString(), QUrl(object.value("download").toString())};
    if (!VersionOrder::parts(entry.version)) return "no version in the " + where;
    if (!entry.download.isValid() || (entry.download.scheme() != "https" && entry.download.scheme() != "http"))
        return "no http or https download page in the " + where;
    return entry;
}
}  // namespace

void FeedUpdater::finished(QNetworkReply* reply, bool userInitiated) {
    reply->deleteLater();
    setCanCheck(true);
    const std::string feed = options_.feed;
    auto fail = [&](const std::string& why) {
        log_.log(LogLevel::error, "update check failed: " + feed + ": " + why);
        if (userInitiated)
            tell(true, "Tindlewave could not check for updates", QString::fromStdString(feed + ": " + why));
        delegate_->updateCycleFinished();
    };
    if (reply->property("overTime").toBool()) {
        return fail(fmt::format("no whole answer within {} s",
                                std::chrono::duration<double>(options_.checkLimit).count()));
    }
    if (reply->error() != QNetworkReply::NoError) return fail(reply->errorString().toStdString());
    const QByteArray body = reply->read(feedLimit + 1);
    if (body.size() > feedLimit) return fail("the feed is larger than 64 KiB");
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError) return fail("not JSON: " + error.errorString().toStdString());
    const auto stable = entryIn(document.object(), "feed");
    if (const auto* why = std::get_if<std::string>(&stable)) return fail(*why);
    FeedEntry latest = std::get<FeedEntry>(stable);
    // The beta entry counts only while the user asks for beta versions.
    if (delegate_->allowedChannels().contains("beta") && document.object().contains("beta")) {
        const auto beta = entryIn(document.object().value("beta").toObject(), "feed's beta entry");
        if (const auto* why = std::get_if<std::string>(&beta)) return fail(*why);
        if (VersionOrder::isNewer(std::get<FeedEntry>(beta).version, latest.version)) latest = std::get<FeedEntry>(beta);
    }
    const std::string& version = latest.version;

    lastCheck_ = std::chrono::system_clock::now();
    logUnremembered(log_, defaults_.set(lastCheckKey, std::int64_t{std::chrono::duration_cast<std::chrono::seconds>(
                                                        lastCheck_->time_since_epoch())
                                                        .count()}));
    const bool newer = VersionOrder::isNewer(version, options_.currentVersion);
    delegate_->checked(
        newer ? std::optional(AvailableUpdate{version, latest.download.toString().toStdString()})
              : std::nullopt);
    if (newer) {
        log_.log(LogLevel::defaultLevel, "update found: " + version);
        delegate_->willShowUpdate(version, userInitiated);
        if (userInitiated) {
            // Installing is the user's: the download page opens, and that is all.
            workspace_.open(latest.download.toString().toStdString());
            delegate_->userAttendedToUpdate();
            delegate_->updateSessionWillFinish();
        }
    } else {
        log_.log(LogLevel::defaultLevel, "no update: " + version + " is not newer than " + options_.currentVersion);
        if (userInitiated)
            tell(false, "Tindlewave is up to date",
                 QString::fromStdString("The newest version is " + version + "."));
    }
    delegate_->updateCycleFinished();
}

}  // namespace tindlewave
