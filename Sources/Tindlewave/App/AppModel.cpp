#include "App/AppModel.h"

#include "Platform/Executor.h"
#include "Runtime/Permissions.h"
#include "Settings/Model/Workspace.h"

namespace tindlewave {

AppModel::AppModel(Parts parts)
    : main_(parts.main),
      permissions_(parts.permissions),
      workspace_(parts.workspace),
      guide_(parts.guide),
      makeMenu_(std::move(parts.makeMenu)),
      makeSettingsWindow_(std::move(parts.makeSettingsWindow)),
      store_(std::move(parts.store)),
      engine_(std::move(parts.engine)),
      updates_(std::make_unique<Updates>(parts.defaults, std::move(parts.updateFeed),
                                         std::move(parts.makeUpdater))),
      settings_(std::make_unique<SettingsModel>(SettingsModel::Services{
          .main = parts.main,
          .store = *store_,
          .engine = *engine_,
          .updates = updates_.get(),
          .defaults = parts.defaults,
          .loginItem = parts.loginItem,
          .permissions = parts.permissions,
          .log = parts.log,
      })),
      engineRun_(std::move(parts.engineRun)),
      self_(std::make_shared<AppModel*>(this)) {}

AppModel::~AppModel() = default;

SettingsWindowView& AppModel::settingsWindow() {
    if (!settingsWindow_) settingsWindow_ = makeSettingsWindow_(*settings_);
    return *settingsWindow_;
}

void AppModel::start() {
    if (started_) return;
    started_ = true;
    updates_->start();
    if (makeMenu_) menu_ = makeMenu_(*this);

    // 1: the store first (it makes the file when missing), then the engine over it.
    std::weak_ptr<AppModel*> weak = self_;
    Executor* main = &main_;
    store_->start([weak, main] {
        main->post([weak] {
            if (auto self = weak.lock()) (*self)->startEngine();
        });
    });
    // 2: a status reaches the menu before the settings model.
    statuses_ = engine_->statuses().subscribe(main_, [this](EngineStatus status) {
        if (menu_) menu_->show(status);
        settings_->show(status);
    });
    // 3: the settings model's own subscription to the store, independent of the engine's.
    snapshots_ = store_->snapshots().subscribe(
        main_, [this](ConfigSnapshot snapshot) { settings_->show(snapshot); });
    // 4: the purpose is the one current when the press arrives.
    heard_ = engine_->heard().subscribe(main_, [this](LearnedPress press) {
        settings_->learned(press.heard, press.match, settings_->listenPurpose());
    });
}

void AppModel::startEngine() {
    if (runCancelled_ || engineRun_.isArmed()) return;
    engineRun_ = engine_->run(store_->snapshots());
}

void AppModel::cancelEngineRun() {
    runCancelled_ = true;
    engineRun_.cancel();
}

void AppModel::reapplyAll() {
    engine_->reapplyAll();
}

void AppModel::setPaused(bool paused) {
    engine_->setPaused(paused);
}

std::optional<bool> AppModel::hyperKeyEnabled() const {
    const auto& snapshot = settings_->snapshot();
    if (!snapshot || !snapshot->config) return std::nullopt;
    return snapshot->config->hyper.enabled;
}

void AppModel::fix(const MenuPresentation::Fix& fix) {
    if (auto permission = as<MenuPresentation::Fix::Permission>(fix)) {
        // No desktop pane to open: the guide's card tells what to do.
        permissions_.request(permission->permission);
        guide_.show(permission->permission);
    } else if (is<MenuPresentation::Fix::OpenConfig>(fix)) {
        workspace_.open(store_->url());
    } else {
        reapplyAll();
    }
}

void AppModel::snapshotSettings(const std::string& folder, std::function<void()> done) {
    PermissionGuideView* guide = &guide_;
    settingsWindow().snapshot(folder, [guide, folder, done = std::move(done)]() mutable {
        guide->snapshot(folder, std::move(done));
    });
}

}  // namespace tindlewave
