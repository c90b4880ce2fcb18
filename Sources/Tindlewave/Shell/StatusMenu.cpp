#include "Shell/StatusMenu.h"

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QScreen>
#include <QStyleOptionMenuItem>
#include <QSystemTrayIcon>
#include <QToolBar>
#include <QToolButton>

#include "App/AppModel.h"
#include "Runtime/Executors/Actors.h"
#include "Settings/Model/SettingsModel.h"
#include "Settings/Model/General/Updates.h"
#include "Settings/Views/ClockTime.h"
#include "Settings/Views/FormBlocks.h"
#include "Settings/Views/PlainText.h"
#include "Settings/Views/Symbols.h"

namespace tindlewave {

namespace {
const QColor attentionOrange(0xFF, 0x95, 0x00);

// The property that marks an information row, holding its right column (empty for none), and
// the one that marks a row in the secondary colour throughout (a notice's detail).
constexpr const char* infoRightProperty = "tindlewaveInfoRight";
constexpr const char* infoSecondaryProperty = "tindlewaveInfoSecondary";

// The plain texts of a row's two columns (before "&" is doubled), kept for fitting it to a screen.
constexpr const char* plainLeftProperty = "tindlewavePlainLeft";
constexpr const char* plainRightProperty = "tindlewavePlainRight";

void paintTexts(QPalette& palette, const QColor& color) {
    for (auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
        palette.setColor(QPalette::Active, role, color);
}

// A menu whose information rows (the state, each device) read as text, not as commands that
// cannot be chosen: they stay disabled, but their left column is drawn in the text colour and
// their right one in the secondary colour, where the style would grey both.
class InfoRowsMenu final : public QMenu {
  protected:
    void initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const override {
        QMenu::initStyleOption(option, action);
        if (!action->property(infoRightProperty).isValid()) return;
        option->state |= QStyle::State_Enabled;
        option->state &= ~QStyle::State_Selected;
        option->palette.setCurrentColorGroup(QPalette::Active);
        if (action->property(infoSecondaryProperty).toBool()) paintTexts(option->palette, secondaryColor(*this));
        // The right column is drawn on its own; its room stays, since the menu measures the
        // action's whole text.
        option->text = option->text.section('\t', 0, 0);
    }

    void paintEvent(QPaintEvent* event) override {
        QMenu::paintEvent(event);
        QPainter painter(this);
        const QColor secondary = secondaryColor(*this);
        for (QAction* action : actions()) {
            const QString right = action->property(infoRightProperty).toString();
            if (right.isEmpty()) continue;
            QStyleOptionMenuItem option;
            initStyleOption(&option, action);
            option.rect = actionGeometry(action);
            if (!event->rect().intersects(option.rect)) continue;
            option.text = '\t' + right;  // the style's shortcut column, flush right
            paintTexts(option.palette, secondary);
            painter.save();
            painter.setClipRect(option.rect);
            style()->drawControl(QStyle::CE_MenuItem, &option, &painter, this);
            painter.restore();
        }
    }
};
}  // namespace

QIcon menuBarIcon(const QColor& color) {
    return symbolIcon(Symbol::cursorRays, color);
}

StatusMenu::StatusMenu(AppModel& model, bool useTray, std::function<void()> openSettings,
                       std::function<void()> quit, LogStore& log)
    : model_(model),
      openSettings_(std::move(openSettings)),
      quit_(std::move(quit)),
      menu_(std::make_unique<InfoRowsMenu>()),
      presentation_(MenuPresentation::make(std::nullopt, clockTime)),
      log_(std::string(bundleIdentifier), "menu", log) {
    menu_->setMinimumWidth(280);
    menu_->setToolTipsVisible(true);  // a row cut short shows its whole text
    connect(menu_.get(), &QMenu::aboutToShow, this, [this] { rebuild(); });
    if (useTray) moveToTray();
    updateIcon();
    rebuild();
}

StatusMenu::~StatusMenu() = default;

void StatusMenu::moveToTray() {
    if (!tray_) {
        tray_ = new QSystemTrayIcon(this);
        tray_->setContextMenu(menu_.get());
        connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger) menu_->popup(QCursor::pos());
        });
    }
    if (watched_) watched_->removeEventFilter(this);
    watched_ = nullptr;
    for (QAction* placed : {buttonAction_.data(), spacerAction_.data()}) {
        if (!placed) continue;
        if (auto* bar = qobject_cast<QToolBar*>(placed->parent())) bar->removeAction(placed);
        placed->deleteLater();  // its widget with it
    }
    button_ = nullptr;
    updateIcon();
    tray_->show();
}

QToolButton* StatusMenu::button() const {
    return button_.data();
}

