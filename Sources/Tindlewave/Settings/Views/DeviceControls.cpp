#include "Settings/Views/DeviceControls.h"

#include <QMenu>
#include <QSignalBlocker>

#include "Settings/Model/Devices/DeviceControlTexts.h"
#include "Settings/Model/Texts/Labels.h"
#include "Settings/Model/SettingsModel.h"
#include "Settings/Model/Devices/SetupChoices.h"
#include "Settings/Views/PlainText.h"

namespace tindlewave {

MousePopup::MousePopup(SettingsModel& model, QWidget* parent) : QComboBox(parent), model_(model) {
    setSizeAdjustPolicy(QComboBox::AdjustToContents);
    setAccessibleName("Device");
    // Only the user's choice sets the mouse; refreshes run with signals blocked.
    connect(this, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && index < int(matches_.size())) model_.setMouse(matches_[std::size_t(index)]);
    });
    refresh();
}

void MousePopup::refresh() {
    const QSignalBlocker blocker(this);
    const auto mice = model_.mice();
    std::vector<DeviceMatch> matches;
    QStringList labels;
    for (const auto& mouse : mice) {
        matches.push_back(mouse.match);
        labels.push_back(qText(mousePopupLabel(mouse)));
    }
    QStringList shown;
    for (int i = 0; i < count(); ++i) shown.push_back(itemText(i));
    if (matches != matches_ || labels != shown) {
        clear();
        addItems(labels);
        matches_ = std::move(matches);
    }
    int current = -1;
    if (const auto selected = model_.selectedMouse())
        for (std::size_t i = 0; i < matches_.size(); ++i)
            if (matches_[i] == selected->match) current = int(i);
    setCurrentIndex(current);
}

SetUpButton::SetUpButton(SettingsModel& model, SettingsDevice device, QWidget* parent)
    : QToolButton(parent), model_(model), device_(std::move(device)) {
    setToolButtonStyle(Qt::ToolButtonTextOnly);
    connect(this, &QToolButton::clicked, this, [this] { setUp(suggested_); });
    refresh(device_);
}

void SetUpButton::refresh(const SettingsDevice& device) {
    device_ = device;
    const auto& snapshot = model_.snapshot();
    if (!snapshot || !snapshot->config) {
        hide();
        return;
    }
    const Config& config = *snapshot->config;
    const auto choices = SetupChoices::make(device_, config);
    suggested_ = choices.suggested;
    setText(actionText(setUpButtonTitle(choices.suggested)));
    setToolTip(toolTipText(Labels::setUpHelp(choices.suggested, config)));
    QMenu* old = menu();
    if (choices.others.empty()) {
        setMenu(nullptr);
        setPopupMode(QToolButton::DelayedPopup);
    } else {
        auto* others = new QMenu(this);
        others->setToolTipsVisible(true);
        for (const auto& source : choices.others) {
            auto* item = others->addAction(actionText(Labels::setUpItem(source, config)));
            item->setToolTip(toolTipText(Labels::setUpHelp(source, config)));
            connect(item, &QAction::triggered, this, [this, source] { setUp(source); });
        }
        setMenu(others);
        setPopupMode(QToolButton::MenuButtonPopup);
    }
    if (old) old->deleteLater();
    show();
}

void SetUpButton::setUp(const ProfileSource& source) {
    if (!model_.editable()) return;
    model_.send(SettingsEdit::addDevice(device_.match, device_.name, source));
}

}  // namespace tindlewave
