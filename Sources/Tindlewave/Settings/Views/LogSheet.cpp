#include "Settings/Views/LogSheet.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "Runtime/Executors/WorkPool.h"
#include "Settings/Model/General/LogText.h"
#include "Settings/Views/ClockTime.h"
#include "Settings/Views/FormBlocks.h"
#include "Settings/Views/PlainText.h"
#include "Settings/Views/Symbols.h"

namespace tindlewave {

LogSheet::LogSheet(Executor& main, WorkPool& pool, Read read, QWidget* parent)
    : QDialog(parent), main_(main), pool_(pool), read_(std::move(read)) {
    setWindowTitle("Log");
    setFixedSize(600, 440);
    setWindowModality(Qt::WindowModal);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(12, 12, 12, 12);
    header->setSpacing(8);
    auto* title = plainLabel("Log");
    QFont headline = title->font();
    headline.setBold(true);
    title->setFont(headline);
    header->addWidget(title);
    auto* since = plainLabel("Since Tindlewave started");
    dimText(since);
    header->addWidget(since);
    header->addStretch(1);
    copy_ = new QPushButton("Copy All");
    copy_->setAutoDefault(false);
    copy_->setEnabled(false);
    header->addWidget(copy_);
    auto* refresh = new QPushButton("Refresh");
    refresh->setAutoDefault(false);
    header->addWidget(refresh);
    column->addLayout(header);
    column->addWidget(new Divider);

    list_ = new QListWidget;
    list_->setFrameShape(QFrame::NoFrame);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(QFont().pointSizeF() * 0.85);
    list_->setFont(mono);
    column->addWidget(list_, 1);

    // Over the list, on a panel of its own so that it reads over earlier lines.
    problemView_ = new QWidget(list_->viewport());
    problemView_->setFont(QApplication::font());
    problemView_->setAutoFillBackground(true);
    QPalette panel = problemView_->palette();
    QColor background = panel.color(QPalette::Window);
    background.setAlpha(240);
    panel.setColor(QPalette::Window, background);
    problemView_->setPalette(panel);
    auto* problemColumn = new QVBoxLayout(problemView_);
    problemColumn->setContentsMargins(24, 16, 24, 16);
    auto* mark = new QLabel;
    mark->setPixmap(symbolPixmap(Symbol::document, 32, secondaryColor(*this), devicePixelRatioF()));
    problemColumn->addWidget(mark, 0, Qt::AlignHCenter);
    auto* cannot = plainLabel("Cannot read the log");
    QFont bold = cannot->font();
    bold.setBold(true);
    cannot->setFont(bold);
    problemColumn->addWidget(cannot, 0, Qt::AlignHCenter);
    problemText_ = new Explanation({});
    problemText_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    problemColumn->addWidget(problemText_);
    problemView_->hide();

    column->addWidget(new Divider);
    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(12, 12, 12, 12);
    footer->addStretch(1);
    auto* done = new QPushButton("Done");
    done->setDefault(true);
    footer->addWidget(done);
    column->addLayout(footer);

    connect(copy_, &QPushButton::clicked, this, [this] { copyAll(); });
    connect(refresh, &QPushButton::clicked, this, [this] { load(); });
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
}

void LogSheet::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!loadedOnce_) {
        loadedOnce_ = true;
        load();
    }
}

void LogSheet::load() {
    QPointer<LogSheet> sheet(this);
    runBlocking<Outcome>(pool_, main_, read_, [sheet](Outcome outcome) {
        if (sheet) sheet->apply(std::move(outcome));  // a closed sheet drops its late reads
    });
}

void LogSheet::apply(Outcome outcome) {
    if (!outcome) {
        problem_ = outcome.error().description();
        problemText_->setText(qText(*problem_));
        problemView_->show();
        placeProblem();
        return;
    }
    const std::size_t before = lines_.size();
    lines_ = std::move(*outcome);
    problem_.reset();
    problemView_->hide();
    list_->clear();
    for (const auto& line : lines_) list_->addItem(qText(logLineText(line, clockTimeWithSeconds)));
    copy_->setEnabled(!lines_.empty());
    if (lines_.size() != before && !lines_.empty())
        list_->scrollToItem(list_->item(list_->count() - 1), QAbstractItemView::PositionAtBottom);
}

void LogSheet::copyAll() {
    QGuiApplication::clipboard()->setText(qText(logCopyText(lines_, clockTimeWithSeconds)));
}

void LogSheet::placeProblem() {
    const QRect area = list_->viewport()->rect();
    const int width = std::min(area.width() - 40, 460);
    const int height = std::min(problemView_->heightForWidth(width) > 0 ? problemView_->heightForWidth(width)
                                                                        : problemView_->sizeHint().height(),
                                area.height());
    problemView_->setGeometry(QRect(area.center().x() - width / 2, area.center().y() - height / 2, width, height));
}

void LogSheet::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    placeProblem();
}

}  // namespace tindlewave
