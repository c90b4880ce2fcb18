#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include "PageWorld.h"
#include "Settings/Views/DeviceRow.h"
#include "Settings/Views/DevicesTab.h"
#include "Settings/Views/FormBlocks.h"
#include "Settings/Views/NameField.h"
#include "Settings/Views/SettingsPage.h"

namespace tindlewave {
namespace {

using namespace testkit;

QPushButton* button(QWidget& in, const QString& text) {
    for (auto* candidate : in.findChildren<QPushButton*>())
        if (candidate->text() == text && candidate->isVisibleTo(&in)) return candidate;
    return nullptr;
}

// Widgets of a class without its own meta-object (findChildren would take any widget for one).
template <class T>
std::vector<T*> all(QWidget& in) {
    std::vector<T*> found;
    for (auto* child : in.findChildren<QWidget*>())
        if (auto* match = dynamic_cast<T*>(child)) found.push_back(match);
    return found;
}

bool shows(QWidget& in, const QString& text) {
    for (auto* label : in.findChildren<QLabel*>())
        if (label->text() == text && label->isVisibleTo(&in)) return true;
    return false;
}

struct DevicesPage {
    explicit DevicesPage(SettingsModel& model) : tab(new DevicesTab(model, page)) {
        page.content()->addWidget(tab);
        page.show();
    }
    std::vector<DeviceRow*> rows() const {
        std::vector<DeviceRow*> shown = tab->mice()->rows();
        for (auto* row : tab->keyboards()->rows()) shown.push_back(row);
        return shown;
    }
    SettingsPage page{nullptr, {}};
    DevicesTab* tab;
};

TEST(DevicesTab, EmptyListsSayNoDeviceYetAndThereIsNoIgnoredRow) {
    ShellWorld world;
    world.make(R"({"version":1,"hyper":{"key":"capsLock","onTap":"nothing"},"devices":[],"ignored":[]})");
    ASSERT_TRUE(world.start());
    DevicesPage devices(world.model->settings());
    EXPECT_TRUE(shows(devices.page, "No mouse yet."));
    EXPECT_TRUE(shows(devices.page, "No keyboard yet."));
    EXPECT_FALSE(shows(devices.page, "Ignored:"));
    EXPECT_TRUE(devices.rows().empty());
}

TEST(DevicesTab, ANewDeviceHasItsNameTheBadgeSetUpAndIgnoreButNoKindPicker) {
    ShellWorld world;
    world.make(twoDevicesConfig);
    ASSERT_TRUE(world.start());
    SettingsModel& settings = world.model->settings();
    settings.show(statusWith({}, {connected("<b>Trackball</b> & co", newMouse, DeviceKind::mouse)}));
    DevicesPage devices(settings);

    const auto rows = devices.rows();
    ASSERT_EQ(rows.size(), 3u);  // desk mouse, the new mouse, the built-in keyboard
    DeviceRow& fresh = *rows[1];
    EXPECT_TRUE(fresh.device().isNew());
    EXPECT_TRUE(shows(fresh, "<b>Trackball</b> & co"));
    EXPECT_TRUE(shows(fresh, "New"));
    EXPECT_NE(button(fresh, "Ignore"), nullptr);
    EXPECT_EQ(button(fresh, "Forget\u2026"), nullptr);
    EXPECT_TRUE(fresh.findChildren<QComboBox*>().empty());
    EXPECT_TRUE(all<NameField>(fresh).empty());

    // The configured mouse, not connected: its card and an unlit dot.
    DeviceRow& desk = *rows[0];
    EXPECT_TRUE(shows(desk, "Not connected. Tindlewave applies this profile as soon as it connects."));
    EXPECT_FALSE(all<ConnectionDot>(desk).at(0)->isConnected());

    // A status refresh keeps the rows.
    settings.show(statusWith({connected("Desk mouse", deskMouse, DeviceKind::mouse)},
                             {connected("<b>Trackball</b> & co", newMouse, DeviceKind::mouse)}));
    devices.tab->refresh();
    EXPECT_EQ(devices.rows(), rows);
    EXPECT_TRUE(all<ConnectionDot>(desk).at(0)->isConnected());

    button(fresh, "Ignore")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return world.configText().find("0xB034") != std::string::npos; }, 10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return shows(devices.page, "Ignored:"); }, 10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return button(devices.page, "Stop Ignoring") != nullptr; }, 10000));
    EXPECT_EQ(devices.rows().size(), 2u);  // the ignored one is no longer listed as new
}

