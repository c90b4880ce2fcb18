#include "Settings/Views/DevicesTab.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "Settings/Model/SettingsModel.h"
#include "Settings/Views/DeviceRow.h"
#include "Settings/Views/FormBlocks.h"
#include "Settings/Views/PlainText.h"
#include "Settings/Views/SettingsPage.h"
#include "Settings/Views/RefreshOncePerTurn.h"

namespace tindlewave {

namespace {
std::vector<SettingsDevice> ofKind(std::vector<SettingsDevice> devices, DeviceKind kind) {
    std::erase_if(devices, [kind](const SettingsDevice& device) { return device.kind != kind; });
    return devices;
}
}  // namespace

DevicesTab::DevicesTab(SettingsModel& model, SettingsPage& page) : model_(model) {
    auto* rows = page.content();
    // The page's rows sit in the frame's column; this widget only carries the page's state and
    // takes no room there.
    hide();
    mice_ = new DeviceList(model_, "No mouse yet.");
    keyboards_ = new DeviceList(model_, "No keyboard yet.");
    rows->addWidget(new FormRow("Mice", std::nullopt, mice_));
    rows->addWidget(new Divider);
    rows->addWidget(
        new FormRow("Keyboards", QString("Keyboards and mice you connect later show up here as new."), keyboards_));
    ignoredDivider_ = new Divider;
    auto* ignored = new QWidget;
    ignoredLines_ = new QVBoxLayout(ignored);
    ignoredLines_->setContentsMargins(0, 0, 0, 0);
    ignoredLines_->setSpacing(4);
    ignored->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    ignoredRow_ = new FormRow(
        "Ignored", QString("Tindlewave leaves these as the system has them and does not list them as new."), ignored);
    rows->addWidget(ignoredDivider_);
    rows->addWidget(ignoredRow_);

    observation_ = refreshOncePerTurn(model_, *this, [this] { refresh(); }, [](SettingsField field) {
        // A refusal shows what is stored again in the control it was refused to.
        return field == SettingsField::snapshot || field == SettingsField::status ||
               field == SettingsField::refusals;
    });
    refresh();
}

DevicesTab::~DevicesTab() = default;

void DevicesTab::refresh() {
    const bool editable = model_.editable();
    for (QWidget* part : {static_cast<QWidget*>(mice_), static_cast<QWidget*>(keyboards_),
                          static_cast<QWidget*>(ignoredRow_)})
        part->setEnabled(editable);
    const bool paused = model_.status() && model_.status()->run == RunState::paused;
    // A kind chosen moves its device to the other list, in a row made anew. The focus goes along
    // to the new row's Kind control: the old row's going would hand it on to the next control,
    // another device's name field, where typing would rename that device. Meanwhile the window
    // holds it.
    std::optional<DeviceMatch> choosingKind;
    QWidget* focused = window()->focusWidget();
    for (DeviceList* list : {mice_, keyboards_})
        for (DeviceRow* row : list->rows())
            if (focused && row->kindPicker() == focused) choosingKind = row->device().match;
    if (choosingKind) window()->setFocus(Qt::OtherFocusReason);
    mice_->refresh(model_.mice(), paused);
    keyboards_->refresh(ofKind(model_.devices(), DeviceKind::keyboard), paused);
    if (choosingKind)
        for (DeviceList* list : {mice_, keyboards_})
            for (DeviceRow* row : list->rows())
                if (row->kindPicker() && row->device().match == *choosingKind)
                    row->kindPicker()->setFocus(Qt::OtherFocusReason);
    refreshIgnored();
}

void DevicesTab::refreshIgnored() {
    auto ignored = model_.ignoredDevices();
    ignoredDivider_->setVisible(!ignored.empty());
    ignoredRow_->setVisible(!ignored.empty());
    if (ignored == ignoredShown_) return;
    while (QLayoutItem* item = ignoredLines_->takeAt(0)) {
        if (QWidget* widget = item->widget()) widget->deleteLater();
        delete item;
    }
    for (const auto& device : ignored) {
        auto* line = new QWidget;
        auto* row = new QHBoxLayout(line);
        row->setContentsMargins(0, 0, 0, 0);
        row->addWidget(plainLabel(qText(device.name)));
        row->addStretch(1);
        auto* stop = new QPushButton("Stop Ignoring");
        connect(stop, &QPushButton::clicked, this, [this, match = device.match] {
            if (model_.editable()) model_.send(SettingsEdit::ignore(match, false));
        });
        row->addWidget(stop);
        ignoredLines_->addWidget(line);
    }
    ignoredShown_ = std::move(ignored);
}

}  // namespace tindlewave
