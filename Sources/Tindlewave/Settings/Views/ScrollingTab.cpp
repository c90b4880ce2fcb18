#include "Settings/Views/ScrollingTab.h"

#include <QVBoxLayout>

#include "Settings/Model/SettingsModel.h"
#include "Settings/Views/DeviceControls.h"
#include "Settings/Views/FormBlocks.h"
#include "Settings/Views/ScrollingSettings.h"
#include "Settings/Views/SettingsPage.h"
#include "Settings/Views/RefreshOncePerTurn.h"

namespace tindlewave {

ScrollingTab::ScrollingTab(SettingsModel& model, SettingsPage& page) : model_(model), page_(page) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);
    noMouse_ = makeNoMouseRow();
    column->addWidget(noMouse_);

    deviceRows_ = new QWidget;
    auto* rows = new QVBoxLayout(deviceRows_);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(12);
    popup_ = new MousePopup(model_);
    rows->addWidget(new FormRow("Device", std::nullopt, popup_));
    rows->addWidget(new Divider);
    settings_ = new ScrollingSettings(model_);
    rows->addWidget(settings_);
    column->addWidget(deviceRows_);

    observation_ = refreshOncePerTurn(model_, *this, [this] { refresh(); }, [](SettingsField field) {
        return field != SettingsField::learnNote && field != SettingsField::listenPurpose &&
               field != SettingsField::tab && field != SettingsField::loginItem &&
               field != SettingsField::loginItemError;
    });
    refresh();
}

ScrollingTab::~ScrollingTab() = default;

void ScrollingTab::refresh() {
    const auto mouse = model_.selectedMouse();
    page_.setSubject(mouse ? std::optional(mouse->match) : std::nullopt);
    noMouse_->setVisible(!mouse);
    deviceRows_->setVisible(mouse.has_value());
    if (!mouse) return;
    popup_->refresh();
    settings_->refresh(*mouse);
}

}  // namespace tindlewave