TEST(DevicesTab, TheKindPickerSendsTheKindPickedAndNothingForTheKindShown) {
    ShellWorld world;
    world.make(twoDevicesConfig);
    ASSERT_TRUE(world.start());
    DevicesPage devices(world.model->settings());
    const auto rows = devices.rows();
    ASSERT_EQ(rows.size(), 2u);
    QComboBox* mouseKind = rows[0]->findChild<QComboBox*>();
    QComboBox* keyboardKind = rows[1]->findChild<QComboBox*>();
    EXPECT_EQ(mouseKind->currentText(), "Mouse");
    EXPECT_EQ(keyboardKind->currentText(), "Keyboard");

    emit mouseKind->activated(1);
    EXPECT_EQ(editsLogged(world),
              (std::vector<std::string>{saved(SettingsEdit::kind(deskMouse, DeviceKind::keyboard))}));
    emit keyboardKind->activated(1);  // as shown: nothing
    emit keyboardKind->activated(0);
    EXPECT_EQ(editsLogged(world),
              (std::vector<std::string>{saved(SettingsEdit::kind(deskMouse, DeviceKind::keyboard)),
                                        saved(SettingsEdit::kind(DeviceMatch::builtIn(), DeviceKind::mouse))}));
}

// A kind chosen from the keyboard moves the device to the other list; the focus goes along to its
// Kind control, so what is typed next renames no device and the arrow keys take it back.
TEST(DevicesTab, TheFocusStaysOnTheKindChosenFromTheKeyboard) {
    ShellWorld world;
    world.make(twoDevicesConfig);
    ASSERT_TRUE(world.start());
    DevicesPage devices(world.model->settings());
    devices.page.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&devices.page));
    auto rowOf = [](DeviceList* list) -> DeviceRow* {
        for (DeviceRow* row : list->rows())
            if (row->device().match == deskMouse) return row;
        return nullptr;
    };
    auto press = [](Qt::Key key) { QTest::keyClick(QApplication::focusWidget(), key); };

    rowOf(devices.tab->mice())->kindPicker()->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Down);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rowOf(devices.tab->keyboards()) != nullptr; }, 10000));
    ASSERT_EQ(QApplication::focusWidget(), rowOf(devices.tab->keyboards())->kindPicker());
    QTest::keyClicks(QApplication::focusWidget(), "Typed");
    press(Qt::Key_Return);
    press(Qt::Key_Up);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rowOf(devices.tab->mice()) != nullptr; }, 10000));
    EXPECT_EQ(QApplication::focusWidget(), rowOf(devices.tab->mice())->kindPicker());
    EXPECT_EQ(editsLogged(world),
              (std::vector<std::string>{saved(SettingsEdit::kind(deskMouse, DeviceKind::keyboard)),
                                        saved(SettingsEdit::kind(deskMouse, DeviceKind::mouse))}));
}

TEST(DevicesTab, RenameIgnoreAndStopIgnoringSendTheirOwnEditForTheirOwnDevice) {
    ShellWorld world;
    world.make(twoDevicesConfig);
    ASSERT_TRUE(world.start());
    SettingsModel& settings = world.model->settings();
    settings.show(statusWith({}, {connected("Trackball", newMouse, DeviceKind::mouse)}));
    DevicesPage devices(settings);
    const auto rows = devices.rows();
    ASSERT_EQ(rows.size(), 3u);

    QLineEdit* name = rows[2]->findChild<QLineEdit*>();
    ASSERT_NE(name, nullptr);
    name->setText("Office keys");
    emit name->textEdited("Office keys");
    emit name->editingFinished();
    button(*rows[1], "Ignore")->click();
    EXPECT_EQ(editsLogged(world),
              (std::vector<std::string>{saved(SettingsEdit::rename(DeviceMatch::builtIn(), "Office keys")),
                                        saved(SettingsEdit::ignore(newMouse, true))}));

    ASSERT_TRUE(QTest::qWaitFor([&] { return button(devices.page, "Stop Ignoring") != nullptr; }, 10000));
    button(devices.page, "Stop Ignoring")->click();
    const auto lines = editsLogged(world);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), saved(SettingsEdit::ignore(newMouse, false)));
}

