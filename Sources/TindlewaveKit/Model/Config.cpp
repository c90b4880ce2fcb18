#include "Model/Config.h"

#include <array>

#include "Model/EnumTextTable.h"

namespace tindlewave {
namespace {

constexpr std::array<HyperTap, 1> hyperTapCases{HyperTap::nothing};
constexpr std::array<DeviceKind, 2> deviceKindCases{DeviceKind::keyboard, DeviceKind::mouse};
constexpr std::array<GestureFire, 2> gestureFireCases{GestureFire::pastDistance,
                                                      GestureFire::onRelease};
constexpr std::array<HoldScrollDirection, 2> holdScrollDirectionCases{HoldScrollDirection::grab,
                                                                      HoldScrollDirection::wheel};

}  // namespace

std::string_view toText(HyperTap tap) {
    switch (tap) {
        case HyperTap::nothing:
            return "nothing";
    }
    return "";
}

template <>
std::span<const HyperTap> allCases<HyperTap>() {
    return hyperTapCases;
}

template <>
std::optional<HyperTap> fromText<HyperTap>(std::string_view text) {
    return caseWithText(allCases<HyperTap>(), text);
}

std::string_view toText(DeviceKind kind) {
    switch (kind) {
        case DeviceKind::keyboard:
            return "keyboard";
        case DeviceKind::mouse:
            return "mouse";
    }
    return "";
}

template <>
std::span<const DeviceKind> allCases<DeviceKind>() {
    return deviceKindCases;
}

template <>
std::optional<DeviceKind> fromText<DeviceKind>(std::string_view text) {
    return caseWithText(allCases<DeviceKind>(), text);
}

std::string_view toText(GestureFire fire) {
    switch (fire) {
        case GestureFire::pastDistance:
            return "pastDistance";
        case GestureFire::onRelease:
            return "onRelease";
    }
    return "";
}

template <>
std::span<const GestureFire> allCases<GestureFire>() {
    return gestureFireCases;
}

template <>
std::optional<GestureFire> fromText<GestureFire>(std::string_view text) {
    return caseWithText(allCases<GestureFire>(), text);
}

std::string_view toText(HoldScrollDirection direction) {
    switch (direction) {
        case HoldScrollDirection::grab:
            return "grab";
        case HoldScrollDirection::wheel:
            return "wheel";
    }
    return "";
}

template <>
std::span<const HoldScrollDirection> allCases<HoldScrollDirection>() {
    return holdScrollDirectionCases;
}

template <>
std::optional<HoldScrollDirection> fromText<HoldScrollDirection>(std::string_view text) {
    return caseWithText(allCases<HoldScrollDirection>(), text);
}

const SmoothScroll& SmoothScroll::defaults() {
    static const SmoothScroll value{4, 2, defaultEaseIn, SpeedCurve::defaults()};
    return value;
}

const Config& Config::empty() {
    static const Config value{
        currentVersion,
        HyperSettings{true, *HIDUsage::named("capslock"), HyperTap::nothing},
        {},
        {},
    };
    return value;
}

}  // namespace tindlewave
