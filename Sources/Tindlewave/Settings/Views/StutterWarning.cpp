#include "Settings/Views/StutterWarning.h"

#include <QFrame>
#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <vector>

#include "Settings/Model/Texts/KnobUnit.h"
#include "Settings/Model/Window/PopupPlace.h"
#include "Settings/Views/LocaleTexts.h"
#include "Settings/Views/PlainText.h"
#include "Settings/Views/Symbols.h"

namespace tindlewave {

namespace {
constexpr const char* title = "Slow scrolling will stutter";
}

StutterWarning::StutterWarning(Fix fix, QWidget* parent)
    : QToolButton(parent), fix_(std::move(fix)), popup_(new QFrame(this, Qt::Popup)) {
    setAutoRaise(true);
    setIcon(symbolIcon(Symbol::warning, QColor(0xF5, 0xA6, 0x23)));
    setIconSize(QSize(16, 16));
    setGraphicsEffect(new QGraphicsOpacityEffect(this));

    popup_->setFrameShape(QFrame::StyledPanel);
    popup_->setFixedWidth(320);
    auto* column = new QVBoxLayout(popup_);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(10);
    auto* heading = new QLabel(title);
    QFont headline = heading->font();
    headline.setBold(true);
    heading->setFont(headline);
    detail_ = new QLabel;
    detail_->setTextFormat(Qt::PlainText);
    detail_->setWordWrap(true);
    fixButton_ = new QPushButton;
    column->addWidget(heading);
    column->addWidget(detail_);
    column->addWidget(fixButton_, 0, Qt::AlignLeft);

    connect(this, &QToolButton::clicked, this, [this] { open(); });
    connect(fixButton_, &QPushButton::clicked, this, [this] {
        popup_->hide();
        if (stutter_ && fix_) fix_(stutter_->smoothDuration);
    });
    setStutter(std::nullopt);
}

void StutterWarning::setStutter(const std::optional<SlowRollStutter>& stutter) {
    stutter_ = stutter;
    const QString label = stutter ? title : "";
    setToolTip(label);
    setAccessibleName(label);
    static_cast<QGraphicsOpacityEffect*>(graphicsEffect())->setOpacity(stutter ? 1 : 0);
    setEnabled(stutter.has_value());
    if (!stutter) {
        popup_->hide();
        return;
    }
    const auto numbers = localNumbers();
    detail_->setText(QString::fromStdString(stutter->detail(numbers)));
    fixButton_->setText(actionText(
        "Set Glide to " + format(KnobUnit::tenthsOfASecond, stutter->smoothDuration, numbers)));
    if (popup_->isVisible()) popup_->adjustSize();
}

bool StutterWarning::isOpen() const {
    return popup_->isVisible();
}

void StutterWarning::open() {
    if (!stutter_) return;
    popup_->adjustSize();
    auto rect = [](const QRect& r) {
        return ScreenRect{double(r.x()), double(r.y()), double(r.width()), double(r.height())};
    };
    std::vector<ScreenAreas> screens;
    for (const QScreen* screen : QGuiApplication::screens())
        screens.push_back({rect(screen->geometry()), rect(screen->availableGeometry())});
    const QScreen* own = screen();
    const ScreenRect frame =
        popupFrame(rect(QRect(mapToGlobal(QPoint(0, 0)), size())),
                   {double(popup_->width()), double(popup_->height())}, screens,
                   own ? rect(own->availableGeometry()) : ScreenRect{0, 0, 1e9, 1e9});
    popup_->move(qRound(frame.x), qRound(frame.y));
    popup_->show();
}

}  // namespace tindlewave