TEST(DevicesTab, ForgetSendsOnlyWhenConfirmed) {
    ShellWorld world;
    world.make(twoDevicesConfig);
    ASSERT_TRUE(world.start());
    DevicesPage devices(world.model->settings());
    DeviceRow& desk = *devices.rows()[0];

    button(desk, "Forget\u2026")->click();
    ASSERT_NE(desk.confirmation(), nullptr);
    EXPECT_EQ(desk.confirmation()->text(), "Forget Desk mouse?");
    desk.confirmation()->button(QMessageBox::Cancel)->click();
    EXPECT_EQ(linesBeforeMarker(world), 0);  // dismissed: nothing sent
    EXPECT_NE(world.configText().find("Desk mouse"), std::string::npos);

    ASSERT_TRUE(QTest::qWaitFor([&] { return desk.confirmation() == nullptr; }, 10000));
    button(desk, "Forget\u2026")->click();
    QMessageBox* box = desk.confirmation();
    ASSERT_NE(box, nullptr);
    for (auto* choice : box->buttons())
        if (box->buttonRole(choice) == QMessageBox::DestructiveRole) choice->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return world.configText().find("Desk mouse") == std::string::npos; }, 10000));
}

// The device goes (here: another change forgets it) while its confirmation is open: the row and
// the box go together, and nothing runs on the row while it is being destroyed.
TEST(DevicesTab, ARowGoingWhileItsConfirmationIsOpenTakesTheBoxAlong) {
    ShellWorld world;
    world.make(twoDevicesConfig);
    ASSERT_TRUE(world.start());
    SettingsModel& settings = world.model->settings();
    DevicesPage devices(settings);
    DeviceRow* desk = devices.rows()[0];
    button(*desk, "Forget\u2026")->click();
    QPointer<QMessageBox> box = desk->confirmation();
    ASSERT_NE(box, nullptr);
    QPointer<DeviceRow> row = desk;

    settings.send(SettingsEdit::forget(deskMouse));
    ASSERT_TRUE(QTest::qWaitFor([&] { return row.isNull(); }, 10000));
    EXPECT_TRUE(box.isNull());
    EXPECT_EQ(devices.rows().size(), 1u);
}

// A file that cannot be written: a refused name and a refused kind give way to the stored ones
// as soon as "Not saved" shows, each time.
TEST(DevicesTab, ARefusedNameOrKindShowsTheStoredOneAgain) {
    ShellWorld world;
    world.make(twoDevicesConfig);
    ASSERT_TRUE(world.start());
    SettingsModel& settings = world.model->settings();
    DevicesPage devices(settings);
    world.refuseWrites = true;
    DeviceRow& desk = *devices.rows()[0];
    QLineEdit* name = desk.findChild<QLineEdit*>();
    name->setText("Travel mouse");
    emit name->textEdited("Travel mouse");
    emit name->editingFinished();
    ASSERT_TRUE(QTest::qWaitFor([&] { return settings.refusals() == 1; }, 10000));
    EXPECT_EQ(name->text(), "Desk mouse");

    QComboBox* kind = desk.findChild<QComboBox*>();
    for (std::uint64_t refusal : {2, 3}) {
        kind->setCurrentIndex(1);
        emit kind->activated(1);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return settings.refusals() == refusal && kind->currentText() == "Mouse"; }, 10000));
    }
}

TEST(DevicesTab, DisabledAndSendingNothingWhileTheFileIsBroken) {
    ShellWorld world;
    world.make(twoDevicesConfig);
    ASSERT_TRUE(world.start());
    SettingsModel& settings = world.model->settings();
    settings.show(statusWith({}, {connected("Pad", newKeyboard, DeviceKind::keyboard)}));
    DevicesPage devices(settings);
    // A name being typed as the file breaks: its row goes off, the name is not saved and shows
    // what is stored.
    devices.page.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&devices.page));
    QLineEdit* name = devices.rows()[0]->findChild<QLineEdit*>();
    name->setFocus();
    QTest::keyClicks(name, " 2");
    const std::string broken = "{ not json";
    TempFolder::write((world.configFolder / "config.json").string(), broken);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !settings.editable(); }, 10000));
    devices.tab->refresh();
    EXPECT_EQ(name->text(), "Desk mouse");

    const auto rows = devices.rows();
    ASSERT_EQ(rows.size(), 3u);
    for (auto* row : rows) EXPECT_FALSE(row->isEnabledTo(&devices.page));
    // Even signals that reach the controls send nothing.
    emit button(*rows[2], "Ignore")->clicked();
    emit rows[0]->findChild<QComboBox*>()->activated(1);
    EXPECT_EQ(linesBeforeMarker(world), 0);
    EXPECT_EQ(world.configText(), broken);
}

}  // namespace
}  // namespace tindlewave
