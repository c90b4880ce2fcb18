// The checks that a configuration must pass after it was read, in their order. The first failing
// check is the one reported.

#include <unordered_map>
#include <unordered_set>

#include <fmt/format.h>

#include "Model/ConfigCodec.h"
#include "Model/RuleShape.h"

namespace tindlewave::ConfigCodec {

namespace {

template <class T>
std::string rangeMessage(ClosedRange<T> range) {
    return fmt::format("must be between {:g} and {:g}", static_cast<double>(range.lo),
                       static_cast<double>(range.hi));
}

std::optional<ConfigError> validateScrolling(const ScrollSettings& scrolling,
                                             const std::string& prefix) {
    if (scrolling.holdToScroll &&
        !HoldToScroll::speedRange.contains(scrolling.holdToScroll->speed)) {
        return ConfigError{prefix + ".holdToScroll.speed", rangeMessage(HoldToScroll::speedRange)};
    }
    if (const auto& smooth = scrolling.smooth) {
        if (!SmoothScroll::durationRange.contains(smooth->duration)) {
            return ConfigError{prefix + ".smooth.duration",
                               rangeMessage(SmoothScroll::durationRange)};
        }
        if (!SmoothScroll::brakeRange.contains(smooth->brake)) {
            return ConfigError{prefix + ".smooth.brake", rangeMessage(SmoothScroll::brakeRange)};
        }
        if (!SmoothScroll::easeInRange.contains(smooth->easeIn)) {
            return ConfigError{prefix + ".smooth.easeIn", rangeMessage(SmoothScroll::easeInRange)};
        }
    }
    return std::nullopt;
}

std::optional<ConfigError> validateRules(const std::vector<Rule>& rules,
                                         const std::string& prefix) {
    // The earlier rules of each control, in order: at most one per trigger, since a second one
    // is refused, so each rule is checked against a handful.
    std::unordered_map<Control, std::vector<std::size_t>> earlier;
    for (std::size_t j = 0; j < rules.size(); ++j) {
        const Rule& rule = rules[j];
        const std::string path = fmt::format("{}.rules[{}]", prefix, j);
        if (const auto* button = as<Control::Button>(rule.control);
            button && !Control::buttonRange.contains(button->number)) {
            return ConfigError{path + ".control.button",
                               "must be between 1 and 31. 1 is the right button, and the left "
                               "button, 0, cannot have rules"};
        }
        if (auto problem = RuleShape::problem(rule)) {
            return ConfigError{path + "." + problem->key, problem->message};
        }
        auto& sameControl = earlier[rule.control];
        for (std::size_t k : sameControl) {
            if (rules[k].trigger == rule.trigger) {
                return ConfigError{path,
                                   fmt::format("the same control and trigger as rules[{}]", k)};
            }
        }
        for (std::size_t k : sameControl) {
            if (auto reason = rule.trigger.conflictReason(rules[k].trigger)) {
                return ConfigError{path + ".when",
                                   fmt::format("\"{}\" cannot share a control with rules[{}], "
                                               "because {}",
                                               rule.trigger.name(), k, *reason)};
            }
        }
        sameControl.push_back(j);
    }
    return std::nullopt;
}

}  // namespace

std::optional<ConfigError> validate(const Config& config) {
    if (config.version != Config::currentVersion) {
        return ConfigError{"version", fmt::format("version {} is not supported", config.version)};
    }
    // Each device's first profile (a second one is refused), and the ignored devices: every
    // check is a look-up, so a file with many devices is checked in time linear in its size.
    std::unordered_map<DeviceMatch, std::size_t> first;
    const std::unordered_set<DeviceMatch> ignored(config.ignored.begin(), config.ignored.end());
    for (std::size_t i = 0; i < config.devices.size(); ++i) {
        const DeviceProfile& device = config.devices[i];
        const std::string prefix = fmt::format("devices[{}]", i);
        if (auto [at, added] = first.try_emplace(device.match, i); !added) {
            return ConfigError{prefix + ".match",
                               fmt::format("the same device as devices[{}]", at->second)};
        }
        if (ignored.contains(device.match)) {
            return ConfigError{prefix + ".match", "this device is also in ignored"};
        }
        if (device.gestures &&
            !GestureSettings::distanceRange.contains(device.gestures->distance)) {
            return ConfigError{
                prefix + ".gestures.distance",
                fmt::format("must be between {} and {}", GestureSettings::distanceRange.lo,
                            GestureSettings::distanceRange.hi)};
        }
        if (device.scrolling) {
            if (auto problem = validateScrolling(*device.scrolling, prefix + ".scrolling")) {
                return problem;
            }
        }
        if (device.rules) {
            if (auto problem = validateRules(*device.rules, prefix)) return problem;
        }
    }
    return std::nullopt;
}

}  // namespace tindlewave::ConfigCodec
