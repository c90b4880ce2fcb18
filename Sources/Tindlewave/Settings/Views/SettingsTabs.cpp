#include "Settings/Views/SettingsTabs.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QMoveEvent>
#include <QScreen>
#include <QShortcut>
#include <QStackedWidget>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include "Runtime/Stores/Defaults.h"
#include "Runtime/Executors/WorkPool.h"
#include "Settings/Model/Window/PageFit.h"
#include "Settings/Views/SettingsPage.h"
#include "Settings/Views/Symbols.h"

namespace tindlewave {

namespace {
Symbol tabSymbol(SettingsTab tab) {
    switch (tab) {
    case SettingsTab::general: return Symbol::gear;
    case SettingsTab::hyperKey: return Symbol::command;
    case SettingsTab::buttons: return Symbol::mouse;
    case SettingsTab::scrolling: return Symbol::upDown;
    case SettingsTab::devices: return Symbol::list;
    }
    return Symbol::gear;
}

std::size_t slot(SettingsTab tab) {
    return static_cast<std::size_t>(tab);
}

ScreenRect screenRect(const QRect& rect) {
    return {double(rect.x()), double(rect.y()), double(rect.width()), double(rect.height())};
}

QRect qRect(const ScreenRect& rect) {
    return QRect(qRound(rect.x), qRound(rect.y), qRound(rect.width), qRound(rect.height));
}
}  // namespace

struct SettingsTabs::Target {
    WindowFit fit;
    FrameMargins margins;
};

SettingsTabs::SettingsTabs(SettingsTab selected, const PageFactory& makePage, Defaults* defaults,
                           QWidget* parent, WorkPool* writer)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::WindowMinimizeButtonHint),
      makePage_(makePage), defaults_(defaults), selected_(selected), toolBar_(new QToolBar(this)),
      actions_(new QActionGroup(this)), stack_(new QStackedWidget(this)),
      nextFit_(new QTimer(this)), animation_(new QVariantAnimation(this)), writer_(writer),
      frameSettled_(new QTimer(this)),
      frameWritten_(defaults ? defaults->string(frameKey).value_or("") : std::string()) {
    setFocusPolicy(Qt::ClickFocus);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    toolBar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolBar_->setMovable(false);
    toolBar_->setFloatable(false);
    toolBar_->setIconSize(QSize(24, 24));
    layout->addWidget(toolBar_);
    layout->addWidget(stack_, 1);

    for (SettingsTab tab : allCases<SettingsTab>()) {
        fits_[slot(tab)] = std::make_unique<PageFit>([this, tab](bool replaced) { resized(tab, replaced); });
        // Only the page shown first is made now; the others when first needed.
        made_[slot(tab)] = tab == selected;
        stack_->addWidget(tab == selected ? makePage_(tab, *fits_[slot(tab)]) : new QWidget);
        auto* action = toolBar_->addAction(tabTitle(tab));
        action->setCheckable(true);
        action->setData(int(slot(tab)));
        actions_->addAction(action);
        connect(action, &QAction::triggered, this, [this, tab] { select(tab); });
        pageButton(tab)->installEventFilter(this);
    }
    // As a desktop's tabbed windows switch their tabs, whichever control has the focus.
    auto* next = new QShortcut(this);
    next->setKeys({QKeySequence(Qt::CTRL | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_PageDown)});
    connect(next, &QShortcut::activated, this, [this] { selectBeside(1); });
    auto* previous = new QShortcut(this);
    previous->setKeys({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab),
                       QKeySequence(Qt::CTRL | Qt::Key_PageUp)});
    connect(previous, &QShortcut::activated, this, [this] { selectBeside(-1); });
    tintTabIcons();
    actions_->setExclusive(true);
    actions_->actions()[int(slot(selected))]->setChecked(true);
    stack_->setCurrentIndex(int(slot(selected)));
    setWindowTitle(QString::fromStdString(windowTitleFor(selected)));
    takeTabStop();

    frameSettled_->setSingleShot(true);
    frameSettled_->setInterval(frameSettle);
    connect(frameSettled_, &QTimer::timeout, this, [this] { writeFrame(false); });
    nextFit_->setSingleShot(true);
    nextFit_->setInterval(0);
    connect(nextFit_, &QTimer::timeout, this, [this] { fitWindow(true); });
    animation_->setDuration(180);
    animation_->setEasingCurve(QEasingCurve::InOutQuad);
    connect(animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        applyFrame(screenRect(value.toRect()));
    });
    connect(animation_, &QVariantAnimation::finished, this, [this] {
        const auto frame = screenRect(animation_->endValue().toRect());
        if (machine_.animationEnded(frame)) setPageShown(selected_, true);
        saveFrame();
    });

    // The saved frame's position stays; every fit sets the size.
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    resize(SettingsPage::pageWidth, 400);
    if (auto saved = savedFrame(); saved && available.intersects(*saved)) move(saved->topLeft());
    else move(available.center() - QPoint(SettingsPage::pageWidth / 2, 200));
}

