#include "Settings/Views/SettingsSnapshot.h"

#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <filesystem>

#include "Settings/Model/SettingsModel.h"
#include "Settings/Model/Window/SnapshotShots.h"
#include "Settings/Views/SettingsTabs.h"
#include "Settings/Views/WindowPicture.h"

namespace tindlewave {

SettingsSnapshot::SettingsSnapshot(SettingsModel& model, SettingsTabs& window, std::string folder,
                                   std::function<void()> done, Pace pace)
    : QObject(&window), model_(model), window_(window), folder_(std::move(folder)), done_(std::move(done)),
      pace_(pace) {}

SettingsSnapshot::SettingsSnapshot(SettingsModel& model, SettingsTabs& window, std::string folder,
                                   std::function<void()> done)
    : SettingsSnapshot(model, window, std::move(folder), std::move(done), Pace{}) {}

void SettingsSnapshot::start() { waitForData(pace_.polls); }

void SettingsSnapshot::after(int milliseconds, Step step) { steps_.emplace_back(milliseconds, std::move(step)); }

void SettingsSnapshot::next() {
    if (steps_.empty()) return;
    auto [delay, step] = std::move(steps_.front());
    steps_.pop_front();
    QTimer::singleShot(delay, this, [this, step = std::move(step)] {
        step();
        next();
    });
}

void SettingsSnapshot::waitForData(int left) {
    if (left > 0 && (!model_.snapshot() || !model_.status())) {
        QTimer::singleShot(pace_.poll, this, [this, left] { waitForData(left - 1); });
        return;
    }
    after(pace_.settle, [this] { plan(); });
    next();
}

void SettingsSnapshot::plan() {
    rememberedTab_ = model_.tab();
    rememberedMouse_ = model_.mouse();
    const auto shots = SnapshotNames::shots(model_.mice());
    std::error_code ignored;
    std::filesystem::create_directories(folder_, ignored);

    for (const SnapshotPass& pass : SnapshotNames::passes) {
        int position = 0;
        for (const SnapshotShot& shot : shots) {
            const std::string base = SnapshotNames::baseName(++position, shot.name);
            const std::string suffix(pass.suffix);
            const bool dark = pass.dark;
            after(0, [this, shot, dark] {
                window_.setPalette(dark ? darkPalette() : lightPalette());
                const auto mouse = shot.mouse ? shot.mouse : rememberedMouse_;
                if (mouse != model_.mouse()) model_.setMouse(mouse);
                window_.select(shot.tab);
            });
            after(pace_.page, [this, base, suffix] { shoot(base + suffix); });
            if (shot.tab == SettingsTab::general) {
                after(0, [this] {
                    model_.setSnapshotPermissions(PermissionState{PermissionState::Grant::granted,
                                                                  PermissionState::Grant::denied});
                });
                after(pace_.page, [this, base, suffix] {
                    shoot(base + std::string(SnapshotNames::permissionMissing) + suffix);
                });
                after(0, [this] { model_.setSnapshotPermissions(std::nullopt); });
            }
        }
    }
    after(0, [this] { finish(); });
}

void SettingsSnapshot::shoot(const std::string& stem) {
    const auto path = [this](const std::string& name) { return (std::filesystem::path(folder_) / name).string(); };
    writeWindowPNG(window_, path(stem + ".png"));
    QScrollArea* area = tallestScrollArea(window_);
    if (!area || !area->widget()) return;
    if (area->viewport()->height() + 1 >= area->widget()->height()) return;
    QScrollBar* bar = area->verticalScrollBar();
    bar->setValue(bar->maximum());
    // The end picture is taken before the steps that follow this one.
    steps_.emplace_front(0, [bar] { bar->setValue(0); });
    steps_.emplace_front(pace_.scrolled, [this, path, stem] {
        writeWindowPNG(window_, path(stem + std::string(SnapshotNames::scrolledToEnd) + ".png"));
    });
}

void SettingsSnapshot::finish() {
    window_.setPalette(QPalette());
    if (rememberedMouse_ != model_.mouse()) model_.setMouse(rememberedMouse_);
    window_.select(rememberedTab_);
    auto done = std::move(done_);
    deleteLater();
    if (done) done();
}

}  // namespace tindlewave
