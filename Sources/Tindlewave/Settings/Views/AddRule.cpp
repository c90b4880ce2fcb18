#include "Settings/Views/AddRule.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "Platform/Clock.h"
#include "Settings/Model/Buttons/AddRuleTexts.h"
#include "Settings/Model/Texts/Labels.h"
#include "Settings/Model/SettingsModel.h"
#include "Settings/Views/FormBlocks.h"
#include "Settings/Views/PlainText.h"
#include "Settings/Views/RecorderField.h"

namespace tindlewave {

ListenRow::ListenRow(Input input, const Clock& clock, std::function<void()> cancel, QWidget* parent)
    : QWidget(parent), input_(std::move(input)), clock_(clock), field_(new RecorderField(this)),
      timer_(new QTimer(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(field_);
    field_->onCancel = std::move(cancel);
    timer_->setInterval(1000);
    connect(timer_, &QTimer::timeout, this, [this] { tick(); });
    timer_->start();
    tick();
}

void ListenRow::update(const Input& input) {
    if (input == input_) return;
    input_ = input;
    tick();
}

void ListenRow::tick() {
    field_->setState(AddRuleTexts::listenRow(input_.ready, input_.thumbWheel, input_.device, clock_.date(),
                                             input_.until));
}

AddRule::AddRule(SettingsModel& model, const Clock& clock, QWidget* parent)
    : QWidget(parent), model_(model), clock_(clock), button_(new QToolButton), menu_(new QMenu(this)),
      status_(new Explanation(QString())), group_(new QWidget(this)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    group_->setFixedHeight(28);
    auto* groupLayout = new QHBoxLayout(group_);
    groupLayout->setContentsMargins(0, 0, 0, 0);
    button_->setParent(group_);
    button_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button_->setText(QString::fromUtf8("+ Add Rule"));
    button_->setMenu(menu_);
    connect(button_, &QToolButton::clicked, this, [this] {
        if (!input_ || button_->popupMode() != QToolButton::MenuButtonPopup) return;
        model_.listen(input_->device, ListenPurpose::addRule());
    });
    groupLayout->addWidget(button_, 0, Qt::AlignLeft | Qt::AlignVCenter);
    column->addWidget(group_);
    status_->keepOnOneLine();
    column->addWidget(status_);
}

void AddRule::update(Input input) {
    const bool paused = model_.status() && model_.status()->run == RunState::paused;
    const auto blocked = input.device.cannotListen(paused, model_.permissions());
    const auto& listen = input.device.status ? input.device.status->listen : std::nullopt;
    const bool forNewRule = is<ListenPurpose::AddRule>(model_.listenPurpose());
    const bool controlsChanged = !input_ || input_->controls != input.controls;
    input_ = std::move(input);

    std::optional<ListenRow::Input> countdown;
    if (listen && forNewRule) {
        if (const auto* ready = as<ListenStatus::GettingReady>(*listen))
            countdown = ListenRow::Input{input_->device.name, input_->thumbWheel, false, ready->until};
        else if (const auto* listening = as<ListenStatus::Listening>(*listen))
            countdown = ListenRow::Input{input_->device.name, input_->thumbWheel, true, listening->until};
    }
    if (countdown) {
        if (listenRow_) listenRow_->update(*countdown);
        else {
            listenRow_ = new ListenRow(*countdown, clock_, [this] { model_.stopListening(); }, group_);
            group_->layout()->addWidget(listenRow_);
        }
        button_->hide();
    } else {
        if (listenRow_) {
            listenRow_->hide();
            listenRow_->deleteLater();
            listenRow_ = nullptr;
        }
        button_->show();
    }
    const auto mode = blocked ? QToolButton::InstantPopup : QToolButton::MenuButtonPopup;
    if (button_->popupMode() != mode || button_->minimumWidth() == 0) {
        button_->setPopupMode(mode);
        // The common style hugs a tool button's text; give it a push button's room.
        button_->setMinimumWidth(0);
        button_->setMinimumWidth(button_->sizeHint().width() + 16);
    }
    button_->setToolTip(toolTipText(AddRuleTexts::help(blocked.has_value(), input_->device.name)));
    if (controlsChanged) fillMenu();

    AddRuleTexts::StatusInput status{listen, forNewRule, input_->note, blocked, input_->footer,
                                     input_->device.name};
    status_->setText(qText(AddRuleTexts::status(status)));
}

void AddRule::fillMenu() {
    // Refilled on a later turn than any pick: a pick only sends an edit.
    menu_->clear();
    menu_->addSection("Choose a Button");
    for (const auto& control : input_->controls) {
        auto* item = menu_->addAction(actionText(Labels::control(control)));
        connect(item, &QAction::triggered, this, [this, control] {
            if (!input_) return;
            const DeviceMatch match = input_->device.match;
            model_.stopListening();
            model_.learned(Heard::control(control), match, ListenPurpose::addRule());
        });
    }
}

}  // namespace tindlewave