SettingsTabs::~SettingsTabs() {
    if (writing_.valid()) writing_.wait();  // the write uses the defaults, which may go next
}

void SettingsTabs::tintTabIcons() {
    const QColor color = palette().color(QPalette::WindowText);
    for (QAction* action : actions_->actions())
        action->setIcon(symbolIcon(tabSymbol(SettingsTab(action->data().toInt())), color));
}

void SettingsTabs::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) tintTabIcons();
}

QWidget* SettingsTabs::page(SettingsTab tab) {
    const int index = int(slot(tab));
    if (!made_[std::size_t(index)]) {
        made_[std::size_t(index)] = true;
        QWidget* placeholder = stack_->widget(index);
        stack_->insertWidget(index, makePage_(tab, *fits_[std::size_t(index)]));
        stack_->removeWidget(placeholder);
        delete placeholder;
    }
    return stack_->widget(index);
}

bool SettingsTabs::isPageMade(SettingsTab tab) const {
    return made_[slot(tab)];
}

PageFit& SettingsTabs::fit(SettingsTab tab) const {
    return *fits_[slot(tab)];
}

bool SettingsTabs::isPageShown(SettingsTab tab) const {
    return stack_->widget(int(slot(tab)))->graphicsEffect() == nullptr;
}

bool SettingsTabs::isAnimating() const {
    return animation_->state() == QAbstractAnimation::Running;
}

void SettingsTabs::setPageShown(SettingsTab tab, bool shown) {
    // Hidden by painting nothing, so the page keeps its place and size in the layout.
    QWidget* widget = page(tab);
    if (shown) {
        widget->setGraphicsEffect(nullptr);
    } else if (!widget->graphicsEffect()) {
        auto* effect = new QGraphicsOpacityEffect(widget);
        effect->setOpacity(0);
        widget->setGraphicsEffect(effect);
    }
}

void SettingsTabs::select(SettingsTab tab) {
    // Nothing keeps the focus, unless the page was chosen from the page buttons: there it stays.
    // Let go of before the page goes, which would hand it to the next control.
    QWidget* focused = focusWidget();
    const bool onPageButton = focused && focused == pageButton(selected_);
    if (focused && focused != this && !onPageButton) focused->clearFocus();
    if (tab != selected_) {
        // The incoming page appears only once the window has its size.
        setPageShown(tab, !isVisible());
        selected_ = tab;
        actions_->actions()[int(slot(tab))]->setChecked(true);
        stack_->setCurrentIndex(int(slot(tab)));
        setWindowTitle(QString::fromStdString(windowTitleFor(tab)));
        takeTabStop();
    }
    if (onPageButton) pageButton(tab)->setFocus(Qt::TabFocusReason);
    if (onSelected) onSelected(tab);
    if (auto* settingsPage = dynamic_cast<SettingsPage*>(page(tab))) settingsPage->measure();
    fitSoon();
}

void SettingsTabs::selectBeside(int steps) {
    const int count = int(allCases<SettingsTab>().size());
    select(SettingsTab(((int(slot(selected_)) + steps) % count + count) % count));
    // As a tab bar does: the focus that the switch left with no control goes to the page's button,
    // drawn as the keyboard's focus is.
    if (QWidget* focused = focusWidget(); !focused || focused == this) {
        setAttribute(Qt::WA_KeyboardFocusChange);
        pageButton(selected_)->setFocus(Qt::TabFocusReason);
    }
}

QWidget* SettingsTabs::pageButton(SettingsTab tab) const {
    return toolBar_->widgetForAction(actions_->actions()[int(slot(tab))]);
}

// One stop in the Tab order for the row of page buttons: the selected page's.
void SettingsTabs::takeTabStop() {
    for (SettingsTab tab : allCases<SettingsTab>())
        pageButton(tab)->setFocusPolicy(tab == selected_ ? Qt::TabFocus : Qt::NoFocus);
}

bool SettingsTabs::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || watched != pageButton(selected_)) return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() & ~Qt::KeypadModifier) return QWidget::eventFilter(watched, event);
    const bool reversed = layoutDirection() == Qt::RightToLeft;
    switch (key->key()) {
    case Qt::Key_Left: selectBeside(reversed ? 1 : -1); return true;
    case Qt::Key_Right: selectBeside(reversed ? -1 : 1); return true;
    case Qt::Key_Up: selectBeside(-1); return true;
    case Qt::Key_Down: selectBeside(1); return true;
    case Qt::Key_Home: selectBeside(-int(slot(selected_))); return true;
    case Qt::Key_End: selectBeside(int(allCases<SettingsTab>().size()) - 1 - int(slot(selected_))); return true;
    case Qt::Key_Return:
    case Qt::Key_Enter: select(selected_); return true;
    default: return QWidget::eventFilter(watched, event);
    }
}

void SettingsTabs::resized(SettingsTab tab, bool replaced) {
    if (tab != selected_) return;
    if (replaced && isVisible() && fit(tab).size()) {
        const auto goal = target();
        if (WindowFitMachine::hidesBeforeGrowing(true, true, frameGeometry().height(),
                                                 goal.fit.frame.height))
            setPageShown(tab, false);
    }
    fitSoon();
}

