#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "Model/Config.h"
#include "Model/Date.h"
#include "Model/EngineStatus.h"
#include "Platform/LoginItem.h"
#include "Platform/PermissionGrants.h"
#include "Runtime/Stores/ConfigSnapshot.h"
#include "Runtime/Stores/LogStore.h"
#include "Settings/Model/Edits/IgnoredDevice.h"
#include "Settings/Model/Buttons/LearnNote.h"
#include "Settings/Model/Observed.h"
#include "Settings/Model/Buttons/RuleChoices.h"
#include "Settings/Model/Devices/SettingsDevice.h"
#include "Settings/Model/Edits/SettingsEdit.h"
#include "Settings/Model/Window/SettingsTab.h"

namespace tindlewave {

class ConfigFile;
class Defaults;
class EngineControl;
class Executor;
class Permissions;
class Updates;

// The observed fields of SettingsModel.
enum class SettingsField {
    snapshot,
    status,
    loadedAt,
    saveError,
    refusals,
    loginItem,
    loginItemError,
    learnNote,
    listenPurpose,
    tab,
    mouse,
    snapshotPermissions,
};

// What the settings window shows and changes, as plain values: the last config snapshot and
// engine status, the device rows derived from them, the selected page and mouse, listening, the
// login item, and the queue of edits, which are written through the config store one at a time
// in the order they were sent. Observers are told of each observed field that changes (an equal
// assignment tells no one). Main executor only: every call, every observer and every result.
class SettingsModel {
  public:
    // What the model works with; everything here outlives the model.
    struct Services {
        Executor& main;
        ConfigFile& store;
        EngineControl& engine;
        Updates* updates = nullptr;  // none: the General page shows no update settings
        Defaults& defaults;          // keeps "settingsTab"
        LoginItemService& loginItem;
        const Permissions& permissions;
        LogStore& log;
    };

    // Reads the selected page, starts the edit queue and reads the login item.
    explicit SettingsModel(Services services);
    ~SettingsModel();
    SettingsModel(const SettingsModel&) = delete;
    SettingsModel& operator=(const SettingsModel&) = delete;

    // Observed state.
    const std::optional<ConfigSnapshot>& snapshot() const { return snapshot_.get(); }
    const std::optional<EngineStatus>& status() const { return status_.get(); }
    // When the last snapshot without an error arrived.
    const std::optional<Date>& loadedAt() const { return loadedAt_.get(); }
    // The text of the last failed edit; cleared by the next stored one.
    const std::optional<std::string>& saveError() const { return saveError_.get(); }
    // How many edits the store has refused: each refusal is told, also one whose text repeats
    // the error already shown, so that every page shows what is stored again.
    std::uint64_t refusals() const { return refusals_.get(); }
    LoginItemState loginItem() const { return loginItem_.get(); }
    const std::optional<std::string>& loginItemError() const { return loginItemError_.get(); }
    const std::optional<LearnNote>& learnNote() const { return learnNote_.get(); }
    // What the next heard press is for: the last purpose given to listen, never reset.
    const ListenPurpose& listenPurpose() const { return listenPurpose_.get(); }
    SettingsTab tab() const { return tab_.get(); }
    // Stores the page under "settingsTab" (every time) and stops listening unless it is Buttons.
    void setTab(SettingsTab tab);
    // The mouse chosen on the Buttons and Scrolling pages; a change stops listening.
    const std::optional<DeviceMatch>& mouse() const { return mouse_.get(); }
    void setMouse(std::optional<DeviceMatch> mouse);
    // A permission state forced by the screenshot mode; none means the real one.
    const std::optional<PermissionState>& snapshotPermissions() const {
        return snapshotPermissions_.get();
    }
    void setSnapshotPermissions(std::optional<PermissionState> permissions);

    [[nodiscard]] Subscription observe(Observers<SettingsField>::Callback callback) {
        return observers_.observe(std::move(callback));
    }

