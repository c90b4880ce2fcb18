// The checks that a configuration must pass after it was read, in their order. The first failing
// check is the one reported.

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
    for (std::size_t j = 0; j < rules.size(); ++j) {
        const Rule& rule = rules[j];
        const std::string path = fmt::format("{}.rules[{}]", prefix, j);
        if (const auto* button = rule.control.as<Control::Button>();
            button && !Control::buttonRange.contains(button->number)) {
            return ConfigError{path + ".control.button",
                               "must be between 1 and 31. 1 is the right button, and the left "
                               "button, 0, cannot have rules"};
        }
        if (auto problem = RuleShape::problem(rule)) {
            return ConfigError{path + "." + problem->key, problem->message};
        }
        for (std::size_t k = 0; k < j; ++k) {
            if (rules[k].control == rule.control && rules[k].trigger == rule.trigger) {
                return ConfigError{path,
                                   fmt::format("the same control and trigger as rules[{}]", k)};
            }
        }
        for (std::size_t k = 0; k < j; ++k) {
            if (rules[k].control != rule.control) continue;
            if (auto reason = rule.trigger.conflictReason(rules[k].trigger)) {
                return ConfigError{path + ".when",
                                   fmt::format("\"{}\" cannot share a control with rules[{}], "
                                               "because {}",
                                               rule.trigger.name(), k, *reason)};
            }
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<ConfigError> validate(const Config& config) {
    if (config.version != Config::currentVersion) {
        return ConfigError{"version", fmt::format("version {} is not supported", config.version)};
    }
    for (std::size_t i = 0; i < config.devices.size(); ++i) {
        const DeviceProfile& device = config.devices[i];
        const std::string prefix = fmt::format("devices[{}]", i);
        for (std::size_t k = 0; k < i; ++k) {
            if (config.devices[k].match == device.match) {
                return ConfigError{prefix + ".match",
                                   fmt::format("the same device as devices[{}]", k)};
            }
        }
        for (const DeviceMatch& ignored : config.ignored) {
            if (ignored == device.match) {
                return ConfigError{prefix + ".match", "this device is also in ignored"};
            }
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
