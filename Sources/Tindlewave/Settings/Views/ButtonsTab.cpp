#include "Settings/Views/ButtonsTab.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

#include "Settings/Model/Buttons/GestureKnob.h"
#include "Settings/Model/SettingsModel.h"
#include "Settings/Views/ClockTime.h"
#include "Settings/Views/DeviceControls.h"
#include "Settings/Views/FormBlocks.h"
#include "Settings/Views/KnobRow.h"
#include "Settings/Views/PlainText.h"
#include "Settings/Views/Rules.h"
#include "Settings/Views/Segment.h"
#include "Settings/Views/SettingsPage.h"
#include "Settings/Views/RefreshOncePerTurn.h"

namespace tindlewave {

StatusLine::StatusLine(QWidget* parent)
    : QWidget(parent), dot_(new ConnectionDot(false)), title_(plainLabel(QString())),
      detail_(new Explanation(QString())), reapply_(new QPushButton("Re-apply")) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 2, 0, 0);
    row->setSpacing(8);
    auto* text = new QVBoxLayout;
    text->setSpacing(2);
    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(6);
    titleRow->addWidget(dot_, 0, Qt::AlignVCenter);
    titleRow->addWidget(title_, 1);
    text->addLayout(titleRow);
    text->addWidget(detail_);
    row->addLayout(text, 1);
    reapply_->setToolTip("Write this profile to the device again");
    connect(reapply_, &QPushButton::clicked, this, [this] {
        if (action_) action_();
    });
    row->addWidget(reapply_, 0, Qt::AlignTop);
}

void StatusLine::update(const StatusCard& card, std::function<void()> reapply) {
    dot_->setConnected(card.connected);
    title_->setText(qText(card.title));
    detail_->setText(qText(card.detail));
    detail_->setVisible(!card.detail.empty());
    reapply_->setVisible(reapply && card.connected);
    action_ = std::move(reapply);
}

ButtonsTab::ButtonsTab(SettingsModel& model, const Clock& clock, SettingsPage& page)
    : model_(model), page_(page), noMouse_(makeNoMouseRow()), mouse_(new QWidget),
      popup_(new MousePopup(model)), status_(new StatusLine), rules_(new Rules(model, clock)),
      gestures_(new QWidget), fire_(new QButtonGroup(this)) {
    auto* rows = page_.content();
    rows->addWidget(noMouse_);

    auto* column = new QVBoxLayout(mouse_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);
    auto* device = new QWidget;
    auto* deviceColumn = new QVBoxLayout(device);
    deviceColumn->setContentsMargins(0, 0, 0, 0);
    deviceColumn->setSpacing(4);
    deviceColumn->addWidget(popup_, 0, Qt::AlignLeft);
    deviceColumn->addWidget(status_);
    device->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    column->addWidget(new FormRow("Device", std::nullopt, device));
    column->addWidget(new Divider);
    column->addWidget(rules_);

    auto* gestureColumn = new QVBoxLayout(gestures_);
    gestureColumn->setContentsMargins(0, 0, 0, 0);
    gestureColumn->setSpacing(12);
    gestureColumn->addWidget(new Divider);
    auto* segments = new QWidget;
    auto* segmentRow = new QHBoxLayout(segments);
    segmentRow->setContentsMargins(0, 0, 0, 0);
    segmentRow->setSpacing(0);
    const std::pair<const char*, GestureFire> fires[] = {{"Past a distance", GestureFire::pastDistance},
                                                         {"On release", GestureFire::onRelease}};
    for (const auto& [title, fire] : fires) {
        auto* segment = makeSegment(title);
        fire_->addButton(segment, static_cast<int>(fire));
        segmentRow->addWidget(segment);
    }
    segments->setAccessibleName("Hold-and-move rules fire");
    fire_->setExclusive(true);
    connect(fire_, &QButtonGroup::idClicked, this, [this](int id) {
        const auto mouse = model_.selectedMouse();
        if (mouse && model_.editable())
            model_.send(SettingsEdit::gestureFire(mouse->match, static_cast<GestureFire>(id)));
        QTimer::singleShot(0, this, [this] { refresh(); });  // shows the stored value until saved
    });
    gestureColumn->addWidget(new FormRow(
        "Hold-and-move rules fire",
        QString("Past a distance fires as soon as you move far enough. On release waits until you let go."),
        segments));
    distance_ = new KnobRow(
        "Distance before a swipe",
        "How far you move while holding the button before a hold-and-move rule fires, in mouse "
        "sensor counts.",
        GestureKnob::scale(), KnobUnit::counts, double(GestureSettings::defaults().distance),
        [this](double value, KnobRow::Refused refused) {
            const auto mouse = model_.selectedMouse();
            if (mouse && model_.editable())
                model_.send(GestureKnob::distance(mouse->match, value), std::move(refused));
            else
                refused();
        });
    gestureColumn->addWidget(distance_);
    column->addWidget(gestures_);
    rows->addWidget(mouse_);

    observation_ = refreshOncePerTurn(model_, *this, [this] { refresh(); });
    refresh();
}

ButtonsTab::~ButtonsTab() = default;

void ButtonsTab::refresh() {
    const auto device = model_.selectedMouse();
    page_.setSubject(device ? std::optional(device->match) : std::nullopt);
    noMouse_->setVisible(!device);
    mouse_->setVisible(device.has_value());
    if (!device) return;

    popup_->refresh();
    const bool paused = model_.status() && model_.status()->run == RunState::paused;
    std::function<void()> reapply;
    if (!device->isNew()) reapply = [this] { model_.reapplyAll(); };
    status_->update(device->card(paused, clockTime), std::move(reapply));
    rules_->update(*device);

    const bool showGestures = device->speaksHIDPP() && device->profile;
    gestures_->setVisible(showGestures);
    gestures_->setEnabled(model_.editable());
    if (showGestures) {
        const GestureSettings gestures = device->profile->gestures.value_or(GestureSettings::defaults());
        const QSignalBlocker blocker(fire_);
        if (auto* button = fire_->button(static_cast<int>(gestures.fire))) button->setChecked(true);
        // A position left pending on one mouse is not shown on the next (one whose save is
        // refused is dropped by the refusal).
        if (knobMouse_ != device->match)
            distance_->showAnew(double(gestures.distance));
        else
            distance_->setValue(double(gestures.distance));
        knobMouse_ = device->match;
    }
}

}  // namespace tindlewave
