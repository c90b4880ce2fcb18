#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>

#include "Ink.h"
#include "PageWorld.h"
#include "Runtime/Worlds/WorldTexts.h"
#include "Settings/Model/General/HyperKeyChoices.h"
#include "Settings/Views/PlainText.h"
#include "Settings/Views/FormBlocks.h"
#include "Settings/Views/HyperKeyTab.h"
#include "Settings/Views/SettingsPage.h"

namespace tindlewave {
namespace {

using namespace testkit;

struct HyperPage {
    explicit HyperPage(SettingsModel& model) : tab(new HyperKeyTab(model, page)) {
        page.content()->addWidget(tab);
        page.show();
    }
    SettingsPage page{nullptr, {}};
    HyperKeyTab* tab;
};

TEST(HyperKeyTab, TheMasterSwitchOffDisablesTheGroupButNotItself) {
    ShellWorld world;
    world.make(R"({"version":1,"hyper":{"enabled":false,"key":"home","onTap":"nothing"},"devices":[],"ignored":[]})");
    ASSERT_TRUE(world.start());
    HyperPage hyper(world.model->settings());
    EXPECT_TRUE(hyper.tab->masterSwitch()->isEnabledTo(&hyper.page));
    EXPECT_FALSE(hyper.tab->masterSwitch()->isChecked());
    EXPECT_FALSE(hyper.tab->group()->isEnabledTo(&hyper.page));
    EXPECT_FALSE(hyper.tab->keyPicker()->isEnabledTo(&hyper.page));

    // A key set by hand is the fourteenth item, and selected.
    QComboBox* picker = hyper.tab->keyPicker();
    ASSERT_EQ(picker->count(), 14);
    EXPECT_EQ(picker->itemText(0), "Caps Lock");
    EXPECT_EQ(picker->currentIndex(), 13);

    hyper.tab->masterSwitch()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return hyper.tab->group()->isEnabledTo(&hyper.page); }, 10000));
    EXPECT_EQ(picker->count(), 14);
}

TEST(HyperKeyTab, TheKeyPickerSendsTheKeyPickedAndTheSwitchItsNewState) {
    ShellWorld world;
    world.make(twoDevicesConfig);
    ASSERT_TRUE(world.start());
    HyperPage hyper(world.model->settings());
    QComboBox* picker = hyper.tab->keyPicker();
    ASSERT_GE(picker->count(), 4);
    const auto& keys = HyperKeyChoices::keys();
    EXPECT_EQ(picker->itemText(2), qText(HyperKeyChoices::keyLabel(keys[2])));
    EXPECT_EQ(picker->itemText(3), qText(HyperKeyChoices::keyLabel(keys[3])));

    picker->setCurrentIndex(3);
    emit picker->activated(3);
    picker->setCurrentIndex(2);
    emit picker->activated(2);
    ASSERT_TRUE(hyper.tab->masterSwitch()->isChecked());
    hyper.tab->masterSwitch()->click();
    EXPECT_EQ(editsLogged(world), (std::vector<std::string>{saved(SettingsEdit::hyperKey(keys[3])),
                                                            saved(SettingsEdit::hyperKey(keys[2])),
                                                            saved(SettingsEdit::hyperEnabled(false))}));
}

TEST(HyperKeyTab, KeyboardTogglesAddANewKeyboardWithThePresetAndSwitchAConfiguredOne) {
    ShellWorld world;
    world.make(twoDevicesConfig);
    ASSERT_TRUE(world.start());
    SettingsModel& settings = world.model->settings();
    auto builtIn = connected("Built-in", DeviceMatch::builtIn(), DeviceKind::keyboard);
    builtIn.hyper = HyperStatus::failed("key map refused");
    settings.show(statusWith({connected("Desk mouse", deskMouse, DeviceKind::mouse), builtIn},
                             {connected("Pad & <i>", newKeyboard, DeviceKind::keyboard)}));
    HyperPage hyper(settings);

    const auto& toggles = hyper.tab->keyboards();
    ASSERT_EQ(toggles.size(), 2u);
    EXPECT_EQ(toggles[0]->box()->text(), "Built-in");
    EXPECT_TRUE(toggles[0]->box()->isChecked());
    EXPECT_EQ(toggles[0]->detail()->text(), "Connected, not applied: key map refused");
    EXPECT_EQ(toggles[1]->box()->text(), "Pad && <i>");  // "&" is no mnemonic
    EXPECT_FALSE(toggles[1]->box()->isChecked());
    EXPECT_EQ(toggles[1]->detail()->text(), "Connected, new");

    toggles[1]->box()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return world.configText().find("0x024F") != std::string::npos; }, 10000))
        << world.configText();
    EXPECT_NE(world.configText().find("Pad & <i>"), std::string::npos);

    KeyboardToggle* builtInToggle = toggles[0];
    builtInToggle->box()->click();  // off for the built-in keyboard only
    ASSERT_TRUE(QTest::qWaitFor([&] { return !builtInToggle->box()->isChecked() &&
                                             world.configText().find("\"hyper\" : false") != std::string::npos; },
                                10000))
        << world.configText();
}

