#include "Settings/Views/GeneralTab.h"

#include <QCheckBox>
#include <QDir>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <chrono>
#include <tuple>

#include "Runtime/Permissions.h"
#include "Settings/Model/General/BuildInfo.h"
#include "Settings/Model/General/GeneralTexts.h"
#include "Settings/Model/SettingsModel.h"
#include "Settings/Model/General/Updates.h"
#include "Settings/Views/CheckBox.h"
#include "Settings/Views/ClockTime.h"
#include "Settings/Views/FormBlocks.h"
#include "Settings/Views/PlainText.h"
#include "Settings/Views/SettingsPage.h"
#include "Settings/Views/Symbols.h"
#include "Settings/Views/RefreshOncePerTurn.h"

namespace tindlewave {

namespace {
QWidget* column(std::initializer_list<QWidget*> widgets, int spacing) {
    auto* box = new QWidget;
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    for (auto* widget : widgets) layout->addWidget(widget, 0, Qt::AlignLeft);
    return box;
}

QWidget* step(int number, QWidget* content) {
    auto* box = new QWidget;
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    auto* label = plainLabel(QString("%1.").arg(number));
    label->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    row->addWidget(label, 0, Qt::AlignTop);
    row->addWidget(content, 1, Qt::AlignTop);
    return box;
}

void setColor(QLabel* label, const QColor& color) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}
}  // namespace

GeneralTab::GeneralTab(SettingsModel& model, GeneralActions actions, SettingsPage& page)
    : model_(model), actions_(std::move(actions)), page_(page) {
    auto* rows = page_.content();

    loginSwitch_ = new CheckBox("Open Tindlewave at login");
    connect(loginSwitch_, &QCheckBox::clicked, this, [this](bool on) { model_.setLoginItem(on); });
    // The desktop's login-items pane: there is none to open here.
    loginItems_ = new QPushButton("Open Login Items Settings");
    startup_ = new FormRow("Startup", QString(), column({loginSwitch_, loginItems_}, 6));
    rows->addWidget(startup_);
    rows->addWidget(new Divider);

    const auto howTo = GeneralTexts::howTo();
    auto* openSettings = new QPushButton(actionText(howTo.firstButton));
    connect(openSettings, &QPushButton::clicked, this, [this] {
        // There is no desktop pane to open: the guide's card tells what to do (over Linux devices,
        // the commands of the first step) for the first grant still missing, Accessibility first.
        const bool accessibilityMissing =
            model_.permissions().accessibility != PermissionState::Grant::granted;
        if (actions_.allow)
            actions_.allow(accessibilityMissing ? Permission::accessibility
                                                : Permission::inputMonitoring);
    });
    howToFirst_ = plainLabel(qText(howTo.first));
    auto* first = column({howToFirst_, openSettings}, 3);
    howToLast_ = plainLabel(qText(howTo.third));
    howTo_ = column({new GroupHeading("How to grant permissions"), step(1, first),
                     step(2, plainLabel(qText(howTo.second))), step(3, howToLast_)},
                    8);
    rows->addWidget(howTo_);
    accessibility_ = permissionRow(
        "Accessibility", "Lets the hyper key and smooth scrolling change keys and scrolls as they happen.",
        Permission::accessibility);
    inputMonitoring_ = permissionRow("Input Monitoring",
                                     "Lets Tindlewave set up the buttons on Logitech mice.",
                                     Permission::inputMonitoring);
    rows->addWidget(new Divider);

    const std::string path = model_.configURL();
    auto* pathLabel = plainLabel(qText(GeneralTexts::abbreviatedPath(path, QDir::homePath().toStdString())));
    pathLabel->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    pathLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    loadDetail_ = new Explanation({});
    auto* buttons = new QWidget;
    auto* buttonRow = new QHBoxLayout(buttons);
    buttonRow->setContentsMargins(0, 3, 0, 0);
    auto* reveal = new QPushButton("Show in Folder");
    auto* edit = new QPushButton("Open in Editor");
    buttonRow->addWidget(reveal);
    buttonRow->addWidget(edit);
    buttonRow->addStretch(1);
    connect(reveal, &QPushButton::clicked, this, [this, path] {
        if (actions_.reveal) actions_.reveal(path);
    });
    connect(edit, &QPushButton::clicked, this, [this, path] {
        if (actions_.open) actions_.open(path);
    });
    auto* config = new QWidget;
    auto* configColumn = new QVBoxLayout(config);
    configColumn->setContentsMargins(0, 0, 0, 0);
    configColumn->setSpacing(5);
    configColumn->addWidget(pathLabel);
    configColumn->addWidget(loadDetail_);
    configColumn->addWidget(buttons);
    config->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    rows->addWidget(new FormRow("Config file", std::nullopt, config));
    rows->addWidget(new Divider);

    auto* showLog = new QPushButton("Show Log");
    connect(showLog, &QPushButton::clicked, this, [this] {
        if (actions_.showLog) actions_.showLog();
    });
    rows->addWidget(new FormRow("Log",
                                QString("Every device connect, re-apply and settings change is logged. "
                                        "The log lists what Tindlewave did since it started."),
                                showLog));
    buildUpdates();

    observation_ = refreshOncePerTurn(model_, *this, [this] { refresh(); });
    refresh();
}

GeneralTab::~GeneralTab() = default;

