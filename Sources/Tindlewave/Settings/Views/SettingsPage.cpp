#include "Settings/Views/SettingsPage.h"

#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include "Settings/Model/Window/PageFit.h"
#include "Settings/Views/FormBlocks.h"
#include "Settings/Views/PlainText.h"

namespace tindlewave {

namespace {
constexpr int sidePadding = 28;
constexpr int endPadding = 20;
}  // namespace

SettingsPage::SettingsPage(PageFit* fit, std::function<void()> openConfig, QWidget* parent)
    : QScrollArea(parent), fit_(fit), openConfig_(std::move(openConfig)), body_(new QWidget) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWidgetResizable(true);
    setFixedWidth(pageWidth);
    body_->setFixedWidth(pageWidth);
    auto* outer = new QVBoxLayout(body_);
    outer->setContentsMargins(sidePadding, endPadding, sidePadding, endPadding);
    outer->setSpacing(12);
    content_ = new QVBoxLayout;
    content_->setContentsMargins(0, 0, 0, 0);
    content_->setSpacing(12);
    outer->addLayout(content_);
    outer->addStretch(1);
    setWidget(body_);
    body_->installEventFilter(this);
    if (fit_) fit_->onScrollsChanged([this](bool scrolls) { showScrollBar(scrolls); });
}

void SettingsPage::keepRowsOwner(QWidget* owner) {
    owner->setParent(body_);
    owner->setFixedSize(0, 0);
    owner->show();  // shown with the page, so it hears when the page comes on screen
}

void SettingsPage::showScrollBar(bool scrolls) {
    setVerticalScrollBarPolicy(scrolls ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    // A Qt scroll bar takes room: the page keeps its width (so the window does), and its content
    // gives up the bar's.
    const int bar = scrolls ? style()->pixelMetric(QStyle::PM_ScrollBarExtent) : 0;
    body_->setFixedWidth(pageWidth - bar);
}

void SettingsPage::setWarnings(const std::optional<std::string>& configError,
                               const std::optional<std::string>& saveError) {
    int index = 0;
    if (configError) {
        const QString text = qText(*configError);
        if (!configRow_) {
            auto* box = new QWidget;
            box->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
            auto* column = new QVBoxLayout(box);
            column->setContentsMargins(0, 0, 0, 0);
            column->setSpacing(5);
            column->addWidget(makeWarningLabel("The config file has an error"));
            auto* explanation = new Explanation(text);
            explanation->setObjectName("configErrorText");
            column->addWidget(explanation);
            auto* open = new QPushButton("Open in Editor");
            connect(open, &QPushButton::clicked, this, [this] {
                if (openConfig_) openConfig_();
            });
            column->addWidget(open, 0, Qt::AlignLeft);
            configRow_ = new FormRow("Config file", std::nullopt, box);
            configDivider_ = new Divider;
            content_->insertWidget(0, configRow_);
            content_->insertWidget(1, configDivider_);
        } else {
            auto* explanation = configRow_->findChild<QLabel*>("configErrorText");
            if (explanation->text() != text) explanation->setText(text);
        }
        index = 2;
    } else if (configRow_) {
        delete configRow_;
        delete configDivider_;
        configRow_ = nullptr;
        configDivider_ = nullptr;
    }
    if (saveError) {
        const QString text = qText(*saveError);
        if (!saveRow_) {
            saveRow_ = new FormRow("Not saved", std::nullopt, makeWarningLabel(text));
            saveDivider_ = new Divider;
            content_->insertWidget(index, saveRow_);
            content_->insertWidget(index + 1, saveDivider_);
        } else {
            auto* label = saveRow_->findChild<QLabel*>("warningText");
            if (label->text() != text) label->setText(text);
        }
    } else if (saveRow_) {
        delete saveRow_;
        delete saveDivider_;
        saveRow_ = nullptr;
        saveDivider_ = nullptr;
    }
}

void SettingsPage::setSubject(const std::optional<DeviceMatch>& subject) {
    if (subject_ == subject) return;
    subject_ = subject;
    measure();
}

bool SettingsPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == body_ && event->type() == QEvent::LayoutRequest && !measurePending_) {
        // Measured once the layout has settled, never inside it.
        measurePending_ = true;
        QTimer::singleShot(0, this, [this] { measure(); });
    }
    return QScrollArea::eventFilter(watched, event);
}

void SettingsPage::measure() {
    measurePending_ = false;
    auto* layout = body_->layout();
    layout->activate();
    const int height = layout->hasHeightForWidth() ? layout->totalHeightForWidth(body_->width())
                                                   : layout->totalSizeHint().height();
    // Wrapping labels ask for more height at their narrowest than at the page's width: the body
    // is held to the measured height, so a page the window fits does not scroll.
    if (body_->minimumHeight() != height) body_->setMinimumHeight(height);
    if (fit_) fit_->place({double(pageWidth), double(height)}, subject_);
}

}  // namespace tindlewave