void StatusMenu::hangFrom(QToolBar* bar) {
    if (tray_) {
        tray_->hide();
        tray_->deleteLater();
        tray_ = nullptr;
    }
    if (button_) return;
    auto* spacer = new QWidget;
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    spacerAction_ = bar->addWidget(spacer);
    button_ = new QToolButton;
    button_->setText("Tindlewave");
    button_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button_->setPopupMode(QToolButton::InstantPopup);
    button_->setMenu(menu_.get());
    buttonAction_ = bar->addWidget(button_);
    watched_ = button_.data();
    watched_->installEventFilter(this);
    updateIcon();
}

bool StatusMenu::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::PaletteChange && watched == watched_) updateIcon();
    return QObject::eventFilter(watched, event);
}

QString StatusMenu::accessibilityLabel() const {
    return presentation_.needsAttention ? "Tindlewave, needs attention" : "Tindlewave";
}

void StatusMenu::updateIcon() {
    if (tray_) {
        const QColor color = presentation_.needsAttention
                                 ? attentionOrange
                                 : QApplication::palette().color(QPalette::WindowText);
        tray_->setIcon(menuBarIcon(color));
        tray_->setToolTip(accessibilityLabel());
    }
    if (button_) {
        const QColor color = presentation_.needsAttention ? attentionOrange
                                                          : button_->palette().color(QPalette::WindowText);
        button_->setIcon(menuBarIcon(color));
        button_->setToolTip(accessibilityLabel());
        button_->setAccessibleName(accessibilityLabel());
    }
}

void StatusMenu::show(const EngineStatus& status) {
    auto presentation = MenuPresentation::make(status, clockTime);
    if (presentation != presentation_) log_.log(LogLevel::defaultLevel, presentation.summary());
    presentation_ = std::move(presentation);
    updateIcon();
    // Putting a menu's rows in costs Qt time in the square of their number (a settings file of
    // many devices has as many rows): the same items again are left as they are, so that a status
    // that changes nothing the menu shows (the quit's, say) never keeps the main thread busy.
    auto items = buildItems();
    if (items != placed_) place(std::move(items));
}

void StatusMenu::rebuild() {
    place(buildItems());
}

std::vector<MenuItem> StatusMenu::buildItems() const {
    Updates& updates = model_.updates();
    const MenuState state{
        .foundUpdate = updates.found(),
        .updatesConfigured = updates.controller() != nullptr,
        .canCheckForUpdates = updates.canCheck(),
        .hyperKeyEnabled = model_.hyperKeyEnabled(),
        .editable = model_.settings().editable(),
    };
    return MenuItems::build(presentation_, state);
}

void StatusMenu::place(std::vector<MenuItem> items) {
    // The old actions go later: one of them may be the one being triggered right now.
    for (QAction* old : menu_->actions()) {
        menu_->removeAction(old);
        old->deleteLater();
    }
    placed_ = std::move(items);
    for (const MenuItem& item : placed_) {
        switch (item.kind) {
        case MenuItem::Kind::separator:
            menu_->addSeparator();
            break;
        case MenuItem::Kind::section: {
            // A disabled bold row reads the same in every style and over a tray's D-Bus menu.
            auto* heading = menu_->addAction(actionText(item.title));
            heading->setEnabled(false);
            QFont small = heading->font();
            small.setBold(true);
            small.setPointSizeF(small.pointSizeF() * 0.85);
            heading->setFont(small);
            break;
        }
        case MenuItem::Kind::info: {
            QString text = actionText(item.title);
            if (item.indented) text = QStringLiteral("    ") + text;
            // Qt draws what follows a tab right-aligned, in the shortcut column.
            if (item.right) text += '\t' + actionText(*item.right);
            auto* row = menu_->addAction(text);
            row->setProperty(plainLeftProperty, QString::fromStdString(item.title));
            if (item.right)
                row->setProperty(plainRightProperty, QString::fromStdString(*item.right));
            row->setEnabled(false);
            row->setProperty(infoRightProperty, item.right ? actionText(*item.right) : QString());
            row->setProperty(infoSecondaryProperty, item.indented);
            if (item.bold) {
                QFont bold = row->font();
                bold.setBold(true);
                row->setFont(bold);
            }
            break;
        }
        case MenuItem::Kind::action: {
            auto* action = menu_->addAction(actionText(item.title));
            action->setProperty(plainLeftProperty, QString::fromStdString(item.title));
            action->setEnabled(item.enabled);
            if (item.checked) {
                action->setCheckable(true);
                action->setChecked(*item.checked);
            }
            if (item.shortcut) action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key(QChar(item.shortcut).toUpper().unicode())));
            // A switch shows what it was built with until a status says otherwise (Qt flips it
            // when chosen), so the menu always holds the items last placed.
            connect(action, &QAction::triggered, this,
                    [this, action, checked = item.checked, command = item.command] {
                        if (checked) action->setChecked(*checked);
                        run(command);
                    });
            break;
        }
        }
    }
    fitToScreen();
}

