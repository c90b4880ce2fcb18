#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>

namespace tindlewave {

// The HID++ 2.0 features the program uses, by feature id. The case order is part of the data.
enum class HIDPPFeature : std::uint16_t {
    root = 0x0000,            // finds the index of the other features
    reprogControls = 0x1B04,  // counts, describes and diverts controls; button and movement notices
    wirelessStatus = 0x1D4B,  // the broadcast that asks for a reconfiguration after a reconnect
    thumbWheel = 0x2150,      // thumb-wheel reporting and rotation notices
};

inline constexpr std::array<HIDPPFeature, 4> allHIDPPFeatures = {
    HIDPPFeature::root, HIDPPFeature::reprogControls, HIDPPFeature::wirelessStatus,
    HIDPPFeature::thumbWheel};

constexpr std::uint16_t rawValue(HIDPPFeature feature) {
    return static_cast<std::uint16_t>(feature);
}

// Exactly the four known ids; any other id is no feature.
constexpr std::optional<HIDPPFeature> hidppFeature(std::uint16_t id) {
    for (HIDPPFeature feature : allHIDPPFeatures) {
        if (rawValue(feature) == id) return feature;
    }
    return std::nullopt;
}

// A device's feature table as found by discovery, in both directions. The root feature is always
// at index 0.
struct FeatureMap {
    std::map<HIDPPFeature, std::uint8_t> indices;   // feature to its index
    std::map<std::uint8_t, HIDPPFeature> features;  // index back to the feature

    FeatureMap() { record(HIDPPFeature::root, 0); }

    // Records the feature at the index in both directions. Earlier entries are kept, so a second
    // feature at one index (a crossed reply) stays visible in `indices`.
    void record(HIDPPFeature feature, std::uint8_t index) {
        indices[feature] = index;
        features[index] = feature;
    }

    std::optional<std::uint8_t> index(HIDPPFeature feature) const {
        auto found = indices.find(feature);
        if (found == indices.end()) return std::nullopt;
        return found->second;
    }

    std::optional<HIDPPFeature> feature(std::uint8_t index) const {
        auto found = features.find(index);
        if (found == features.end()) return std::nullopt;
        return found->second;
    }

    bool operator==(const FeatureMap&) const = default;
};

}  // namespace tindlewave
