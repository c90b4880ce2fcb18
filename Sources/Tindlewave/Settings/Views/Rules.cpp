#include "Settings/Views/Rules.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "Settings/Model/Buttons/RuleRowValues.h"
#include "Settings/Model/SettingsModel.h"
#include "Settings/Views/AddRule.h"
#include "Settings/Views/DeviceControls.h"
#include "Settings/Views/FormBlocks.h"
#include "Settings/Views/PlainText.h"
#include "Settings/Views/RuleRow.h"

namespace tindlewave {

namespace {
QLabel* secondaryLabel(const QString& text, QWidget* parent) {
    auto* label = plainLabel(text, parent);
    dimText(label);
    return label;
}

QWidget* columnHeader(QWidget* parent) {
    auto* header = new QWidget(parent);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(4, 0, 4, 0);
    row->setSpacing(10);
    auto add = [&](const char* text, int width) {
        auto* label = secondaryLabel(text, header);
        QFont font = label->font();
        font.setPointSizeF(font.pointSizeF() * 0.9);
        font.setWeight(QFont::DemiBold);
        label->setFont(font);
        if (width) label->setFixedWidth(width);
        row->addWidget(label);
    };
    add("Button", 152);
    add("When", 150);
    add("Do", 0);
    row->addStretch(1);
    header->setAccessibleName(QString());
    header->setFocusPolicy(Qt::NoFocus);
    return header;
}
}  // namespace

Rules::Rules(SettingsModel& model, const Clock& clock, QWidget* parent)
    : QWidget(parent), model_(model), count_(secondaryLabel(QString(), this)),
      setUpText_(new Explanation("Set this mouse up to give it rules.", this)),
      empty_(secondaryLabel("No rules yet, so every button works as usual.", this)),
      header_(columnHeader(this)), rowsLayout_(new QVBoxLayout), footer_(new Explanation(QString(), this)),
      addRule_(new AddRule(model, clock, this)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    auto* heading = new QHBoxLayout;
    heading->addWidget(new GroupHeading("Rules", this));
    heading->addStretch(1);
    heading->addWidget(count_);
    column->addLayout(heading);
    column->addWidget(setUpText_);
    column->addWidget(empty_);
    column->addWidget(header_);
    rowsLayout_->setContentsMargins(0, 0, 0, 0);
    rowsLayout_->setSpacing(0);
    column->addLayout(rowsLayout_);
    column->addWidget(footer_);
    column->addWidget(addRule_);
}

Rules::~Rules() = default;

RuleRow* Rules::row(const RuleKey& key) const {
    const auto found = rows_.find(key);
    return found == rows_.end() ? nullptr : found->second;
}

void Rules::setRecordingShortcut(const RuleKey& key, bool on) {
    if (on) recordingShortcut_ = key;
    else if (recordingShortcut_ == key) recordingShortcut_.reset();
    // Called from a picker's or the field's own handler: the rows change on the next turn.
    QTimer::singleShot(0, this, [this] {
        if (device_) update(*device_);
    });
}

void Rules::update(const SettingsDevice& device) {
    if (device_ && device_->match != device.match) {
        // Another mouse: its rows act on its own match.
        for (auto& [key, row] : rows_) {
            row->hide();
            row->deleteLater();
        }
        rows_.clear();
        recordingShortcut_.reset();
    }
    device_ = device;
    setEnabled(model_.editable());
    const auto choices = model_.choices(device);
    const std::vector<Rule> rules =
        device.profile && device.profile->rules ? *device.profile->rules : std::vector<Rule>{};
    const std::vector<Rule> skipped =
        device.status && device.status->hidpp ? device.status->hidpp->skippedRules : std::vector<Rule>{};
    const bool paused = model_.status() && model_.status()->run == RunState::paused;
    const auto blocked = device.cannotListen(paused, model_.permissions());
    const std::string footer = RulesValues::footer(device.speaksHIDPP());
    const auto note = RulesValues::note(model_.learnNote(), device.match);
    const auto* replacing = as<ListenPurpose::ReplaceRule>(model_.listenPurpose());

    count_->setText(qText(RulesValues::count(rules.size())));
    if (device.isNew()) {
        if (!setUp_) {
            setUp_ = new SetUpButton(model_, device, this);
            static_cast<QVBoxLayout*>(layout())->insertWidget(1, setUp_, 0, Qt::AlignLeft);
        }
        setUp_->refresh(device);
    } else if (setUp_) {
        setUp_->hide();
        setUp_->deleteLater();
        setUp_ = nullptr;
    }
    setUpText_->setVisible(device.isNew());
    empty_->setVisible(!device.isNew() && rules.empty());
    header_->setVisible(!device.isNew() && !rules.empty());
    footer_->setVisible(device.isNew());
    footer_->setText(qText(footer));
    addRule_->setVisible(!device.isNew());

    // Rows are kept by key: a row for a rule that is gone goes, a new rule gets a row, and the
    // rows are laid out in the profile's order.
    std::unordered_map<RuleKey, RuleRow*> kept;
    if (recordingShortcut_ && std::none_of(rules.begin(), rules.end(), [&](const Rule& rule) {
            return recordingShortcut_->names(rule);
        }))
        recordingShortcut_.reset();
    for (const Rule& rule : device.isNew() ? std::vector<Rule>{} : rules) {
        const RuleKey key = RuleKey::of(rule);
        RuleRow::Input input;
        input.rule = rule;
        input.choices = choices;
        input.skipped = std::find(skipped.begin(), skipped.end(), rule) != skipped.end();
        input.explanation = RulesValues::explanation(rule, rules);
        input.highlighted = note && note->highlights(rule);
        if (replacing && replacing->key == key && device.status) input.listen = device.status->listen;
        input.cannotListen = blocked;
        input.device = device.name;
        input.recordingShortcut = recordingShortcut_ == key;
        RuleRow* row = nullptr;
        if (auto found = rows_.find(key); found != rows_.end()) {
            row = found->second;
            rows_.erase(found);
            row->update(std::move(input));
        } else {
            const DeviceMatch match = device.match;
            RuleRow::Actions actions;
            actions.startListening = [this, key] {
                if (device_) model_.listen(*device_, ListenPurpose::replaceRule(key));
            };
            actions.stopListening = [this] { model_.stopListening(); };
            actions.replace = [this, match, key](const Rule& next) {
                if (model_.editable()) model_.send(SettingsEdit::replaceRule(match, key, next));
            };
            actions.remove = [this, match, key] {
                if (model_.editable()) model_.send(SettingsEdit::removeRule(match, key));
            };
            actions.setRecordingShortcut = [this, key](bool on) { setRecordingShortcut(key, on); };
            row = new RuleRow(std::move(input), std::move(actions), this);
        }
        kept.emplace(key, row);
        rowsLayout_->removeWidget(row);
        rowsLayout_->addWidget(row);
    }
    for (auto& [key, row] : rows_) {
        row->hide();
        row->deleteLater();
    }
    rows_ = std::move(kept);

    if (!device.isNew()) {
        const bool thumbWheel = choices.capabilities && choices.capabilities->thumbWheel;
        addRule_->update({device, choices.controls(), thumbWheel, note, footer});
    }
}

}  // namespace tindlewave
