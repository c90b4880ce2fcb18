#include <gtest/gtest.h>

#include "Settings/Model/General/HyperKeyChoices.h"

namespace tindlewave {
namespace {

const DeviceMatch board = DeviceMatch::device(VendorID{0x05AC}, ProductID{0x024F});

SettingsDevice keyboard(bool configured, std::optional<HyperStatus> hyper, bool connected = true) {
    SettingsDevice device{.match = board, .name = "Keys & <b>", .kind = DeviceKind::keyboard};
    if (configured) device.profile = DeviceProfile{.match = board, .name = "Keys & <b>", .hyper = true};
    if (connected)
        device.status = DeviceStatus{.name = "Keys & <b>", .match = board, .kind = DeviceKind::keyboard,
                                     .connectedAt = Date{}, .hyper = std::move(hyper)};
    return device;
}

TEST(HyperKeyChoices, OffersCapsLockAndTheFunctionKeysThenAKeySetByHand) {
    const auto& keys = HyperKeyChoices::keys();
    ASSERT_EQ(keys.size(), 13u);
    EXPECT_EQ(HyperKeyChoices::keyLabel(keys.front()), "Caps Lock");
    EXPECT_EQ(HyperKeyChoices::keyLabel(keys.back()), "F12");

    EXPECT_EQ(HyperKeyChoices::offered(keys[3]), keys);  // one of them: nothing added
    const HIDUsage byHand = *HIDUsage::named("home");
    const auto offered = HyperKeyChoices::offered(byHand);
    ASSERT_EQ(offered.size(), 14u);
    EXPECT_EQ(offered.back(), byHand);
    EXPECT_EQ(HyperKeyChoices::keyLabel(HIDUsage{0xFFF0}), "Key 0xFFF0");  // a usage without a name
}

TEST(HyperKeyChoices, KeyboardStatusLines) {
    EXPECT_EQ(HyperKeyChoices::detail(keyboard(true, HyperStatus::on(), false)), "Not connected");
    EXPECT_EQ(HyperKeyChoices::detail(keyboard(false, HyperStatus::on())), "Connected, new");
    EXPECT_EQ(HyperKeyChoices::detail(keyboard(true, HyperStatus::on())), "Connected, hyper key on");
    EXPECT_EQ(HyperKeyChoices::detail(keyboard(true, HyperStatus::off())), "Connected, hyper key off");
    EXPECT_EQ(HyperKeyChoices::detail(keyboard(true, HyperStatus::applying())),
              "Connected, turning the hyper key on\u2026");
    EXPECT_EQ(HyperKeyChoices::detail(keyboard(true, HyperStatus::failed("key map refused"))),
              "Connected, not applied: key map refused");
    EXPECT_EQ(HyperKeyChoices::detail(keyboard(true, std::nullopt)), "Connected");
}

TEST(HyperKeyChoices, TheTogglesEditsAndState) {
    const auto fresh = keyboard(false, std::nullopt);
    EXPECT_FALSE(HyperKeyChoices::isOn(fresh));
    const auto added = SettingsEdit::addDevice(board, "Keys & <b>", ProfileSource::preset(DevicePreset::keyboard));
    EXPECT_EQ(HyperKeyChoices::toggled(fresh, true), added);
    EXPECT_EQ(HyperKeyChoices::toggled(fresh, false), added);  // whatever the new value

    auto configured = keyboard(true, HyperStatus::on());
    EXPECT_TRUE(HyperKeyChoices::isOn(configured));
    EXPECT_EQ(HyperKeyChoices::toggled(configured, false), SettingsEdit::hyperOn(board, false));
    configured.profile->hyper.reset();
    EXPECT_FALSE(HyperKeyChoices::isOn(configured));
    EXPECT_EQ(HyperKeyChoices::toggled(configured, true), SettingsEdit::hyperOn(board, true));
}

}  // namespace
}  // namespace tindlewave