TEST(HyperKeyTab, ShowsNothingWithoutAConfiguration) {
    ShellWorld world;
    world.make();  // not started: no snapshot
    HyperPage hyper(world.model->settings());
    EXPECT_TRUE(hyper.tab->keyboards().empty());
    EXPECT_FALSE(hyper.tab->masterSwitch()->isVisibleTo(&hyper.page));
}

// A file that cannot be written: the switch and the key picker show the stored settings again
// at every refusal, also one whose error is shown already.
TEST(HyperKeyTab, ARefusedSwitchOrKeyShowsTheStoredOneAgain) {
    ShellWorld world;
    world.make(twoDevicesConfig);
    ASSERT_TRUE(world.start());
    SettingsModel& settings = world.model->settings();
    HyperPage hyper(settings);
    world.refuseWrites = true;
    QCheckBox* master = hyper.tab->masterSwitch();
    QComboBox* picker = hyper.tab->keyPicker();
    const int key = picker->currentIndex();
    for (std::uint64_t refusal : {1, 3}) {
        master->click();
        picker->setCurrentIndex(key + 1);
        emit picker->activated(key + 1);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return settings.refusals() == refusal + 1 && master->isChecked() &&
                       picker->currentIndex() == key;
            },
            10000));
    }
}

TEST(HyperKeyTab, DisabledAndSendingNothingWhileTheFileIsBroken) {
    ShellWorld world;
    world.make(twoDevicesConfig);
    ASSERT_TRUE(world.start());
    HyperPage hyper(world.model->settings());
    const std::string broken = "{ not json";
    TempFolder::write((world.configFolder / "config.json").string(), broken);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !world.model->settings().editable(); }, 10000));
    hyper.tab->refresh();
    EXPECT_FALSE(hyper.tab->masterSwitch()->isEnabledTo(&hyper.page));
    EXPECT_FALSE(hyper.tab->keyboards()[0]->isEnabledTo(&hyper.page));
    // Even signals that reach the controls send nothing.
    emit hyper.tab->masterSwitch()->clicked(false);
    emit hyper.tab->keyPicker()->activated(2);
    emit hyper.tab->keyboards()[0]->box()->clicked(false);
    EXPECT_EQ(linesBeforeMarker(world), 0);
    EXPECT_EQ(world.configText(), broken);
}

// Over real devices "How it works" has no caveat under it; its text still starts on its label's
// line, not centred in the room the row gives it.
TEST(HyperKeyTab, HowItWorksStartsOnTheLineOfItsLabel) {
    LinuxDeviceTexts texts;
    ShellWorld world;
    world.make(twoDevicesConfig);
    ASSERT_TRUE(world.start());
    HyperPage hyper(world.model->settings());
    hyper.tab->refresh();
    hyper.page.resize(SettingsPage::pageWidth, 1200);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&hyper.page));
    FormRow* how = nullptr;
    for (auto* widget : hyper.page.findChildren<QWidget*>())
        if (auto* row = dynamic_cast<FormRow*>(widget); row && row->label()->text() == "How it works:") how = row;
    ASSERT_NE(how, nullptr);
    const QImage picture = how->grab().toImage();
    const double scale = picture.devicePixelRatio();
    const QColor background = how->palette().color(QPalette::Window);
    // The first line of the picture, between two x positions, with anything drawn on it.
    const auto firstInked = [&](int from, int to) {
        for (int y = 0; y < picture.height(); ++y)
            for (int x = int(from * scale); x < int(to * scale) && x < picture.width(); ++x)
                if (testkit::contrast(picture.pixelColor(x, y), background) > 2) return y / scale;
        return -1.0;
    };
    const int labelEnd = how->label()->geometry().right();
    const double label = firstInked(0, labelEnd), text = firstInked(labelEnd + 1, how->width());
    ASSERT_GE(label, 0);
    ASSERT_GE(text, 0);
    EXPECT_LT(std::abs(text - label), 6) << "label " << label << ", text " << text;
}

}  // namespace
}  // namespace tindlewave
