#include "Model/Presets.h"

#include "Model/EnumTextTable.h"

#include <array>
#include <optional>

namespace tindlewave {

namespace {

// The model each mouse preset is made for; `keyboard` has none.
std::optional<DeviceMatch> model(DevicePreset preset) {
    switch (preset) {
        case DevicePreset::mxMaster3:
            return DeviceMatch::device(VendorID::logitech, ProductID{0xB023});
        case DevicePreset::mouse24G:
            return DeviceMatch::device(VendorID{0x1EA7}, ProductID{0x0002});
        case DevicePreset::keyboard:
            return std::nullopt;
    }
    return std::nullopt;
}

// The table's keys are always there; a missing one is a fault of the table itself.
HIDUsage usageNamed(std::string_view name) {
    return HIDUsage::named(name).value();
}
KeyCode keyNamed(std::string_view name) {
    return KeyCode::named(name).value();
}

std::vector<Rule> mxMaster3Rules() {
    const Control thumb = Control::hidpp(CID{0xC3});
    return {
        {thumb, Trigger::click(), Action::system(SystemAction::missionControl)},
        {thumb, Trigger::holdMove(Direction::down), Action::system(SystemAction::appExpose)},
        {thumb, Trigger::holdMove(Direction::left), Action::system(SystemAction::spaceLeft)},
        {thumb, Trigger::holdMove(Direction::right), Action::system(SystemAction::spaceRight)},
        {Control::hidpp(CID{0xC4}), Trigger::click(),
         Action::shortcut(Chord{keyNamed("4"), Modifiers::shift | Modifiers::command})},
        {Control::thumbWheel(), Trigger::scroll(), Action::reverse()},
        {Control::button(1), Trigger::holdMove(), Action::scroll()},
    };
}

std::vector<Rule> mouse24GRules() {
    return {
        {Control::key(usageNamed("escape")), Trigger::hold(),
         Action::modifier(HeldModifier::rightOption)},
        {Control::key(usageNamed("return")), Trigger::click(),
         Action::shortcut(Chord{keyNamed("s"), Modifiers::option | Modifiers::shift})},
    };
}

}  // namespace

template <>
std::span<const DevicePreset> allCases<DevicePreset>() {
    static constexpr std::array cases{DevicePreset::mxMaster3, DevicePreset::mouse24G,
                                      DevicePreset::keyboard};
    return cases;
}

std::string_view toText(DevicePreset preset) {
    switch (preset) {
        case DevicePreset::mxMaster3:
            return "mxMaster3";
        case DevicePreset::mouse24G:
            return "mouse24G";
        case DevicePreset::keyboard:
            return "keyboard";
    }
    return "";
}

template <>
std::optional<DevicePreset> fromText<DevicePreset>(std::string_view text) {
    return caseWithText(allCases<DevicePreset>(), text);
}

DeviceProfile presetProfile(DevicePreset preset, const DeviceMatch& match, std::string name) {
    DeviceProfile profile{match, std::move(name)};
    switch (preset) {
        case DevicePreset::mxMaster3:
            profile.rules = mxMaster3Rules();
            profile.gestures = GestureSettings{GestureFire::pastDistance, 120};
            profile.scrolling = ScrollSettings{SmoothScroll::defaults(), true,
                                               HoldToScroll{1.0, HoldScrollDirection::grab, true},
                                               ClickThrough{true, true}};
            break;
        case DevicePreset::mouse24G:
            profile.kind = DeviceKind::mouse;
            profile.rules = mouse24GRules();
            break;
        case DevicePreset::keyboard:
            profile.hyper = true;
            break;
    }
    return profile;
}

std::vector<DevicePreset> offeredPresets(const DeviceMatch& match, DeviceKind kind) {
    std::vector<DevicePreset> offered;
    if (is<DeviceMatch::Device>(match)) {
        for (DevicePreset preset : {DevicePreset::mxMaster3, DevicePreset::mouse24G}) {
            if (model(preset) == match) {
                offered.push_back(preset);
                break;
            }
        }
    }
    if (kind == DeviceKind::keyboard) offered.push_back(DevicePreset::keyboard);
    return offered;
}

bool isForAnotherModel(DevicePreset preset, const DeviceMatch& match) {
    const auto made = model(preset);
    return made && *made != match;
}

}  // namespace tindlewave
