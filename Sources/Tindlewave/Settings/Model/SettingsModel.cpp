#include "Settings/Model/SettingsModel.h"

#include <chrono>

#include "Platform/Clock.h"
#include "Platform/Executor.h"
#include "Runtime/Actors.h"
#include "Runtime/Defaults.h"
#include "Runtime/Permissions.h"
#include "Settings/Model/ConfigFile.h"
#include "Settings/Model/EngineControl.h"

namespace tindlewave {

namespace {
constexpr std::string_view tabKey = "settingsTab";
constexpr auto noteLife = std::chrono::seconds(2);
}  // namespace

// The edits waiting to be written. One store update runs at a time; its result comes back on
// the main executor before the next edit is taken. Holds the model weakly: once the model is
// gone, what is still waiting is dropped (an update already running still completes).
struct SettingsModel::EditQueue {
    Executor& main;
    ConfigFile& store;
    std::weak_ptr<SettingsModel*> model;
    std::deque<SettingsEdit> waiting;
    bool writing = false;

    static void takeNext(const std::shared_ptr<EditQueue>& self) {
        if (self->writing || self->waiting.empty()) return;
        if (self->model.expired()) {
            self->waiting.clear();
            return;
        }
        self->writing = true;
        auto edit = std::make_shared<const SettingsEdit>(std::move(self->waiting.front()));
        self->waiting.pop_front();
        self->store.update([edit](const Config& config) { return edit->applied(config); },
                           [self, edit](std::optional<ConfigError> error) {
                               // On the store's executor: the rest belongs to the main one.
                               self->main.post([self, edit, error = std::move(error)] {
                                   self->writing = false;
                                   if (auto model = self->model.lock()) {
                                       if (error) (*model)->failed(*edit, *error);
                                       else (*model)->saved(*edit);
                                   }
                                   takeNext(self);
                               });
                           });
    }
};

SettingsModel::SettingsModel(Services services)
    : services_(services),
      configURL_(services.store.url()),
      log_(std::string(bundleIdentifier), "settings", services.log),
      self_(std::make_shared<SettingsModel*>(this)) {
    auto stored = services_.defaults.string(tabKey);
    tab_.set(stored ? fromText<SettingsTab>(*stored).value_or(SettingsTab::general)
                    : SettingsTab::general);
    edits_ = std::make_shared<EditQueue>(EditQueue{services_.main, services_.store, self_, {}});
    refreshLoginItem();
}

SettingsModel::~SettingsModel() = default;

void SettingsModel::setTab(SettingsTab tab) {
    observers_.assign(tab_, tab, SettingsField::tab);
    services_.defaults.set(tabKey, toText(tab));
    if (tab != SettingsTab::buttons) stopListening();
}

void SettingsModel::setMouse(std::optional<DeviceMatch> mouse) {
    if (observers_.assign(mouse_, std::move(mouse), SettingsField::mouse)) stopListening();
}

void SettingsModel::setSnapshotPermissions(std::optional<PermissionState> permissions) {
    observers_.assign(snapshotPermissions_, permissions, SettingsField::snapshotPermissions);
}

void SettingsModel::show(const EngineStatus& status) {
    observers_.assign(status_, std::optional<EngineStatus>(status), SettingsField::status);
    for (const auto& device : status.devices)
        if (device.hidpp && device.hidpp->capabilities)
            seenCapabilities_.insert_or_assign(device.match, *device.hidpp->capabilities);
    for (const auto& device : status.newDevices)
        seenNames_.insert_or_assign(device.match, device.name);
}

void SettingsModel::show(const ConfigSnapshot& snapshot) {
    observers_.assign(snapshot_, std::optional<ConfigSnapshot>(snapshot), SettingsField::snapshot);
    if (!snapshot.config || snapshot.error) return;
    observers_.assign(loadedAt_, std::optional<Date>(services_.main.clock().date()),
                      SettingsField::loadedAt);
    for (const auto& profile : snapshot.config->devices)
        if (profile.scrolling && profile.scrolling->smooth)
            lastSmooth_.insert_or_assign(profile.match, *profile.scrolling->smooth);
}

bool SettingsModel::editable() const {
    const auto& snapshot = snapshot_.get();
    return snapshot && snapshot->config && !snapshot->error;
}

PermissionState SettingsModel::permissions() const {
    if (const auto& forced = snapshotPermissions_.get()) return *forced;
    if (const auto& status = status_.get()) return status->permissions;
    return services_.permissions.current();
}

SmoothScroll SettingsModel::smoothWhenOn(const DeviceMatch& match) const {
    auto last = lastSmooth_.find(match);
    return last != lastSmooth_.end() ? last->second : SmoothScroll::defaults();
}

void SettingsModel::stopListening() {
    observers_.assign(learnNote_, std::optional<LearnNote>(), SettingsField::learnNote);
    services_.engine.stopListening();
}

void SettingsModel::reapplyAll() {
    services_.engine.reapplyAll();
}

void SettingsModel::note(LearnNote note) {
    bool added = note.is<LearnNote::Added>();
    observers_.assign(learnNote_, std::optional<LearnNote>(note), SettingsField::learnNote);
    if (!added) return;
    // Each added note clears itself after a while, unless a different note has replaced it.
    auto id = nextNoteTimer_++;
    std::weak_ptr<SettingsModel*> weak = self_;
    noteTimers_.emplace(
        id, services_.main.schedule(services_.main.clock().now() + noteLife,
                                    [weak, id, note = std::move(note)] {
                                        auto self = weak.lock();
                                        if (!self) return;
                                        SettingsModel& model = **self;
                                        if (model.learnNote_.get() == note)
                                            model.observers_.assign(model.learnNote_,
                                                                    std::optional<LearnNote>(),
                                                                    SettingsField::learnNote);
                                        model.noteTimers_.erase(id);
                                    }));
}

void SettingsModel::setLoginItem(bool on) {
    auto error = on ? services_.loginItem.enable() : services_.loginItem.disable();
    observers_.assign(loginItemError_, std::move(error), SettingsField::loginItemError);
    refreshLoginItem();
}

void SettingsModel::refreshLoginItem() {
    observers_.assign(loginItem_, services_.loginItem.status(), SettingsField::loginItem);
}

void SettingsModel::send(SettingsEdit edit) {
    edits_->waiting.push_back(std::move(edit));
    EditQueue::takeNext(edits_);
}

void SettingsModel::saved(const SettingsEdit& edit) {
    observers_.assign(saveError_, std::optional<std::string>(), SettingsField::saveError);
    log_.logLazily(LogLevel::defaultLevel, [&] { return "saved " + edit.logDescription(); });
}

void SettingsModel::failed(const SettingsEdit& edit, const ConfigError& error) {
    observers_.assign(saveError_, std::optional<std::string>(error.description()),
                      SettingsField::saveError);
    log_.logLazily(LogLevel::error, [&] {
        return "not saved " + edit.logDescription() + ": " + error.description();
    });
}

}  // namespace tindlewave
