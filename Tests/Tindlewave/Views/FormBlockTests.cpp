#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include "Settings/Model/PageFit.h"
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
    page.setWarnings(std::string("hyper.key: unknown key"), std::string("cannot write x: denied"));
    EXPECT_EQ(rowLabels(page), (std::vector<QString>{"Config file:", "—", "Not saved:", "—", "Startup:"}));
    auto* explanation = page.findChild<QLabel*>("configErrorText");
    EXPECT_EQ(explanation->text(),
              "hyper.key: unknown key. Tindlewave keeps using the last good settings. Fix the file to "
              "change settings here.");
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
    EXPECT_GT(page.width(), 640);  // the scroll bar's room; the page itself stays 640
    EXPECT_EQ(page.body()->width(), 640);
}

struct NameFieldTest : ::testing::Test {
    std::vector<std::string> saved;
    QWidget window;
    NameField* field = new NameField("Mouse", [this](const std::string& name) { saved.push_back(name); }, &window);
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
