#include <gtest/gtest.h>

#include <QStyle>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include "Settings/Model/Window/PageFit.h"
#include "Settings/Views/FormBlocks.h"
#include "Settings/Views/NameField.h"
#include "Settings/Views/PlainText.h"
#include "Settings/Views/SettingsPage.h"

namespace tindlewave {
namespace {

std::vector<QString> rowLabels(const SettingsPage& page) {
    std::vector<QString> labels;
    for (int i = 0; i < page.content()->count(); ++i) {
        auto* widget = page.content()->itemAt(i)->widget();
        if (auto* row = dynamic_cast<FormRow*>(widget)) labels.push_back(row->label()->text());
        else if (dynamic_cast<Divider*>(widget)) labels.push_back("—");
    }
    return labels;
}

TEST(FormBlocks, ShowConfigurationTextPlainlyAndKeepTheLabelColumn) {
    const char* hostile = "<b>A</b> & B <img src='/etc/hostname'>";
    FormRow row("Device", qText(hostile), plainLabel(qText(hostile)));
    EXPECT_EQ(row.label()->text(), "Device:");
    EXPECT_EQ(row.label()->textFormat(), Qt::PlainText);
    EXPECT_EQ(row.detail()->text(), hostile);
    EXPECT_EQ(row.detail()->textFormat(), Qt::PlainText);
    EXPECT_EQ(static_cast<QLabel*>(row.content())->textFormat(), Qt::PlainText);
    EXPECT_EQ(actionText(std::string_view("Mouse & Keys")), "Mouse && Keys");

    FormRow empty("", std::nullopt, new QPushButton("Go"));
    EXPECT_EQ(empty.label()->text(), "");
    EXPECT_EQ(empty.label()->width(), labelColumnWidth);
    empty.setDetail(QString("Later"));
    empty.setDetail(std::nullopt);
    EXPECT_EQ(empty.detail(), nullptr);
}

TEST(FormBlocks, ConnectionDotSaysWhetherItIsConnected) {
    ConnectionDot dot(false);
    EXPECT_EQ(dot.accessibleName(), "Not connected");
    dot.setConnected(true);
    EXPECT_EQ(dot.accessibleName(), "Connected");
    EXPECT_EQ(dot.size(), QSize(8, 8));
}

TEST(SettingsPage, ShowsTheConfigErrorThenTheSaveErrorAboveTheContentAndUpdatesInPlace) {
    int opened = 0;
    SettingsPage page(nullptr, [&] { ++opened; });
    page.content()->addWidget(new FormRow("Startup", std::nullopt, new QLabel("x")));
    page.setWarnings(std::string("hyper.key: unknown key. Fix the file."), std::string("cannot write x: denied"));
    EXPECT_EQ(rowLabels(page), (std::vector<QString>{"Config file:", "—", "Not saved:", "—", "Startup:"}));
    auto* explanation = page.findChild<QLabel*>("configErrorText");
    EXPECT_EQ(explanation->text(), "hyper.key: unknown key. Fix the file.");
    auto* row = page.content()->itemAt(0)->widget();
    page.setWarnings(std::string("other: error"), std::nullopt);
    EXPECT_EQ(page.content()->itemAt(0)->widget(), row);  // the same row, new text
    EXPECT_EQ(rowLabels(page), (std::vector<QString>{"Config file:", "—", "Startup:"}));
    page.findChild<QPushButton*>()->click();
    EXPECT_EQ(opened, 1);
    page.setWarnings(std::nullopt, std::string("<i>verbatim</i>"));
    EXPECT_EQ(rowLabels(page), (std::vector<QString>{"Not saved:", "—", "Startup:"}));
    EXPECT_EQ(page.findChild<QLabel*>("warningText")->text(), "<i>verbatim</i>");
    page.setWarnings(std::nullopt, std::nullopt);
    EXPECT_EQ(rowLabels(page), (std::vector<QString>{"Startup:"}));
}

TEST(SettingsPage, ReportsItsPaddedSizeOnceAndAgainOnlyWhenItChanges) {
    std::vector<bool> calls;
    PageFit fit([&](bool replaced) { calls.push_back(replaced); });
    SettingsPage page(&fit, nullptr);
    page.content()->addWidget(new QLabel("One row"));
    page.measure();
    ASSERT_TRUE(fit.size());
    EXPECT_EQ(fit.size()->width, 640);
    const double first = fit.size()->height;
    EXPECT_GT(first, 40);  // 20 above and below, and the row
    page.measure();
    EXPECT_EQ(calls.size(), 1u);
    page.content()->addWidget(new QLabel("Another row"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls.size() == 2; }, 5000));
    EXPECT_GT(fit.size()->height, first);
    fit.setScrolls(true);
    EXPECT_EQ(page.width(), 640);  // the page keeps its width; its content gives up the bar's room
    EXPECT_EQ(page.body()->width(), 640 - page.style()->pixelMetric(QStyle::PM_ScrollBarExtent));
}

// An explanation takes the lines it needs at the column's width, not those of a narrower form;
// every page ends as far below its last row as it starts above its first.
TEST(SettingsPage, AOneLineExplanationTakesOneLineAndThePageEndsItsPaddingBelowIt) {
    const auto measured = [](bool withDetail, bool withOwner) {
        PageFit fit([](bool) {});
        SettingsPage page(&fit, nullptr);
        page.content()->addWidget(new FormRow("Row", withDetail ? std::optional<QString>("Set this mouse up first.")
                                                                 : std::nullopt,
                                              new QPushButton("Button")));
        if (withOwner) page.keepRowsOwner(new QWidget);
        page.measure();
        return fit.size()->height;
    };
    const double bare = measured(false, false);
    const double explained = measured(true, false);
    const int line = QFontMetrics(Explanation("x").font()).lineSpacing();
    EXPECT_GT(explained - bare, line);      // the column's spacing and one line
    EXPECT_LT(explained - bare, 2 * line);  // not two
    EXPECT_EQ(measured(false, true), bare);  // a widget that only owns rows takes no room

    PageFit fit([](bool) {});
    SettingsPage page(&fit, nullptr);
    auto* last = new QPushButton("Last");
    page.content()->addWidget(last);
    page.resize(640, 400);
    page.show();
    page.measure();
    EXPECT_EQ(fit.size()->height - (last->geometry().bottom() + 1), 20);
}

TEST(Explanation, KeptOnOneLineItEndsWithAnEllipsisAndTellsTheWholeTextWhenCut) {
    Explanation status("Press a button on MX Master 3 to add a rule for it, or choose one from the menu.");
    status.keepOnOneLine();
    status.resize(120, status.sizeHint().height());
    status.grab();
    EXPECT_TRUE(status.shownText().endsWith(QChar(0x2026))) << status.shownText().toStdString();
    EXPECT_TRUE(status.toolTip().contains("or choose one from the menu.")) << status.toolTip().toStdString();
    EXPECT_EQ(status.text(), "Press a button on MX Master 3 to add a rule for it, or choose one from the menu.");
    EXPECT_LE(status.minimumSizeHint().width(), 0);  // never widens its page

    status.resize(2000, status.height());
    status.grab();
    EXPECT_EQ(status.shownText(), status.text());
    EXPECT_TRUE(status.toolTip().isEmpty());
}

struct NameFieldTest : ::testing::Test {
    std::vector<std::string> saved;
    QWidget window;
    std::vector<NameField::Refused> refusals;
    NameField* field = new NameField(
        "Mouse",
        [this](const std::string& name, NameField::Refused refused) {
            saved.push_back(name);
            refusals.push_back(std::move(refused));
        },
        &window);
    QLineEdit* other = new QLineEdit(&window);

