#include "Settings/Model/General/Updates.h"

#include "Runtime/Stores/Defaults.h"
#include "Settings/Model/General/BuildInfo.h"

namespace tindlewave {

namespace {
constexpr std::string_view betaKey = "betaUpdates";
}

Updates::Updates(Defaults& defaults, std::optional<std::string> feed, MakeBackend makeBackend)
    : defaults_(defaults),
      beta_(defaults.boolean(betaKey).value_or(false)),
      feed_(std::move(feed)),
      makeBackend_(std::move(makeBackend)) {}

Updates::~Updates() = default;

std::string Updates::version() {
    return versionOf(buildVersion());
}

std::string Updates::versionOf(std::string_view shortVersion) {
    return shortVersion.empty() ? "unknown" : std::string(shortVersion);
}

void Updates::start() {
    if (!feed_ || !makeBackend_ || controller_) return;
    controller_ = makeBackend_(*feed_);
    if (!controller_) return;
    controller_->start(*this);
    mirror();
    observers_.assign(lastCheck_, controller_->lastUpdateCheckDate(), UpdatesField::lastCheck);
}

void Updates::setBeta(bool beta) {
    defaults_.set(betaKey, beta);
    observers_.assign(beta_, beta, UpdatesField::beta);
}

std::set<std::string> Updates::allowedChannels() const {
    if (beta_.get()) return {"beta"};
    return {};
}

void Updates::settingsChanged() {
    mirror();
}

void Updates::checked(const std::optional<AvailableUpdate>& newer) {
    observers_.assign(available_, newer, UpdatesField::available);
}

void Updates::updateCycleFinished() {
    if (controller_)
        observers_.assign(lastCheck_, controller_->lastUpdateCheckDate(), UpdatesField::lastCheck);
}

void Updates::willShowUpdate(const std::string& displayVersion, bool userInitiated) {
    if (userInitiated) return;
    observers_.assign(found_, std::optional<std::string>(displayVersion), UpdatesField::found);
}

void Updates::userAttendedToUpdate() {
    observers_.assign(found_, std::optional<std::string>(), UpdatesField::found);
}

void Updates::updateSessionWillFinish() {
    observers_.assign(found_, std::optional<std::string>(), UpdatesField::found);
}

void Updates::mirror() {
    if (!controller_) return;
    UpdaterSettings now = controller_->settings();
    observers_.assign(canCheck_, now.canCheck, UpdatesField::canCheck);
    observers_.assign(automaticallyChecks_, now.automaticallyChecks,
                      UpdatesField::automaticallyChecks);
    observers_.assign(automaticallyDownloads_, now.automaticallyDownloads,
                      UpdatesField::automaticallyDownloads);
    observers_.assign(allowsAutomaticDownloads_, now.allowsAutomaticDownloads,
                      UpdatesField::allowsAutomaticDownloads);
}

}  // namespace tindlewave
