#include "Shell/PermissionGuide.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QPushButton>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextDocument>
#include <QDrag>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <deque>
#include <filesystem>
#include <memory>

#include "App/PermissionGuideFollow.h"
#include "Runtime/Permissions.h"
#include "Settings/Model/Window/SnapshotShots.h"
#include "Settings/Views/FormBlocks.h"
#include "Settings/Views/PlainText.h"
#include "Settings/Views/Symbols.h"
#include "Settings/Views/WindowPicture.h"

namespace tindlewave {

namespace {
// The program's icon; dragging it offers the program's file as a copy.
class DragSource final : public QLabel {
  public:
    DragSource() {
        setFixedSize(44, 44);
        setAccessibleName("Tindlewave");
        setCursor(Qt::OpenHandCursor);
        setAlignment(Qt::AlignCenter);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x2F, 0x7C, 0xF6));
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 10, 10);
        painter.drawPixmap(QRect(8, 8, 28, 28), symbolPixmap(Symbol::cursorRays, 28, Qt::white, devicePixelRatioF()));
    }
    void mousePressEvent(QMouseEvent* event) override { event->accept(); }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (!(event->buttons() & Qt::LeftButton)) return;
        auto* mime = new QMimeData;
        mime->setUrls({QUrl::fromLocalFile(QString::fromStdString(
            std::filesystem::read_symlink("/proc/self/exe", ignored_).string()))});
        auto* drag = new QDrag(this);
        drag->setMimeData(mime);
        drag->setPixmap(grab());
        drag->exec(Qt::CopyAction);
    }

  private:
    std::error_code ignored_;
};

QString permissionName(Permission permission) {
    return permission == Permission::accessibility ? "Accessibility" : "Input Monitoring";
}
}  // namespace

GuideCard::GuideCard(Permission permission, std::function<void()> close, std::optional<RuleGuide> rules,
                     QWidget* parent)
    : QWidget(parent) {
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_TranslucentBackground);
    auto closeCard = std::make_shared<std::function<void()>>(std::move(close));
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    QObject::connect(escape, &QShortcut::activated, this, [closeCard] {
        if (*closeCard) (*closeCard)();
    });
    setFixedWidth(rules ? commandsCardWidth : cardWidth);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 14, 14, 14);
    row->setSpacing(14);

    auto* icon = new QWidget;
    auto* iconColumn = new QVBoxLayout(icon);
    iconColumn->setContentsMargins(0, 0, 0, 0);
    iconColumn->setSpacing(2);
    iconColumn->addWidget(new DragSource, 0, Qt::AlignHCenter);
    auto* caption = plainLabel("Tindlewave");
    QFont small = caption->font();
    small.setPointSizeF(small.pointSizeF() * 0.8);
    caption->setFont(small);
    iconColumn->addWidget(caption, 0, Qt::AlignHCenter);
    row->addWidget(icon, 0, Qt::AlignVCenter);

    auto* text = new QWidget;
    auto* textColumn = new QVBoxLayout(text);
    textColumn->setContentsMargins(0, 0, 0, 0);
    textColumn->setSpacing(3);
    QPushButton* copy = nullptr;
    auto* headline = plainLabel(rules ? "Allow Tindlewave to use your mice and keyboards"
                                         : "\u2191 Drag Tindlewave into the list above");
    QFont bold = headline->font();
    bold.setBold(true);
    headline->setFont(bold);
    textColumn->addWidget(headline);
    if (rules) {
        textColumn->addWidget(new Explanation(qText(rules->text)));
        // One command a line, as typed in a terminal: never wrapped, scrolled sideways when long
        // (a path to the rule can be), and as tall as the commands.
        auto* lines = new QPlainTextEdit(qText(rules->commands));
        const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        lines->setFont(fixed);
        lines->setReadOnly(true);
        lines->setLineWrapMode(QPlainTextEdit::NoWrap);
        lines->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        const int margins = 2 * (lines->frameWidth() + int(lines->document()->documentMargin()));
        lines->setFixedHeight(lines->document()->blockCount() * QFontMetrics(fixed).lineSpacing() + margins +
                              lines->horizontalScrollBar()->sizeHint().height());
        textColumn->addWidget(lines);
        copy = new QPushButton("Copy Commands");
        QObject::connect(copy, &QPushButton::clicked, this, [text = qText(rules->commands)] {
            if (auto* clipboard = QGuiApplication::clipboard()) clipboard->setText(text);
        });
        textColumn->addWidget(copy, 0, Qt::AlignLeft);
    } else {
        textColumn->addWidget(
            new Explanation("This allows " + permissionName(permission) + ". Then check that its switch is on."));
    }
    row->addWidget(text, 1, Qt::AlignVCenter);

    auto* closeButton = new QToolButton;
    closeButton->setAutoRaise(true);
    closeButton->setToolTip("Close");
    closeButton->setAccessibleName("Close");
    closeButton->setText("\u2715");
    QObject::connect(closeButton, &QToolButton::clicked, this, [closeCard] {
        if (*closeCard) (*closeCard)();
    });
    row->addWidget(closeButton, 0, Qt::AlignVCenter);
    // The focus it starts with once it is active: what the card is for.
    (copy ? static_cast<QWidget*>(copy) : closeButton)->setFocus(Qt::OtherFocusReason);
    adjustSize();
}

void GuideCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor border = palette().color(QPalette::WindowText);
    border.setAlphaF(0.15f);
    painter.setPen(QPen(border, 1));
    painter.setBrush(palette().color(QPalette::Window));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 16, 16);
}

PermissionGuide::PermissionGuide(const Permissions& permissions, std::function<RuleGuide()> rules)
    : permissions_(permissions), rules_(std::move(rules)) {}

PermissionGuide::~PermissionGuide() { close(); }

void PermissionGuide::show(Permission permission) {
    // The user asked for it: the card comes up active, and gives the focus back when it closes.
    QPointer<QWidget> cameFrom = QApplication::activeWindow();
    if (cameFrom && cameFrom == card_) cameFrom = cameFrom_;
    close();
    cameFrom_ = cameFrom;
    permission_ = permission;
    card_ = new GuideCard(permission, [this] { close(); },
                          rules_ ? std::optional<RuleGuide>(rules_()) : std::nullopt);
    card_->setAttribute(Qt::WA_DeleteOnClose);
    timer_ = new QTimer(card_);
    timer_->setInterval(int(GuideFollow::interval * 1000));
    QObject::connect(timer_, &QTimer::timeout, card_, [this] { follow(); });
    started_.start();
    timer_->start();
    follow();
    if (card_) card_->activateWindow();
}

void PermissionGuide::close() {
    timer_ = nullptr;  // owned by the card
    const bool wasActive = card_ && card_->isActiveWindow();
    if (card_) card_->close();
    card_ = nullptr;
    if (wasActive && cameFrom_ && cameFrom_->isVisible()) cameFrom_->activateWindow();
    cameFrom_ = nullptr;
}

void PermissionGuide::follow() {
    if (!card_) return;
    const auto grants = permissions_.current();
    const auto grant = permission_ == Permission::accessibility ? grants.accessibility : grants.inputMonitoring;
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1440, 900);
    GuideFollow::Input input{
        // The commands' card waits for the user to run them: no time limit.
        .elapsed = rules_ ? 0.0 : double(started_.elapsed()) / 1000,
        .granted = grant == PermissionState::Grant::granted,
        .settingsRunning = false,  // the desktop has no settings application whose window we could follow
        .settingsWindow = std::nullopt,
        .fallback = {double(area.x()), double(area.y()), double(area.width()), double(area.height())},
    };
    const auto output = GuideFollow::step(input, card_->width(), card_->height());
    if (std::holds_alternative<GuideFollow::Close>(output)) {
        close();
    } else if (const auto* shown = std::get_if<GuideFollow::Show>(&output)) {
        const QPoint at(qRound(shown->at.x), qRound(shown->at.y));
        if (card_->pos() != at) card_->move(at);
        if (!card_->isVisible()) card_->show();
    } else {
        card_->hide();
    }
}

void PermissionGuide::snapshot(const std::string& folder, std::function<void()> done) {
    struct Picture {
        Permission permission;
        std::string path;
        bool dark;
    };
    auto pictures = std::make_shared<std::deque<Picture>>();
    for (const SnapshotPass& pass : SnapshotNames::passes)
        for (auto [permission, name] : {std::pair{Permission::accessibility, "accessibility"},
                                        std::pair{Permission::inputMonitoring, "input-monitoring"}})
            pictures->push_back({permission,
                                 (std::filesystem::path(folder) /
                                  ("permission-guide-" + std::string(name) + std::string(pass.suffix) + ".png"))
                                     .string(),
                                 pass.dark});
    // One card at a time, off every screen, pictured once it has settled.
    // The card as this world shows it: over real devices, with the rule's commands.
    const std::optional<RuleGuide> rules = rules_ ? std::optional<RuleGuide>(rules_()) : std::nullopt;
    auto next = std::make_shared<std::function<void()>>();
    *next = [pictures, next, rules, done = std::move(done)] {
        if (pictures->empty()) {
            *next = nullptr;  // ends the cycle of the shared step
            if (done) done();
            return;
        }
        const Picture picture = pictures->front();
        pictures->pop_front();
        auto* card = new GuideCard(picture.permission, [] {}, rules);
        card->setAttribute(Qt::WA_DontShowOnScreen);
        card->setAttribute(Qt::WA_ShowWithoutActivating);
        card->setPalette(picture.dark ? darkPalette() : lightPalette());
        card->move(-20000, -20000);
        card->show();
        QTimer::singleShot(500, card, [card, picture, next] {
            writeWindowPNG(*card, picture.path);
            card->deleteLater();
            auto step = *next;
            step();
        });
    };
    auto first = *next;
    first();
}

}  // namespace tindlewave
