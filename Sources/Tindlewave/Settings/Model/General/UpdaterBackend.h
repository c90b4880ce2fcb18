#pragma once

#include <optional>
#include <set>
#include <string>

#include "Model/Date.h"

namespace tindlewave {

// The four settings of an updater that the user interface shows.
struct UpdaterSettings {
    bool canCheck = false;                  // a check may start now
    bool automaticallyChecks = false;       // checks on its own schedule
    bool automaticallyDownloads = false;    // downloads and installs what it finds
    bool allowsAutomaticDownloads = false;  // the previous switch may be turned on

    bool operator==(const UpdaterSettings&) const = default;
};

// A version newer than the running one, and the page to get it from.
struct AvailableUpdate {
    std::string version;
    std::string page;  // an http or https address

    bool operator==(const AvailableUpdate&) const = default;
};

// What an updater asks and tells the program. Every call comes on the main executor.
class UpdaterDelegate {
  public:
    // The channels besides the default one that checks may offer.
    virtual std::set<std::string> allowedChannels() const = 0;
    // Whether a scheduled check may show what it found gently (a menu item) rather than in front
    // of the user.
    virtual bool supportsGentleScheduledUpdateReminders() const = 0;
    // One of the four settings changed.
    virtual void settingsChanged() = 0;
    // A check read the feed: the newer version it offers, or none when the running one is the
    // newest. A check that could not read it tells nothing.
    virtual void checked(const std::optional<AvailableUpdate>& newer) = 0;
    // A check (or an update) has finished, whatever came of it.
    virtual void updateCycleFinished() = 0;
    // An update is about to be shown; `userInitiated` when the user started the check.
    virtual void willShowUpdate(const std::string& displayVersion, bool userInitiated) = 0;
    // The user attended to the update shown.
    virtual void userAttendedToUpdate() = 0;
    // The updater is done with the update it showed.
    virtual void updateSessionWillFinish() = 0;

  protected:
    ~UpdaterDelegate() = default;
};

// An updater: checks a feed for newer versions on its own schedule or when asked. The program is
// built without one unless an update feed is configured.
class UpdaterBackend {
  public:
    virtual ~UpdaterBackend() = default;

    // Starts the updater's schedule. From now on it tells `delegate` (which outlives it) about
    // itself, on the main executor.
    virtual void start(UpdaterDelegate& delegate) = 0;

    virtual UpdaterSettings settings() const = 0;
    virtual std::optional<Date> lastUpdateCheckDate() const = 0;

    virtual void setAutomaticallyChecks(bool on) = 0;
    virtual void setAutomaticallyDownloads(bool on) = 0;
    // A check that the user started.
    virtual void checkForUpdates() = 0;
};

}  // namespace tindlewave