    void SetUp() override {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(field);
        layout->addWidget(other);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        field->editor()->setFocus();
        field->editor()->selectAll();
    }
};

TEST_F(NameFieldTest, TrimsOnReturnAndKeepsTheTextUntilTheNewNameArrives) {
    QTest::keyClicks(field->editor(), "  Desk mouse  ");
    QTest::keyClick(field->editor(), Qt::Key_Return);
    EXPECT_EQ(saved, (std::vector<std::string>{"Desk mouse"}));
    field->setName("Desk mouse");
    EXPECT_EQ(field->editor()->text(), "Desk mouse");
    EXPECT_FALSE(field->draft().draft());
}

TEST_F(NameFieldTest, RestoresOnEscapeAndOnBlankText) {
    QTest::keyClicks(field->editor(), "Other");
    QTest::keyClick(field->editor(), Qt::Key_Escape);
    EXPECT_EQ(field->editor()->text(), "Mouse");
    field->editor()->selectAll();
    QTest::keyClicks(field->editor(), "   ");
    QTest::keyClick(field->editor(), Qt::Key_Return);
    EXPECT_EQ(field->editor()->text(), "Mouse");
    EXPECT_TRUE(saved.empty());
}

TEST_F(NameFieldTest, CommitsOnFocusLossAndKeepsTypedTextThroughARefresh) {
    QTest::keyClicks(field->editor(), "Half");
    field->setName("Mouse");  // a status arrives while typing
    EXPECT_EQ(field->editor()->text(), "Half");
    EXPECT_TRUE(field->editor()->hasFocus());
    EXPECT_TRUE(saved.empty());
    QTest::keyClicks(field->editor(), " typed");
    other->setFocus();
    EXPECT_EQ(saved, (std::vector<std::string>{"Half typed"}));
}

}  // namespace
}  // namespace tindlewave