    // Fixed for the model's life.
    const std::string& configURL() const { return configURL_; }
    Updates* updates() const { return services_.updates; }
    EngineControl& engine() const { return services_.engine; }

    // Every status the engine publishes, and every snapshot the store publishes (a new error of
    // the file is logged under "config").
    void show(const EngineStatus& status);
    void show(const ConfigSnapshot& snapshot);

    // True while a configuration is loaded without error: pages send edits only then.
    bool editable() const;
    // The forced state, else the status's, else the grants read now.
    PermissionState permissions() const;
    // Why a grant reads as it does, from the grants read now (none under a forced state).
    GrantCause permissionCause(Permission permission) const;
    // The smooth-scrolling settings to restore when smooth scrolling is switched back on.
    SmoothScroll smoothWhenOn(const DeviceMatch& match) const;
    // The device rows of the configuration and the status; computed on every call.
    std::vector<SettingsDevice> devices() const;
    std::vector<SettingsDevice> mice() const;
    // The chosen mouse's row, else the first mouse's; none without mice.
    std::optional<SettingsDevice> selectedMouse() const;
    // The ignored list, each named by the name last seen in this run, else by its ids.
    std::vector<IgnoredDevice> ignoredDevices() const;
    // What a rule row or the Add Rule menu may offer the device: live capabilities, else the
    // last seen ones.
    RuleChoices choices(const SettingsDevice& device) const;

    // Listening: forwarded to the engine, which is not waited for. listen() clears the note and
    // keeps the purpose for the press to come.
    void listen(const SettingsDevice& device, ListenPurpose purpose);
    void stopListening();
    void reapplyAll();
    // Turns a heard press into an edit and a note: called for every press the engine learns
    // (with the purpose current when it arrives) and when the user picks a control instead.
    void learned(const Heard& heard, const DeviceMatch& match, const ListenPurpose& purpose);

    void setLoginItem(bool on);
    void refreshLoginItem();

    // What a control that keeps a committed value until it is stored (a knob, the speed graph, a
    // name) is told when the store refused that value: the file keeps what it had.
    using Refused = std::function<void()>;

    // Queues an edit. Pages send only while editable(); the queue itself does not check.
    // `refused` runs on the main executor once the store has refused the edit, after the
    // refusal is shown, and never once the model is gone.
    void send(SettingsEdit edit, Refused refused = nullptr);

  private:
    struct EditQueue;

    void note(LearnNote note);
    void saved(const SettingsEdit& edit);
    void failed(const SettingsEdit& edit, const ConfigError& error, const Refused& refused);

    Services services_;
    std::string configURL_;
    Logger log_;      // the edits, under "settings"
    Logger fileLog_;  // the file's errors, under "config"
    Observers<SettingsField> observers_;
    Observed<std::optional<ConfigSnapshot>> snapshot_;
    Observed<std::optional<EngineStatus>> status_;
    Observed<std::optional<Date>> loadedAt_;
    Observed<std::optional<std::string>> saveError_;
    Observed<std::uint64_t> refusals_;
    Observed<LoginItemState> loginItem_{LoginItemState::off};
    Observed<std::optional<std::string>> loginItemError_;
    Observed<std::optional<LearnNote>> learnNote_;
    Observed<ListenPurpose> listenPurpose_;
    Observed<SettingsTab> tab_{SettingsTab::general};
    Observed<std::optional<DeviceMatch>> mouse_;
    Observed<std::optional<PermissionState>> snapshotPermissions_;
    std::unordered_map<DeviceMatch, SmoothScroll> lastSmooth_;
    std::unordered_map<DeviceMatch, HIDPPCapabilities> seenCapabilities_;
    std::unordered_map<DeviceMatch, std::string> seenNames_;
    std::shared_ptr<EditQueue> edits_;
    std::map<std::uint64_t, TimerHandle> noteTimers_;
    std::uint64_t nextNoteTimer_ = 0;
    std::shared_ptr<SettingsModel*> self_;  // what the queue and timers hold weakly
};

}  // namespace tindlewave