void StatusMenu::fitToScreen() {
    // The menu opens where the user clicked (the tray icon, the window's button).
    const QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen) screen = menu_->screen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    // Half the screen's free width (but 480 points where it has them) is room enough for a menu;
    // past that, a long device name, error or state is cut short.
    const int widest = std::max(area.width() / 2, std::min(area.width(), 480));
    const int menuWidth = menu_->sizeHint().width();
    if (menuWidth <= widest) return;
    // The columns' widest texts as the menu measures them (each row in its own font, the right
    // column in the menu's); the rest of the menu's width is its margins, marks and spacing.
    const QFontMetrics menuMetrics(menu_->font());
    int left = 0, right = 0;
    for (QAction* row : menu_->actions()) {
        const QFontMetrics metrics(row->font().resolve(menu_->font()));
        left = std::max(left, metrics.horizontalAdvance(row->text().section('\t', 0, 0)));
        right = std::max(right, menuMetrics.horizontalAdvance(row->text().section('\t', 1)));
        if (!row->shortcut().isEmpty())
            right = std::max(right, menuMetrics.horizontalAdvance(
                                        row->shortcut().toString(QKeySequence::NativeText)));
    }
    // The room both columns have; the style's spacing differs between rows with a right column
    // and without, and texts are cut at whole characters, so what is still too wide after a pass
    // is taken off the room for another.
    int room = widest - std::max(0, menuWidth - left - right);
    for (int pass = 0; pass < 8 && room > 0; ++pass) {
        // The right column (states, shortcuts) keeps what it needs up to two fifths of the room;
        // the left one has the rest.
        const int rightRoom = std::min(right, std::max(room - left, room * 2 / 5));
        const int leftRoom = room - rightRoom;
        for (QAction* row : menu_->actions()) {
            const QString plainLeft = row->property(plainLeftProperty).toString();
            const QString plainRight = row->property(plainRightProperty).toString();
            if (plainLeft.isEmpty() && plainRight.isEmpty()) continue;
            const QFontMetrics metrics(row->font().resolve(menu_->font()));
            const QString indent =
                row->property(infoSecondaryProperty).toBool() ? QStringLiteral("    ") : QString();
            const QString shownLeft = metrics.elidedText(
                plainLeft, Qt::ElideRight, leftRoom - metrics.horizontalAdvance(indent));
            const QString shownRight =
                menuMetrics.elidedText(plainRight, Qt::ElideRight, rightRoom);
            QString text = indent + actionText(shownLeft);
            if (!plainRight.isEmpty()) {
                text += '\t' + actionText(shownRight);
                row->setProperty(infoRightProperty, actionText(shownRight));
            }
            if (text != row->text()) row->setText(text);
            QString whole;  // the tool tip, for a row cut short
            if (shownLeft != plainLeft || shownRight != plainRight)
                whole = plainRight.isEmpty() ? plainLeft : plainLeft + '\n' + plainRight;
            row->setToolTip(whole);
        }
        const int excess = menu_->sizeHint().width() - widest;
        if (excess <= 0) break;
        room -= excess;
    }
}

void StatusMenu::run(const MenuCommand& command) {
    if (auto* fix = as<MenuCommand::Fix>(command)) {
        model_.fix(fix->fix);
    } else if (as<MenuCommand::InstallUpdate>(command) || as<MenuCommand::CheckForUpdates>(command)) {
        if (auto* controller = model_.updates().controller()) controller->checkForUpdates();
    } else if (as<MenuCommand::Reapply>(command)) {
        model_.reapplyAll();
    } else if (auto* hyper = as<MenuCommand::SetHyperKey>(command)) {
        // Checked again when chosen: the file may have broken since the menu was built.
        SettingsModel& settings = model_.settings();
        if (settings.editable()) settings.send(SettingsEdit::hyperEnabled(hyper->enabled));
    } else if (auto* pause = as<MenuCommand::SetPaused>(command)) {
        model_.setPaused(pause->paused);
    } else if (as<MenuCommand::OpenSettings>(command)) {
        if (openSettings_) openSettings_();
    } else if (as<MenuCommand::OpenConfig>(command)) {
        model_.fix(MenuPresentation::Fix::openConfig());
    } else if (as<MenuCommand::Quit>(command)) {
        if (quit_) quit_();
    }
}

}  // namespace tindlewave
