#include "Settings/Model/Devices/DeviceControlTexts.h"

namespace tindlewave {

std::string setUpButtonTitle(const ProfileSource& suggested) {
    if (const auto* preset = as<ProfileSource::Preset>(suggested)) {
        switch (preset->preset) {
        case DevicePreset::mxMaster3: return "Set Up as MX Master 3";
        case DevicePreset::mouse24G: return "Set Up as 2.4G Mouse";
        case DevicePreset::keyboard: return "Set Up with Hyper Key";
        }
    }
    return "Set Up";
}

std::string mousePopupLabel(const SettingsDevice& mouse) {
    return mouse.isNew() ? mouse.name + " (New)" : mouse.name;
}

}  // namespace tindlewave
