// The log line of each edit: SettingsEdit::logDescription.

#include <array>
#include <charconv>
#include <cmath>

#include "Core/Overloaded.h"
#include "Model/ConfigCodec.h"
#include "Settings/Model/Edits/SettingsEdit.h"

namespace tindlewave {

namespace {

// A value in its file form as compact JSON, or "?" when it cannot be written.
template <class T>
std::string json(const T& value) {
    auto text = ConfigCodec::compact(value);
    return text.ok() ? std::move(text).value() : std::string("?");
}

// The shortest text that reads back as the same number, with a point and no grouping or exponent:
// "0.3", "2", "120".
std::string numberText(double number) {
    if (std::isnan(number)) return "NaN";
    if (std::isinf(number)) return number < 0 ? "-inf" : "inf";
    std::array<char, 400> buffer{};
    auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), number,
                                std::chars_format::fixed);
    return std::string(buffer.data(), result.ptr);
}

const char* boolText(bool value) {
    return value ? "true" : "false";
}

std::string ruleKeyText(const RuleKey& key) {
    return json(key.control) + " " + key.trigger.name();
}

std::string sourceText(const ProfileSource& source) {
    return std::visit(
        Overloaded{
            [](const ProfileSource::Preset& s) {
                return " from preset " + std::string(toText(s.preset));
            },
            [](const ProfileSource::Copy& s) { return " from copy of " + json(s.of); },
            [](const ProfileSource::Blank&) { return std::string(" blank"); },
        },
        source.value);
}

// The text after "devices[M]" for the edits that change one configured device.
struct DeviceChange {
    std::string operator()(const SettingsEdit::HyperOn& e) const {
        return std::string(".hyper = ") + boolText(e.on);
    }
    std::string operator()(const SettingsEdit::Rename& e) const { return ".name = " + json(e.name); }
    std::string operator()(const SettingsEdit::Kind& e) const {
        return ".kind = " + std::string(toText(e.kind));
    }
    std::string operator()(const SettingsEdit::AddRule& e) const {
        return ".rules += " + json(e.rule);
    }
    std::string operator()(const SettingsEdit::ReplaceRule& e) const {
        return ".rules[" + ruleKeyText(e.key) + "] = " + json(e.rule);
    }
    std::string operator()(const SettingsEdit::RemoveRule& e) const {
        return ".rules -= " + ruleKeyText(e.key);
    }
    std::string operator()(const SettingsEdit::GestureFire& e) const {
        return ".gestures.fire = " + std::string(toText(e.fire));
    }
    std::string operator()(const SettingsEdit::GestureDistance& e) const {
        return ".gestures.distance = " + std::to_string(e.distance);
    }
    std::string operator()(const SettingsEdit::Smooth& e) const {
        return ".scrolling.smooth = " + (e.value ? json(*e.value) : std::string("none"));
    }
    std::string operator()(const SettingsEdit::SmoothKnob& e) const {
        return ".scrolling.smooth." + std::string(toText(e.knob)) + " = " + numberText(e.value);
    }
    std::string operator()(const SettingsEdit::Curve& e) const {
        return ".scrolling.smooth.curve = " + json(e.curve);
    }
    std::string operator()(const SettingsEdit::HoldToScroll& e) const {
        return ".scrolling.holdToScroll = " + json(e.value);
    }
};

}  // namespace

std::string SettingsEdit::logDescription() const {
    return std::visit(
        Overloaded{
            [](const HyperKey& e) { return "hyper.key = " + e.usage.name().value_or("?"); },
            [](const HyperEnabled& e) { return std::string("hyper.enabled = ") + boolText(e.on); },
            [](const AddDevice& e) { return "devices += " + json(e.match) + sourceText(e.source); },
            [](const Forget& e) { return "devices -= " + json(e.match); },
            [](const Ignore& e) {
                return std::string(e.ignore ? "ignored += " : "ignored -= ") + json(e.match);
            },
            [](const auto& e) { return "devices[" + json(e.match) + "]" + DeviceChange{}(e); },
        },
        value);
}

}  // namespace tindlewave
