#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "Core/HIDPP/Feature.h"
#include "Core/HIDPP/Request.h"
#include "Model/Identifiers.h"
#include "Model/VariantRecord.h"

namespace tindlewave {

// One step of a link run: the request it sends and the words that name it in failure texts.
struct HIDPPStep {
    struct FindFeature {
        HIDPPFeature feature;
        bool operator==(const FindFeature&) const = default;
    };
    struct DescribeControl {
        std::uint8_t index;
        bool operator==(const DescribeControl&) const = default;
    };
    struct SetReporting {
        CID cid;
        ControlReporting reporting;
        bool operator==(const SetReporting&) const = default;
    };
    struct CheckReporting {
        CID cid;
        ControlReporting reporting;
        bool operator==(const CheckReporting&) const = default;
    };
    struct SetThumbWheel {
        ThumbWheelReporting reporting;
        bool operator==(const SetThumbWheel&) const = default;
    };
    struct CheckThumbWheel {
        ThumbWheelReporting reporting;
        bool operator==(const CheckThumbWheel&) const = default;
    };
    struct CountControls {
        bool operator==(const CountControls&) const = default;
    };
    // Root ping: the device echoes `data`. Sent only to learn that every answer the device still
    // owed to earlier copies of a request has arrived; never one of a run's own steps.
    struct Ping {
        std::uint8_t data;
        bool operator==(const Ping&) const = default;
    };

    std::variant<FindFeature, DescribeControl, SetReporting, CheckReporting, SetThumbWheel,
                 CheckThumbWheel, CountControls, Ping>
        value;

    static HIDPPStep findFeature(HIDPPFeature feature) { return {FindFeature{feature}}; }
    static HIDPPStep describeControl(std::uint8_t index) { return {DescribeControl{index}}; }
    static HIDPPStep setReporting(CID cid, ControlReporting reporting) {
        return {SetReporting{cid, reporting}};
    }
    static HIDPPStep checkReporting(CID cid, ControlReporting reporting) {
        return {CheckReporting{cid, reporting}};
    }
    static HIDPPStep setThumbWheel(ThumbWheelReporting reporting) {
        return {SetThumbWheel{reporting}};
    }
    static HIDPPStep checkThumbWheel(ThumbWheelReporting reporting) {
        return {CheckThumbWheel{reporting}};
    }
    static HIDPPStep countControls() { return {CountControls{}}; }
    static HIDPPStep ping(std::uint8_t data) { return {Ping{data}}; }

    HIDPPRequest request() const;
    // For example "find feature 0x1B04", "describe control 3", "divert 0xC3", "ping".
    std::string description() const;

    bool operator==(const HIDPPStep&) const = default;
};

// Why a run failed.
struct HIDPPFailure {
    struct TimedOut {
        HIDPPStep step;
        bool operator==(const TimedOut&) const = default;
    };
    struct DeviceError {
        HIDPPStep step;
        std::uint8_t code;
        bool operator==(const DeviceError&) const = default;
    };
    struct Mismatch {
        HIDPPStep step;
        bool operator==(const Mismatch&) const = default;
    };
    struct InconsistentDiscovery {
        bool operator==(const InconsistentDiscovery&) const = default;
    };

    std::variant<TimedOut, DeviceError, Mismatch, InconsistentDiscovery> value;

    static HIDPPFailure timedOut(HIDPPStep step) { return {TimedOut{std::move(step)}}; }
    static HIDPPFailure deviceError(HIDPPStep step, std::uint8_t code) {
        return {DeviceError{std::move(step), code}};
    }
    static HIDPPFailure mismatch(HIDPPStep step) { return {Mismatch{std::move(step)}}; }
    static HIDPPFailure inconsistentDiscovery() { return {InconsistentDiscovery{}}; }

    // For example "no reply to count controls" or "divert 0xC3 failed with HID++ error 5".
    std::string description() const;

    bool operator==(const HIDPPFailure&) const = default;
};

// How an apply ended.
struct HIDPPOutcome {
    struct Failed {
        HIDPPFailure failure;
        bool operator==(const Failed&) const = default;
    };
    struct Applied {
        bool operator==(const Applied&) const = default;
    };

    std::variant<Failed, Applied> value;

    static HIDPPOutcome failed(HIDPPFailure failure) { return {Failed{std::move(failure)}}; }
    static HIDPPOutcome applied() { return {Applied{}}; }

    bool operator==(const HIDPPOutcome&) const = default;
};

}  // namespace tindlewave
