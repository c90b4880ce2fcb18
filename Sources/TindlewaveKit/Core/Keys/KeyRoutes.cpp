#include "Core/Keys/KeyRoutes.h"

#include <algorithm>

#include "Model/HexCoding.h"

namespace tindlewave {

const std::vector<Carrier>& Carrier::all() {
    static const std::vector<Carrier> table = {
        {HIDUsage{0x68}, KeyCode{105}},  // F13
        {HIDUsage{0x69}, KeyCode{107}},  // F14
        {HIDUsage{0x6A}, KeyCode{113}},  // F15
        {HIDUsage{0x6B}, KeyCode{106}},  // F16
        {HIDUsage{0x6C}, KeyCode{64}},   // F17
        {HIDUsage{0x6D}, KeyCode{79}},   // F18
        {HIDUsage{0x6E}, KeyCode{80}},   // F19
        {HIDUsage{0x6F}, KeyCode{90}},   // F20
    };
    return table;
}

const Carrier& Carrier::hyperKey() {
    return all()[5];
}

const std::vector<Carrier>& Carrier::forKeyRules() {
    static const std::vector<Carrier> pool = [] {
        std::vector<Carrier> carriers;
        for (const Carrier& c : all()) {
            if (!(c == hyperKey())) carriers.push_back(c);
        }
        return carriers;
    }();
    return pool;
}

HIDUsage KeyTarget::usage() const {
    if (const auto* native = as<Native>(*this)) return native->usage;
    return std::get<Carrier>(value).carrier.usage;
}

const KeyMapSetup& KeyMapSetup::neutral() {
    static const KeyMapSetup none{};
    return none;
}

std::string KeyMapSetup::userKeyMappingJSON() const {
    std::string text = R"({"UserKeyMapping":[)";
    for (std::size_t i = 0; i < routes.size(); ++i) {
        if (i > 0) text += ",";
        text += R"({"HIDKeyboardModifierMappingSrc":)";
        text += hexText(keyboardPageBase + routes[i].source.rawValue);
        text += R"(,"HIDKeyboardModifierMappingDst":)";
        text += hexText(keyboardPageBase + routes[i].target.usage().rawValue);
        text += "}";
    }
    text += "]}";
    return text;
}

std::optional<KeyMapSetup> KeyMapSetup::tindlewaveLeftover(const std::set<Pair>& pairs) {
    KeyMapSetup leftover;
    for (const Pair& pair : pairs) {
        const auto carrier =
            std::find_if(Carrier::all().begin(), Carrier::all().end(), [&](const Carrier& c) {
                return pair.destination == keyboardPageBase + c.usage.rawValue;
            });
        if (carrier == Carrier::all().end()) continue;  // the user's or another program's
        leftover.routes.push_back(
            {HIDUsage{static_cast<std::uint16_t>(pair.source & 0xFFFF)},
             KeyTarget::carrier(*carrier, CarrierMeaning::holdModifiers(Modifiers{}))});
    }
    if (leftover.routes.empty()) return std::nullopt;
    return leftover;
}

}  // namespace tindlewave
