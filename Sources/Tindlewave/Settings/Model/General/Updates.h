#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "Model/Date.h"
#include "Settings/Model/Observed.h"
#include "Settings/Model/General/UpdaterBackend.h"

namespace tindlewave {

class Defaults;

// The observed fields of Updates.
enum class UpdatesField {
    canCheck,
    automaticallyChecks,
    automaticallyDownloads,
    allowsAutomaticDownloads,
    lastCheck,
    found,
    available,
    beta,
};

// The program's updater as the menu and the General page see it. Without an update feed it stays
// off for the whole run: no updater, every flag false (the beta switch still reads and writes its
// default). With one, it starts an updater and mirrors four of its settings, the date of its last
// check, the version that a scheduled check found until the user attends to it, and the newer
// version the last check offered with its page. Main executor only.
class Updates final : public UpdaterDelegate {
  public:
    using MakeBackend = std::function<std::unique_ptr<UpdaterBackend>(const std::string& feed)>;

    // `beta` starts from "betaUpdates" in `defaults` (false when absent). `feed` is the update
    // feed's address (none: updates off); `makeBackend` makes the updater for it.
    Updates(Defaults& defaults, std::optional<std::string> feed, MakeBackend makeBackend);
    ~Updates();
    Updates(const Updates&) = delete;
    Updates& operator=(const Updates&) = delete;

    // The version shown to the user: the build's version, or "unknown" when it has none.
    static std::string version();
    static std::string versionOf(std::string_view shortVersion);

    // Starts the updater when a feed is configured; called once, by the app model.
    void start();

    // The updater, for turning its settings on and off and checking now; null while off.
    UpdaterBackend* controller() const { return controller_.get(); }

    bool canCheck() const { return canCheck_.get(); }
    bool automaticallyChecks() const { return automaticallyChecks_.get(); }
    bool automaticallyDownloads() const { return automaticallyDownloads_.get(); }
    bool allowsAutomaticDownloads() const { return allowsAutomaticDownloads_.get(); }
    const std::optional<Date>& lastCheck() const { return lastCheck_.get(); }
    // The display version that a scheduled check found, until the user attends to it.
    const std::optional<std::string>& found() const { return found_.get(); }
    // The newer version the last check that read the feed offered (scheduled or asked for), with
    // its page, so the window can say so whether or not a browser opened it.
    const std::optional<AvailableUpdate>& available() const { return available_.get(); }

    bool beta() const { return beta_.get(); }
    // Stores the switch under "betaUpdates" every time, changed or not.
    void setBeta(bool beta);

    [[nodiscard]] Subscription observe(Observers<UpdatesField>::Callback callback) {
        return observers_.observe(std::move(callback));
    }

    // What the updater asks and tells.
    std::set<std::string> allowedChannels() const override;
    bool supportsGentleScheduledUpdateReminders() const override { return true; }
    void settingsChanged() override;
    void checked(const std::optional<AvailableUpdate>& newer) override;
    void updateCycleFinished() override;
    void willShowUpdate(const std::string& displayVersion, bool userInitiated) override;
    void userAttendedToUpdate() override;
    void updateSessionWillFinish() override;

  private:
    void mirror();

    Observers<UpdatesField> observers_;
    Observed<bool> canCheck_{false};
    Observed<bool> automaticallyChecks_{false};
    Observed<bool> automaticallyDownloads_{false};
    Observed<bool> allowsAutomaticDownloads_{false};
    Observed<std::optional<Date>> lastCheck_;
    Observed<std::optional<std::string>> found_;
    Observed<std::optional<AvailableUpdate>> available_;
    Defaults& defaults_;
    Observed<bool> beta_;
    std::optional<std::string> feed_;
    MakeBackend makeBackend_;
    std::unique_ptr<UpdaterBackend> controller_;
};

}  // namespace tindlewave
