// Older forms of the configuration file: smooth scrolling described by a speed, a start boost and
// an acceleration instead of a curve, and hold-to-scroll on the right button as a switch of its own
// instead of a rule. They are read into current records and never written back.

#include <algorithm>

#include "Model/Json/ConfigReader.h"
#include "Model/Json/ConfigWalk.h"

namespace tindlewave::json {

namespace {

std::optional<SpeedCurve::LegacyAcceleration> readAcceleration(const Json& value,
                                                               const JsonPath& path) {
    if (value.is_boolean()) {
        if (!value.get<bool>()) return std::nullopt;
        return SpeedCurve::LegacyAcceleration{4, 40, 3};
    }
    const auto& object = readObject(value, path);
    SpeedCurve::LegacyAcceleration acceleration;
    acceleration.from = readDouble(requiredMember(object, "from", path), path.child("from"));
    acceleration.to = readDouble(requiredMember(object, "to", path), path.child("to"));
    acceleration.max = readDouble(requiredMember(object, "max", path), path.child("max"));
    return acceleration;
}

}  // namespace

SpeedCurve readLegacyCurve(const Json::object_t& smooth, const JsonPath& smoothPath,
                           double duration) {
    const Json* acceleration = optionalMember(smooth, "acceleration");
    const Json* speed = optionalMember(smooth, "speed");
    const Json* startBoost = optionalMember(smooth, "startBoost");
    if (!acceleration && !speed && !startBoost) return SpeedCurve::defaults();

    std::optional<SpeedCurve::LegacyAcceleration> ramp;
    if (acceleration) ramp = readAcceleration(*acceleration, smoothPath.child("acceleration"));
    const double baseSpeed = speed ? readDouble(*speed, smoothPath.child("speed")) : 40;
    const double boost = startBoost ? readDouble(*startBoost, smoothPath.child("startBoost")) : 2;
    return SpeedCurve::fromLegacy(baseSpeed, boost, ramp, duration / 10);
}

void convertRightButtonPan(const Json::object_t& device, const JsonPath& devicePath,
                           DeviceProfile& profile) {
    const Json* scrolling = optionalMember(device, "scrolling");
    if (!scrolling || !scrolling->is_object()) return;
    const Json* pan = optionalMember(scrolling->get_ref<const Json::object_t&>(), "rightButtonPan");
    if (!pan) return;

    // Each path frame points at its parent, so the parent must outlive it: no chained temporaries.
    const JsonPath scrollingPath = devicePath.child("scrolling");
    const JsonPath panPath = scrollingPath.child("rightButtonPan");
    const auto& object = readObject(*pan, panPath);
    const bool momentum =
        readBool(requiredMember(object, "momentum", panPath), panPath.child("momentum"));

    const Rule panRule{Control::button(1), Trigger::holdMove(), Action::scroll()};
    auto& rules = profile.rules;
    if (!rules) rules.emplace();
    const bool hasPan = std::any_of(rules->begin(), rules->end(), [&](const Rule& rule) {
        return rule.control == panRule.control && rule.trigger == panRule.trigger;
    });
    if (!hasPan) rules->push_back(panRule);

    if (!profile.scrolling) profile.scrolling.emplace();
    if (!profile.scrolling->holdToScroll) {
        profile.scrolling->holdToScroll = HoldToScroll{1.0, HoldScrollDirection::grab, momentum};
    }
}

}  // namespace tindlewave::json

namespace tindlewave::ConfigCodec {

const json::Json* legacySchema(std::string_view path, const json::Json& object) {
    using json::Json;
    static const Json smooth = {
        {"speed", 0},
        {"startBoost", 0},
        {"acceleration", {{"from", 0}, {"to", 0}, {"max", 0}}},
    };
    static const Json scrolling = {{"rightButtonPan", {{"momentum", false}}}};

    if (path.ends_with("scrolling.smooth") && object.is_object() && !object.contains("curve")) {
        return &smooth;
    }
    if (path.ends_with(".scrolling")) return &scrolling;
    return nullptr;
}

}  // namespace tindlewave::ConfigCodec
