#include "Settings/Views/HoldToScrollSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "Settings/Model/Scrolling/ScrollingRules.h"
#include "Settings/Model/SettingsModel.h"
#include "Settings/Views/CheckBox.h"
#include "Settings/Views/FormBlocks.h"
#include "Settings/Views/KnobRow.h"
#include "Settings/Views/LocaleTexts.h"
#include "Settings/Views/PlainText.h"

namespace tindlewave {

HoldToScrollSettings::HoldToScrollSettings(SettingsModel& model, QWidget* parent)
    : QWidget(parent), model_(model) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);

    auto* heading = new QWidget;
    auto* headingColumn = new QVBoxLayout(heading);
    headingColumn->setContentsMargins(0, 0, 0, 0);
    headingColumn->setSpacing(4);
    headingColumn->addWidget(new GroupHeading("Hold to scroll"));
    explanation_ = new Explanation({});
    headingColumn->addWidget(explanation_);
    column->addWidget(heading);

    const HoldToScroll hold = HoldToScroll::defaults();
    speed_ = new KnobRow(
        "Scroll speed",
        "How far the page moves for how far you move the mouse. At 1\u00D7 it follows your hand.",
        ScrollingRules::holdSpeedScale(), KnobUnit::times, hold.speed,
        [this](double value, KnobRow::Refused refused) {
            send(ScrollingRules::holdSpeed(device_.match, ScrollingRules::hold(device_), value),
                 std::move(refused));
        });
    column->addWidget(speed_);

    direction_ = new QComboBox;
    direction_->setAccessibleName("Direction");
    direction_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    direction_->addItem("Like grabbing the page", int(HoldScrollDirection::grab));
    direction_->addItem("Like the scroll wheel", int(HoldScrollDirection::wheel));
    connect(direction_, &QComboBox::activated, this, [this](int index) {
        const auto chosen = HoldScrollDirection(direction_->itemData(index).toInt());
        send(ScrollingRules::holdDirection(device_.match, ScrollingRules::hold(device_), chosen));
    });
    column->addWidget(
        new FormRow("Direction",
                    QString("Grabbing moves the page with your hand. The scroll wheel way scrolls "
                            "down when you move down."),
                    direction_));

    momentum_ = new CheckBox("Keep gliding after you let go");
    connect(momentum_, &QCheckBox::clicked, this, [this](bool on) {
        send(ScrollingRules::holdMomentum(device_.match, ScrollingRules::hold(device_), on));
    });
    column->addWidget(new FormRow(
        "", QString("Let go while moving and the page coasts to a stop, like on a trackpad."),
        momentum_));
}

void HoldToScrollSettings::send(const SettingsEdit& edit, std::function<void()> refused) {
    if (model_.editable())
        model_.send(edit, std::move(refused));
    else if (refused)
        refused();
}

void HoldToScrollSettings::refresh(const SettingsDevice& device) {
    const bool anotherMouse = device.match != device_.match;
    device_ = device;
    const HoldToScroll hold = ScrollingRules::hold(device);
    setEnabled(model_.editable() && device.profile.has_value());
    explanation_->setText(QString::fromStdString(
        ScrollingRules::holdExplanation(ScrollingRules::scrollButtons(device), joinedNames)));
    // A position pending on another mouse is not shown here (one whose save is refused is
    // dropped by the refusal).
    if (anotherMouse)
        speed_->showAnew(hold.speed);
    else
        speed_->setValue(hold.speed);
    const QSignalBlocker blockDirection(direction_);
    direction_->setCurrentIndex(direction_->findData(int(hold.direction)));
    const QSignalBlocker blockMomentum(momentum_);
    momentum_->setChecked(hold.momentum);
}

}  // namespace tindlewave
