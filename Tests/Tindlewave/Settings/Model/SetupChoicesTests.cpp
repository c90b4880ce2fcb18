#include <gtest/gtest.h>

#include "Settings/Model/Devices/SetupChoices.h"

namespace tindlewave {
namespace {

const DeviceMatch master = DeviceMatch::device(VendorID{0x046D}, ProductID{0xB023});
const DeviceMatch plainMouse = DeviceMatch::device(VendorID{0x1234}, ProductID{0x0001});
const DeviceMatch otherMouse = DeviceMatch::device(VendorID{0x1234}, ProductID{0x0002});
const DeviceMatch board = DeviceMatch::device(VendorID{0x05AC}, ProductID{0x0250});

SettingsDevice newDevice(DeviceMatch match, DeviceKind kind) {
    return {match, "New", kind};
}

DeviceProfile withRules(DeviceMatch match, std::string name) {
    DeviceProfile profile{match, std::move(name)};
    profile.rules = std::vector<Rule>{{Control::button(3), Trigger::click(), Action::reverse()}};
    return profile;
}

TEST(SetupChoices, AMouseWithoutPresetGetsBlankAlone) {
    Config config = Config::empty();
    config.devices.push_back({DeviceMatch::builtIn(), "Laptop"});
    const auto choices = SetupChoices::make(newDevice(plainMouse, DeviceKind::mouse), config);
    EXPECT_EQ(choices, (SetupChoices{ProfileSource::blank(), {}}));
}

TEST(SetupChoices, PresetFirstThenBlankThenCopies) {
    Config config = Config::empty();
    config.devices.push_back(withRules(plainMouse, "Plain"));
    config.devices.push_back({otherMouse, "Blank one"});                     // blank: never copied
    config.devices.push_back(presetProfile(DevicePreset::mxMaster3, master, "MX"));  // its preset
    DeviceProfile keyboardRules = withRules(board, "Board");
    keyboardRules.kind = DeviceKind::keyboard;
    config.devices.push_back(keyboardRules);  // another kind

    // A mouse of the preset's model (same ids): the preset's own profile is not offered again.
    const auto forMaster = SetupChoices::make(newDevice(master, DeviceKind::mouse), config);
    EXPECT_EQ(forMaster, (SetupChoices{ProfileSource::preset(DevicePreset::mxMaster3),
                                       {ProfileSource::blank(), ProfileSource::copy(plainMouse)}}));

    // A mouse of another model may copy the preset's profile.
    const DeviceMatch unknown = DeviceMatch::device(VendorID{0x4444}, ProductID{0x0001});
    const auto forOther = SetupChoices::make(newDevice(unknown, DeviceKind::mouse), config);
    EXPECT_EQ(forOther, (SetupChoices{ProfileSource::blank(),
                                      {ProfileSource::copy(plainMouse), ProfileSource::copy(master)}}));
}

TEST(SetupChoices, AKeyboardGetsTheKeyboardPresetAndKeyboardCopies) {
    Config config = Config::empty();
    config.devices.push_back(presetProfile(DevicePreset::keyboard, DeviceMatch::builtIn(), "Laptop"));
    DeviceProfile switched{plainMouse, "Switched"};
    switched.hyper = false;  // a hyper-key switch makes it a keyboard
    config.devices.push_back(switched);
    config.devices.push_back(withRules(otherMouse, "Mouse"));
    const auto choices = SetupChoices::make(newDevice(board, DeviceKind::keyboard), config);
    EXPECT_EQ(choices, (SetupChoices{ProfileSource::preset(DevicePreset::keyboard),
                                     {ProfileSource::copy(plainMouse)}}));
}

}  // namespace
}  // namespace tindlewave