void SettingsTabs::fitSoon() {
    if (machine_.requestFit(isVisible())) nextFit_->start();
}

FrameMargins SettingsTabs::decoration() const {
    const QRect frame = frameGeometry();
    const QRect inner = geometry();
    return {double(inner.left() - frame.left()), double(inner.top() - frame.top()),
            double(frame.right() - inner.right()), double(frame.bottom() - inner.bottom())};
}

void SettingsTabs::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    // An X11 window manager puts its frame around the window only after it is shown, moving it:
    // a window fitted without the frame runs below the screen by its title bar until fitted again.
    if (isVisible() && decoration() != fittedDecoration_) fitSoon();
}

SettingsTabs::Target SettingsTabs::target() const {
    const QRect frame = frameGeometry();
    FrameMargins margins = decoration();
    // The tool bar counts as part of the window's frame: the page's size is the content.
    margins.top += toolBar_->sizeHint().height();
    std::optional<ScreenRect> available;
    if (QScreen* screen = this->screen()) available = screenRect(screen->availableGeometry());
    const auto size = fit(selected_).size().value_or(ContentSize{SettingsPage::pageWidth, 0});
    const QWidget* shown = stack_->widget(int(slot(selected_)));
    const double pageWidth = shown->width() > 0 ? shown->width() : size.width;
    auto result = WindowFit::target({pageWidth, size.height}, screenRect(frame), margins, available);
    return {result, margins};
}

void SettingsTabs::fitWindow(bool animated) {
    nextFit_->stop();
    if (auto* settingsPage = dynamic_cast<SettingsPage*>(page(selected_))) settingsPage->measure();
    PageFit& pageFit = fit(selected_);
    if (!pageFit.size()) {
        machine_.skipped();
        return;
    }
    fittedDecoration_ = decoration();
    auto goal = target();
    if (goal.fit.scrolls != pageFit.scrolls()) {
        pageFit.setScrolls(goal.fit.scrolls);  // the page widens by its scroll bar
        goal = target();
    }
    const ScreenRect current = screenRect(frameGeometry());
    switch (machine_.fit(animated, current, goal.fit.frame)) {
    case WindowFitMachine::Step::none:
        return;
    case WindowFitMachine::Step::animate:
        animation_->stop();
        animation_->setStartValue(qRect(current));
        animation_->setEndValue(qRect(goal.fit.frame));
        animation_->start();
        return;
    case WindowFitMachine::Step::jump:
        animation_->stop();
        applyFrame(goal.fit.frame);
        setPageShown(selected_, true);
        saveFrame();
        return;
    }
}

void SettingsTabs::applyFrame(const ScreenRect& frame) {
    const QRect outer = frameGeometry();
    const QRect inner = geometry();
    const int extraWidth = outer.width() - inner.width();
    const int extraHeight = outer.height() - inner.height();
    const QRect target = qRect(frame);
    setFixedSize(target.width() - extraWidth, target.height() - extraHeight);
    move(target.topLeft());
}

void SettingsTabs::present() {
    fitWindow(false);
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    fitWindow(false);  // again, now that the window manager's frame is known
    raise();
    activateWindow();
    // No control starts focused: the window itself holds the focus.
    setFocus(Qt::OtherFocusReason);
}

// The frame is kept as "x y width height" in screen points.
void SettingsTabs::saveFrame() {
    if (defaults_) frameSettled_->start();  // again: the frame has not settled yet
}

void SettingsTabs::writeFrame(bool now) {
    frameSettled_->stop();
    if (!defaults_) return;
    const QRect frame = frameGeometry();
    const std::string text =
        QString("%1 %2 %3 %4").arg(frame.x()).arg(frame.y()).arg(frame.width()).arg(frame.height()).toStdString();
    if (text == frameWritten_) return;
    frameWritten_ = text;
    if (writing_.valid()) writing_.wait();  // one write at a time, in order
    if (now || !writer_) {
        defaults_->set(frameKey, text);
        return;
    }
    auto written = std::make_shared<std::promise<void>>();
    writing_ = written->get_future();
    writer_->submit([defaults = defaults_, text, written] {
        defaults->set(frameKey, text);
        written->set_value();
    });
}

std::optional<QRect> SettingsTabs::savedFrame() const {
    const auto text = defaults_ ? defaults_->string(frameKey) : std::nullopt;
    if (!text) return std::nullopt;
    const auto parts = QString::fromStdString(*text).split(' ');
    if (parts.size() != 4) return std::nullopt;
    int values[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = parts[i].toInt(&ok);
        if (!ok) return std::nullopt;
    }
    if (values[2] <= 0 || values[3] <= 0) return std::nullopt;
    return QRect(values[0], values[1], values[2], values[3]);
}

void SettingsTabs::closeEvent(QCloseEvent* event) {
    writeFrame(true);
    event->accept();  // hidden, not destroyed: reopening shows the same window and pages
    if (onClosed) onClosed();
}

}  // namespace tindlewave
