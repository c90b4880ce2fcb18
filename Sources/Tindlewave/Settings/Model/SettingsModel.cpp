#include "Settings/Model/SettingsModel.h"

#include <algorithm>
#include <chrono>

#include "Platform/Clock.h"
#include "Platform/Executor.h"
#include "Runtime/Executors/Actors.h"
#include "Runtime/Stores/Defaults.h"
#include "Runtime/Permissions.h"
#include "Settings/Model/ConfigFile.h"
#include "Settings/Model/EngineControl.h"
#include "Settings/Model/Texts/Labels.h"
#include "Settings/Model/Edits/Trimmed.h"

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
    struct Waiting {
        SettingsEdit edit;
        Refused refused;
    };

    std::weak_ptr<SettingsModel*> model;
    std::deque<Waiting> waiting;
    bool writing = false;

    static void takeNext(const std::shared_ptr<EditQueue>& self) {
        if (self->writing || self->waiting.empty()) return;
        if (self->model.expired()) {
            self->waiting.clear();
            return;
        }
        self->writing = true;
        auto next = std::make_shared<const Waiting>(std::move(self->waiting.front()));
        self->waiting.pop_front();
        self->store.update([next](const Config& config) { return next->edit.applied(config); },
                           [self, next](std::optional<ConfigError> error) {
                               // On the store's executor: the rest belongs to the main one.
                               self->main.post([self, next, error = std::move(error)] {
                                   self->writing = false;
                                   if (auto model = self->model.lock()) {
                                       if (error)
                                           (*model)->failed(next->edit, *error, next->refused);
                                       else
                                           (*model)->saved(next->edit);
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
      fileLog_(std::string(bundleIdentifier), "config", services.log),
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
    // Each new error of the file is logged once, in the store's words (a file that could not be
    // made names its path and the system's reason).
    const auto& before = snapshot_.get();
    if (snapshot.error && (!before || before->error != snapshot.error))
        fileLog_.logLazily(LogLevel::error,
                           [&] { return "config file: " + snapshot.error->description(); });
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

std::vector<SettingsDevice> SettingsModel::devices() const {
    const auto& snapshot = snapshot_.get();
    return SettingsDevice::all(snapshot ? snapshot->config : std::nullopt, status_.get());
}

std::vector<SettingsDevice> SettingsModel::mice() const {
    auto all = devices();
    std::erase_if(all, [](const SettingsDevice& d) { return d.kind != DeviceKind::mouse; });
    return all;
}

std::optional<SettingsDevice> SettingsModel::selectedMouse() const {
    auto all = mice();
    if (all.empty()) return std::nullopt;
    if (const auto& chosen = mouse_.get())
        for (auto& mouse : all)
            if (mouse.match == *chosen) return std::move(mouse);
    return std::move(all.front());
}

std::vector<IgnoredDevice> SettingsModel::ignoredDevices() const {
    std::vector<IgnoredDevice> ignored;
    const auto& snapshot = snapshot_.get();
    if (!snapshot || !snapshot->config) return ignored;
    for (const auto& match : snapshot->config->ignored) {
        auto seen = seenNames_.find(match);
        ignored.push_back(
            IgnoredDevice{match, seen != seenNames_.end() ? shownName(seen->second) : Labels::match(match)});
    }
    return ignored;
}

RuleChoices SettingsModel::choices(const SettingsDevice& device) const {
    std::vector<Rule> rules;
    if (device.profile && device.profile->rules) rules = *device.profile->rules;
    std::optional<HIDPPCapabilities> capabilities;
    if (device.status && device.status->hidpp && device.status->hidpp->capabilities) {
        capabilities = device.status->hidpp->capabilities;
    } else if (auto seen = seenCapabilities_.find(device.match); seen != seenCapabilities_.end()) {
        capabilities = seen->second;
    }
    return RuleChoices{std::move(rules), std::move(capabilities), device.speaksHIDPP()};
}

PermissionState SettingsModel::permissions() const {
    if (const auto& forced = snapshotPermissions_.get()) return *forced;
    if (const auto& status = status_.get()) return status->permissions;
    return services_.permissions.current();
}

GrantCause SettingsModel::permissionCause(Permission permission) const {
    if (snapshotPermissions_.get()) return GrantCause::none;
    return services_.permissions.cause(permission);
}

SmoothScroll SettingsModel::smoothWhenOn(const DeviceMatch& match) const {
    auto last = lastSmooth_.find(match);
    return last != lastSmooth_.end() ? last->second : SmoothScroll::defaults();
}

void SettingsModel::listen(const SettingsDevice& device, ListenPurpose purpose) {
    observers_.assign(learnNote_, std::optional<LearnNote>(), SettingsField::learnNote);
    observers_.assign(listenPurpose_, std::move(purpose), SettingsField::listenPurpose);
    services_.engine.listen(device.match);
}

void SettingsModel::stopListening() {
    observers_.assign(learnNote_, std::optional<LearnNote>(), SettingsField::learnNote);
    services_.engine.stopListening();
}

void SettingsModel::reapplyAll() {
    services_.engine.reapplyAll();
}

void SettingsModel::learned(const Heard& heard, const DeviceMatch& match,
                            const ListenPurpose& purpose) {
    if (!editable()) return;
    auto all = devices();
    auto device = std::find_if(all.begin(), all.end(),
                               [&](const SettingsDevice& d) { return d.match == match; });
    if (device == all.end() || !device->profile) return;
    auto choices = this->choices(*device);

    std::optional<LearnedRule> outcome;
    if (auto replace = as<ListenPurpose::ReplaceRule>(purpose)) {
        auto old = std::find_if(choices.rules.begin(), choices.rules.end(),
                                [&](const Rule& rule) { return replace->key.names(rule); });
        if (old == choices.rules.end()) return;
        outcome = choices.learned(heard, *old);
    } else {
        outcome = choices.learned(heard);
    }

    if (auto added = as<LearnedRule::Rule>(*outcome)) {
        if (editable()) send(SettingsEdit::addRule(match, added->rule));
        note(LearnNote::added(match, RuleKey::of(added->rule)));
    } else if (auto replacement = as<LearnedRule::Replacement>(*outcome)) {
        if (editable()) send(SettingsEdit::replaceRule(match, replacement->key, replacement->rule));
        note(LearnNote::added(match, RuleKey::of(replacement->rule)));
    } else if (auto full = as<LearnedRule::Full>(*outcome)) {
        note(LearnNote::full(match, full->control));
    } else if (is<LearnedRule::Unnamed>(*outcome)) {
        note(LearnNote::unnamed(match));
    }
}

void SettingsModel::note(LearnNote note) {
    bool added = is<LearnNote::Added>(note);
    observers_.assign(learnNote_, std::optional<LearnNote>(note), SettingsField::learnNote);
    if (!added) return;
    // Each added note clears itself after a while, unless a different note has replaced it.
    auto id = nextNoteTimer_++;
    std::weak_ptr<SettingsModel*> weak = self_;
    noteTimers_.emplace(
        id, services_.main.schedule(
                services_.main.clock().now() + noteLife, [weak, id, note = std::move(note)] {
                    auto self = weak.lock();
                    if (!self) return;
                    SettingsModel& model = **self;
                    if (model.learnNote_.get() == note)
                        model.observers_.assign(model.learnNote_, std::optional<LearnNote>(),
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

void SettingsModel::send(SettingsEdit edit, Refused refused) {
    edits_->waiting.push_back({std::move(edit), std::move(refused)});
    EditQueue::takeNext(edits_);
}

void SettingsModel::saved(const SettingsEdit& edit) {
    observers_.assign(saveError_, std::optional<std::string>(), SettingsField::saveError);
    log_.logLazily(LogLevel::defaultLevel, [&] { return "saved " + edit.logDescription(); });
}

void SettingsModel::failed(const SettingsEdit& edit, const ConfigError& error,
                           const Refused& refused) {
    observers_.assign(saveError_, std::optional<std::string>(error.description()),
                      SettingsField::saveError);
    observers_.assign(refusals_, refusals_.get() + 1, SettingsField::refusals);
    log_.logLazily(LogLevel::error, [&] {
        return "not saved " + edit.logDescription() + ": " + error.description();
    });
    // The control that committed the edit lets go of the value it was waiting to see stored.
    if (refused) refused();
}

}  // namespace tindlewave