GeneralTab::PermissionWidgets GeneralTab::permissionRow(const char* label, const char* detail,
                                                        Permission permission) {
    auto* box = new QWidget;
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    auto* mark = new QLabel;
    mark->setAccessibleName("Granted");
    auto* state = plainLabel({});
    auto* button = new QPushButton;
    row->setSpacing(4);
    row->addWidget(mark);
    row->addWidget(state);
    row->addSpacing(4);
    row->addWidget(button);
    row->addStretch(1);
    connect(button, &QPushButton::clicked, this, [this, permission] {
        const auto grant = permission == Permission::accessibility ? model_.permissions().accessibility
                                                                   : model_.permissions().inputMonitoring;
        // A granted row shows no button; one granted since the page was drawn asks nothing.
        if (grant != PermissionState::Grant::granted && actions_.allow) actions_.allow(permission);
    });
    auto* formRow = new FormRow(label, QString(detail), box);
    page_.content()->addWidget(formRow);
    return {formRow, mark, state, button};
}

void GeneralTab::buildUpdates() {
    Updates* updates = model_.updates();
    if (!updates || !updates->controller()) return;
    autoCheck_ = new CheckBox("Check for updates automatically");
    autoDownload_ = new CheckBox("Download and install them automatically");
    beta_ = new CheckBox("Include beta versions");
    checkNow_ = new QPushButton("Check Now");
    connect(autoCheck_, &QCheckBox::clicked, this, [updates](bool on) {
        if (auto* controller = updates->controller()) controller->setAutomaticallyChecks(on);
    });
    connect(autoDownload_, &QCheckBox::clicked, this, [updates](bool on) {
        if (auto* controller = updates->controller()) controller->setAutomaticallyDownloads(on);
    });
    connect(beta_, &QCheckBox::clicked, this, [updates](bool on) { updates->setBeta(on); });
    connect(checkNow_, &QPushButton::clicked, this, [updates] {
        if (auto* controller = updates->controller()) controller->checkForUpdates();
    });
    // A newer version found: said here, with its page a click away, whether or not a browser
    // opened it.
    newer_ = new QWidget;
    auto* newerRow = new QHBoxLayout(newer_);
    newerRow->setContentsMargins(0, 0, 0, 0);
    newerVersion_ = plainLabel(QString());
    downloadPage_ = new QPushButton("Open Download Page");
    newerRow->addWidget(newerVersion_);
    newerRow->addWidget(downloadPage_);
    connect(downloadPage_, &QPushButton::clicked, this, [this, updates] {
        if (updates->available() && actions_.open) actions_.open(updates->available()->page);
    });
    updatesDivider_ = new Divider;
    page_.content()->addWidget(updatesDivider_);
    updates_ = new FormRow("Updates", QString(),
                           column({autoCheck_, autoDownload_, beta_, checkNow_, newer_}, 6));
    page_.content()->addWidget(updates_);
    updatesObservation_ = updates->observe([this](UpdatesField) { refresh(); });
}

void GeneralTab::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    model_.refreshLoginItem();
}

void GeneralTab::refresh() {
    const auto login = model_.loginItem();
    {
        const QSignalBlocker blocker(loginSwitch_);
        loginSwitch_->setChecked(login != LoginItemState::off);
    }
    loginItems_->setVisible(login == LoginItemState::needsApproval);
    startup_->setDetail(qText(GeneralTexts::loginDetail(login, model_.loginItemError())));

    const auto permissions = model_.permissions();
    howTo_->setVisible(GeneralTexts::showsHowTo(permissions));
    const auto howTo = GeneralTexts::howTo(model_.permissionCause(Permission::inputMonitoring),
                                           model_.permissionCause(Permission::accessibility));
    howToFirst_->setText(qText(howTo.first));
    howToLast_->setText(qText(howTo.third));
    using Look = GeneralTexts::PermissionRow::Look;
    for (auto [widgets, permission, grant] :
         {std::tuple{&accessibility_, Permission::accessibility, permissions.accessibility},
          std::tuple{&inputMonitoring_, Permission::inputMonitoring, permissions.inputMonitoring}}) {
        const auto row = GeneralTexts::permissionRow(grant, model_.permissionCause(permission));
        widgets->state->setText(qText(row.state));
        const QColor color = row.look == Look::warning   ? QColor(0xE0, 0x7B, 0x00)
                             : row.look == Look::granted ? QColor(0x1E, 0x9E, 0x3E)
                                                         : secondaryColor(*this);
        setColor(widgets->state, color);
        widgets->mark->setVisible(row.look == Look::granted);
        if (row.look == Look::granted)
            widgets->mark->setPixmap(symbolPixmap(Symbol::checkmark, 14, color, devicePixelRatioF()));
        widgets->button->setText(actionText(row.button));
        widgets->button->setVisible(!row.button.empty());
    }

    loadDetail_->setText(qText(GeneralTexts::loadDetail(model_.snapshot(), model_.loadedAt(), clockTime) +
                               " This window edits the same file."));

    if (updates_) {
        Updates& updates = *model_.updates();
        for (auto [box, on] : {std::pair{autoCheck_, updates.automaticallyChecks()},
                               std::pair{autoDownload_, updates.automaticallyDownloads()},
                               std::pair{beta_, updates.beta()}}) {
            const QSignalBlocker blocker(box);
            box->setChecked(on);
        }
        autoDownload_->setEnabled(updates.allowsAutomaticDownloads());
        checkNow_->setEnabled(updates.canCheck());
        newer_->setVisible(updates.available().has_value());
        if (const auto& newer = updates.available()) {
            newerVersion_->setText(qText("Tindlewave " + newer->version + " is out."));
            downloadPage_->setToolTip(qText(newer->page));
        }
        updates_->setDetail(qText(GeneralTexts::updatesDetail(
            Updates::version(), updates.automaticallyChecks(),
            GeneralTexts::hostOf(updateFeedURL().value_or("")), updates.lastCheck(),
            std::chrono::system_clock::now())));
    }
}

}  // namespace tindlewave
