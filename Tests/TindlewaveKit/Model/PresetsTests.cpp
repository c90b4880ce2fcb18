#include <gtest/gtest.h>

#include "Model/ConfigCodec.h"
#include "Model/Presets.h"

namespace tindlewave {
namespace {

const DeviceMatch master = DeviceMatch::device(VendorID{0x046D}, ProductID{0xB023});
const DeviceMatch mouse24 = DeviceMatch::device(VendorID{0x1EA7}, ProductID{0x0002});

TEST(Presets, Offered) {
    using P = std::vector<DevicePreset>;
    EXPECT_EQ(offeredPresets(master, DeviceKind::mouse), P{DevicePreset::mxMaster3});
    EXPECT_EQ(offeredPresets(master, DeviceKind::keyboard),
              (P{DevicePreset::mxMaster3, DevicePreset::keyboard}));
    EXPECT_EQ(offeredPresets(mouse24, DeviceKind::mouse), P{DevicePreset::mouse24G});
    EXPECT_EQ(offeredPresets(DeviceMatch::builtIn(), DeviceKind::keyboard),
              P{DevicePreset::keyboard});
    EXPECT_EQ(
        offeredPresets(DeviceMatch::device(VendorID{0x046D}, ProductID{0xB024}), DeviceKind::mouse),
        P{});
    EXPECT_EQ(
        offeredPresets(DeviceMatch::device(VendorID{0x1EA7}, ProductID{0xB023}), DeviceKind::mouse),
        P{});
}

TEST(Presets, ForAnotherModel) {
    EXPECT_TRUE(isForAnotherModel(DevicePreset::mxMaster3,
                                  DeviceMatch::device(VendorID{0x046D}, ProductID{0x4082})));
    EXPECT_TRUE(isForAnotherModel(DevicePreset::mxMaster3, DeviceMatch::builtIn()));
    EXPECT_TRUE(isForAnotherModel(DevicePreset::mxMaster3, mouse24));
    EXPECT_FALSE(isForAnotherModel(DevicePreset::mxMaster3, master));
    EXPECT_FALSE(isForAnotherModel(DevicePreset::mouse24G, mouse24));
    EXPECT_TRUE(isForAnotherModel(DevicePreset::mouse24G,
                                  DeviceMatch::device(VendorID{0x1EA7}, ProductID{0x0003})));
    EXPECT_FALSE(isForAnotherModel(DevicePreset::keyboard, DeviceMatch::builtIn()));
    EXPECT_FALSE(isForAnotherModel(DevicePreset::keyboard, master));
}

TEST(Presets, MasterProfile) {
    const DeviceProfile profile = presetProfile(DevicePreset::mxMaster3, master, "Desk mouse");
    EXPECT_EQ(profile.match, master);
    EXPECT_EQ(profile.name, "Desk mouse");
    ASSERT_TRUE(profile.rules);
    ASSERT_EQ(profile.rules->size(), 7u);
    EXPECT_EQ(profile.rules->at(1),
              (Rule{Control::hidpp(CID{0xC3}), Trigger::holdMove(Direction::down),
                    Action::system(SystemAction::appExpose)}));
    EXPECT_EQ(profile.rules->at(6),
              (Rule{Control::button(1), Trigger::holdMove(), Action::scroll()}));
    EXPECT_EQ(profile.gestures, (GestureSettings{GestureFire::pastDistance, 120}));
    EXPECT_EQ(profile.scrolling->smooth, SmoothScroll::defaults());
    EXPECT_FALSE(profile.kind);
    EXPECT_FALSE(profile.hyper);
    EXPECT_EQ(*ConfigCodec::compact(profile.rules->at(4)),
              R"({"control":{"hidpp":"0xC4"},"do":{"shortcut":"shift+cmd+4"},"when":"click"})");
    const DeviceProfile small = presetProfile(DevicePreset::mouse24G, mouse24, "m");
    EXPECT_EQ(*ConfigCodec::compact(small.rules->at(1)),
              R"({"control":{"key":"return"},"do":{"shortcut":"opt+shift+s"},"when":"click"})");
}

TEST(Presets, TextsAreTheCaseNames) {
    EXPECT_EQ(toText(DevicePreset::mxMaster3), "mxMaster3");
    EXPECT_EQ(toText(DevicePreset::mouse24G), "mouse24G");
    EXPECT_EQ(toText(DevicePreset::keyboard), "keyboard");
    for (DevicePreset preset : allCases<DevicePreset>()) {
        EXPECT_EQ(fromText<DevicePreset>(toText(preset)), preset);
    }
    EXPECT_EQ(fromText<DevicePreset>("Keyboard"), std::nullopt);
    EXPECT_EQ(fromText<DevicePreset>(""), std::nullopt);
}

TEST(Presets, EveryProfileRoundTripsAndValidates) {
    for (DevicePreset preset : allCases<DevicePreset>()) {
        Config config = Config::empty();
        config.devices.push_back(presetProfile(preset, DeviceMatch::builtIn(), "device"));
        EXPECT_EQ(ConfigCodec::validate(config), std::nullopt);
        auto bytes = ConfigCodec::encode(config);
        ASSERT_TRUE(bytes.ok());
        auto decoded = ConfigCodec::decode(*bytes);
        ASSERT_TRUE(decoded.ok()) << decoded.error().description();
        EXPECT_EQ(*decoded, config);
    }
}

TEST(Presets, KeyboardProfileIsWrittenWithThreeKeys) {
    const DeviceProfile profile =
        presetProfile(DevicePreset::keyboard, DeviceMatch::builtIn(), "Laptop keyboard");
    EXPECT_EQ(profile, (DeviceProfile{DeviceMatch::builtIn(), "Laptop keyboard", std::nullopt,
                                      std::nullopt, std::nullopt, std::nullopt, true}));
    Config config = Config::empty();
    config.devices.push_back(profile);
    const std::string bytes = *ConfigCodec::encode(config);
    EXPECT_NE(bytes.find("  \"devices\" : [\n"
                         "    {\n"
                         "      \"hyper\" : true,\n"
                         "      \"match\" : {\n"
                         "        \"builtIn\" : true\n"
                         "      },\n"
                         "      \"name\" : \"Laptop keyboard\"\n"
                         "    }\n"
                         "  ],\n"),
              std::string::npos)
        << bytes;
}

}  // namespace
}  // namespace tindlewave
