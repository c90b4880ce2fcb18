#include "Platform/Simulated/HID/VirtualHidppMouse.h"

#include <algorithm>

namespace tindlewave {

namespace {

constexpr std::uint8_t longReportId = 0x11;
constexpr std::size_t longReportSize = 20;
constexpr std::uint8_t errorFeatureIndex = 0xFF;

// Set-reporting flag bits of a reprogrammable control.
constexpr std::uint8_t divertBit = 0x01;
constexpr std::uint8_t divertValidBit = 0x02;
constexpr std::uint8_t rawXYBit = 0x10;
constexpr std::uint8_t rawXYValidBit = 0x20;

std::uint8_t high(std::uint16_t value) {
    return static_cast<std::uint8_t>(value >> 8);
}
std::uint8_t low(std::uint16_t value) {
    return static_cast<std::uint8_t>(value & 0xFF);
}
std::uint16_t word(std::uint8_t hi, std::uint8_t lo) {
    return static_cast<std::uint16_t>((hi << 8) | lo);
}

}  // namespace

bool VirtualMouseFaults::any() const {
    const bool errorsLeft = std::any_of(errors.begin(), errors.end(),
                                        [](const ErrorOn& error) { return error.times > 0; });
    return dropReplies > 0 || delayReplies > 0 || errorsLeft || crossReplies > 0 ||
           corruptReadBacks > 0 || foreignSoftwareId > 0 || shortReports > 0;
}

VirtualHidppMouse::VirtualHidppMouse(VirtualMouseDescription description)
    : description_(std::move(description)) {
    for (const auto& info : description_.controls) controls_.push_back({info, {}});
    if (description_.thumbWheel) wheel_ = ThumbWheelReporting{};
}

void VirtualHidppMouse::write(std::span<const std::uint8_t> report, Instant now) {
    received_.emplace_back(report.begin(), report.end());
    if (report.size() != longReportSize || report[0] != longReportId ||
        report[1] != description_.deviceIndex) {
        return;
    }
    const Request request{report[2], static_cast<std::uint8_t>(report[3] >> 4),
                          static_cast<std::uint8_t>(report[3] & 0x0F), report.subspan(4)};

    // A reply held back for crossing goes out first, so the host reads it as this one's reply.
    if (staleReply_) {
        sendReply(std::move(*staleReply_), now + replyLatency);
        staleReply_.reset();
    }

    Answer result = answer(request);
    const std::uint8_t functionAndId =
        static_cast<std::uint8_t>((request.function << 4) | request.softwareId);
    Report reply;
    if (result.error) {
        // Error report: 0xFF in place of the feature index, then the request's index, function
        // and software id, and the code.
        const std::uint8_t params[] = {functionAndId, *result.error};
        reply = longReport(errorFeatureIndex, request.featureIndex, params);
    } else {
        if (result.readBackByte && faults.corruptReadBacks > 0) {
            --faults.corruptReadBacks;
            result.params[*result.readBackByte] ^= 0x01;
        }
        reply = longReport(request.featureIndex, functionAndId, result.params);
    }

    if (faults.dropReplies > 0) {
        --faults.dropReplies;
        return;
    }
    if (faults.foreignSoftwareId > 0) {
        --faults.foreignSoftwareId;
        // Error reports carry the software id in byte 4, replies in byte 3.
        std::uint8_t& id = result.error ? reply[4] : reply[3];
        const std::uint8_t foreign = (id & 0x0F) == 0x01 ? 0x02 : 0x01;
        id = static_cast<std::uint8_t>((id & 0xF0) | foreign);
    }
    if (faults.shortReports > 0) {
        --faults.shortReports;
        reply.resize(longReportSize - 1);
    }
    Instant at = now + replyLatency;
    if (faults.delayReplies > 0) {
        --faults.delayReplies;
        at += faults.delayBy;
    }
    if (faults.crossReplies > 0) {
        --faults.crossReplies;
        staleReply_ = reply;
    }
    sendReply(std::move(reply), at);
}

std::optional<Instant> VirtualHidppMouse::nextReportAt() const {
    if (outgoing_.empty()) return std::nullopt;
    return outgoing_.front().at;
}

std::vector<VirtualHidppMouse::Report> VirtualHidppMouse::takeReports(Instant now) {
    std::vector<Report> due;
    while (!outgoing_.empty() && outgoing_.front().at <= now) {
        due.push_back(std::move(outgoing_.front().bytes));
        outgoing_.pop_front();
    }
    return due;
}

void VirtualHidppMouse::press(std::uint16_t cid, Instant now) {
    const ControlState* state = control(cid);
    if (state == nullptr || std::find(down_.begin(), down_.end(), cid) != down_.end()) return;
    down_.push_back(cid);
    if (state->reporting.divert) divertedButtonsChanged(now);
}

void VirtualHidppMouse::release(std::uint16_t cid, Instant now) {
    const auto found = std::find(down_.begin(), down_.end(), cid);
    if (found == down_.end()) return;
    down_.erase(found);
    const ControlState* state = control(cid);
    if (state != nullptr && state->reporting.divert) divertedButtonsChanged(now);
}

void VirtualHidppMouse::move(std::int16_t dx, std::int16_t dy, Instant now) {
    const bool raw = std::any_of(down_.begin(), down_.end(), [&](std::uint16_t cid) {
        const ControlState* state = control(cid);
        return state != nullptr && state->reporting.rawXY;
    });
    if (!raw) return;
    const auto x = static_cast<std::uint16_t>(dx);
    const auto y = static_cast<std::uint16_t>(dy);
    const std::uint8_t params[] = {high(x), low(x), high(y), low(y)};
    sendNotice(VirtualMouseDescription::reprogControlsFeature, 1, params, now);
}

void VirtualHidppMouse::turnThumbWheel(std::int16_t rotation, Instant now) {
    if (!wheel_ || !wheel_->diverted || rotation == 0) return;
    const auto value = static_cast<std::uint16_t>(rotation);
    wheelTimestamp_ = static_cast<std::uint16_t>(wheelTimestamp_ + 8);
    const std::uint8_t params[] = {high(value), low(value), high(wheelTimestamp_),
                                   low(wheelTimestamp_), 0x02 /* rotation under way */};
    sendNotice(VirtualMouseDescription::thumbWheelFeature, 0, params, now);
}

void VirtualHidppMouse::reconnect(Instant now, bool askForConfiguration) {
    for (auto& state : controls_) state.reporting = {};
    if (wheel_) wheel_ = ThumbWheelReporting{};
    down_.clear();
    outgoing_.clear();
    staleReply_.reset();
    lastReplyAt_.reset();
    // Status 1 (reconnection), request (1: the host must configure the device again), reason 1.
    const std::uint8_t params[] = {0x01, static_cast<std::uint8_t>(askForConfiguration ? 1 : 0),
                                   0x01};
    sendNotice(VirtualMouseDescription::wirelessStatusFeature, 0, params, now);
}

std::optional<VirtualHidppMouse::ControlReporting> VirtualHidppMouse::reporting(
    std::uint16_t cid) const {
    const ControlState* state = control(cid);
    if (state == nullptr) return std::nullopt;
    return state->reporting;
}

std::optional<VirtualHidppMouse::ThumbWheelReporting> VirtualHidppMouse::thumbWheelReporting()
    const {
    return wheel_;
}

VirtualHidppMouse::Answer VirtualHidppMouse::answer(const Request& request) {
    if (request.featureIndex >= description_.features.size()) {
        return Answer::failure(invalidFeatureIndex);
    }
    const std::uint16_t featureId = description_.features[request.featureIndex].id;
    std::uint8_t code = 0;
    if (failsOnPurpose(featureId, request, code)) return Answer::failure(code);
    switch (featureId) {
        case VirtualMouseDescription::rootFeature:
            return root(request);
        case VirtualMouseDescription::reprogControlsFeature:
            return reprogControls(request);
        case VirtualMouseDescription::thumbWheelFeature:
            return thumbWheel(request);
        default:
            // Features that are listed but not modelled answer no function.
            return Answer::failure(invalidFunction);
    }
}

bool VirtualHidppMouse::failsOnPurpose(std::uint16_t featureId, const Request& request,
                                       std::uint8_t& code) {
    for (auto& error : faults.errors) {
        if (error.times <= 0 || error.featureId != featureId ||
            error.function != request.function) {
            continue;
        }
        if (error.cid && *error.cid != word(request.params[0], request.params[1])) continue;
        --error.times;
        code = error.code;
        return true;
    }
    return false;
}

VirtualHidppMouse::Answer VirtualHidppMouse::root(const Request& request) const {
    const auto& params = request.params;
    switch (request.function) {
        case 0: {  // getFeature(id): index, type, version; index 0 when the feature is missing
            const std::uint16_t id = word(params[0], params[1]);
            const std::uint8_t index = description_.indexOf(id);
            const std::uint8_t flags = index == 0 ? 0 : description_.features[index].flags;
            return Answer::success({index, flags, 0});
        }
        case 1:  // ping: protocol version and the ping byte back
            return Answer::success(
                {description_.protocolMajor, description_.protocolMinor, params[2]});
        default:
            return Answer::failure(invalidFunction);
    }
}

VirtualHidppMouse::Answer VirtualHidppMouse::reprogControls(const Request& request) {
    const auto& params = request.params;
    switch (request.function) {
        case 0:  // getCount
            return Answer::success({static_cast<std::uint8_t>(controls_.size())});
        case 1: {  // getCidInfo(index)
            if (params[0] >= controls_.size()) return Answer::failure(invalidArgument);
            const auto& info = controls_[params[0]].info;
            return Answer::success({high(info.cid), low(info.cid), high(info.tid), low(info.tid),
                                    info.flags, info.pos, info.group, info.groupMask,
                                    info.additionalFlags});
        }
        case 2: {  // getCidReporting(cid)
            const ControlState* state = control(word(params[0], params[1]));
            if (state == nullptr) return Answer::failure(invalidArgument);
            const auto flags = static_cast<std::uint8_t>((state->reporting.divert ? divertBit : 0) |
                                                         (state->reporting.rawXY ? rawXYBit : 0));
            return Answer::success({params[0], params[1], flags, 0, 0}, 2);
        }
        case 3: {  // setCidReporting(cid, flags, remap)
            ControlState* state = control(word(params[0], params[1]));
            if (state == nullptr) return Answer::failure(invalidArgument);
            const std::uint8_t flags = params[2];
            const bool setDivert = (flags & divertValidBit) != 0;
            const bool setRaw = (flags & rawXYValidBit) != 0;
            if (setDivert && (flags & divertBit) != 0 && !state->info.divertable()) {
                return Answer::failure(invalidArgument);
            }
            if (setRaw && (flags & rawXYBit) != 0 && !state->info.rawXY()) {
                return Answer::failure(invalidArgument);
            }
            if (setDivert) state->reporting.divert = (flags & divertBit) != 0;
            if (setRaw) state->reporting.rawXY = (flags & rawXYBit) != 0;
            return Answer::success({params[0], params[1], params[2], params[3], params[4]});
        }
        default:
            return Answer::failure(invalidFunction);
    }
}

VirtualHidppMouse::Answer VirtualHidppMouse::thumbWheel(const Request& request) {
    const auto& params = request.params;
    if (!wheel_) return Answer::failure(invalidFunction);
    const auto status = [this]() -> std::vector<std::uint8_t> {
        return {static_cast<std::uint8_t>(wheel_->diverted ? 1 : 0),
                static_cast<std::uint8_t>(wheel_->inverted ? 1 : 0)};
    };
    switch (request.function) {
        case 0: {  // getInfo: native and diverted resolution
            const auto& info = *description_.thumbWheel;
            return Answer::success({high(info.nativeResolution), low(info.nativeResolution),
                                    high(info.divertedResolution), low(info.divertedResolution)});
        }
        case 1:  // getStatus: reporting mode, inversion
            return Answer::success(status(), 0);
        case 2:  // setReporting(mode, invert): mode 0 native, 1 diverted
            if (params[0] > 1 || params[1] > 1) return Answer::failure(invalidArgument);
            wheel_->diverted = params[0] == 1;
            wheel_->inverted = params[1] == 1;
            return Answer::success(status());
        default:
            return Answer::failure(invalidFunction);
    }
}

VirtualHidppMouse::Report VirtualHidppMouse::longReport(
    std::uint8_t featureIndex, std::uint8_t functionAndSoftwareId,
    std::span<const std::uint8_t> params) const {
    Report bytes(longReportSize, 0);
    bytes[0] = longReportId;
    bytes[1] = description_.deviceIndex;
    bytes[2] = featureIndex;
    bytes[3] = functionAndSoftwareId;
    std::copy_n(params.begin(), std::min(params.size(), longReportSize - 4), bytes.begin() + 4);
    return bytes;
}

void VirtualHidppMouse::send(Report bytes, Instant at) {
    // Reports leave in time order; reports due at the same instant keep the order they were made.
    const auto after = std::upper_bound(outgoing_.begin(), outgoing_.end(), at,
                                        [](Instant t, const Outgoing& out) { return t < out.at; });
    outgoing_.insert(after, Outgoing{at, std::move(bytes)});
}

void VirtualHidppMouse::sendReply(Report bytes, Instant at) {
    // The device answers requests in the order they came: a reply held back holds back the
    // replies after it.
    if (lastReplyAt_) at = std::max(at, *lastReplyAt_);
    lastReplyAt_ = at;
    send(std::move(bytes), at);
}

void VirtualHidppMouse::sendNotice(std::uint16_t featureId, std::uint8_t event,
                                   std::span<const std::uint8_t> params, Instant now) {
    const std::uint8_t index = description_.indexOf(featureId);
    if (index == 0) return;
    send(longReport(index, static_cast<std::uint8_t>(event << 4), params), now);
}

void VirtualHidppMouse::divertedButtonsChanged(Instant now) {
    std::vector<std::uint8_t> params;
    for (std::uint16_t cid : down_) {
        const ControlState* state = control(cid);
        if (state == nullptr || !state->reporting.divert) continue;
        params.push_back(high(cid));
        params.push_back(low(cid));
        if (params.size() == 8) break;
    }
    sendNotice(VirtualMouseDescription::reprogControlsFeature, 0, params, now);
}

VirtualHidppMouse::ControlState* VirtualHidppMouse::control(std::uint16_t cid) {
    for (auto& state : controls_) {
        if (state.info.cid == cid) return &state;
    }
    return nullptr;
}

const VirtualHidppMouse::ControlState* VirtualHidppMouse::control(std::uint16_t cid) const {
    for (const auto& state : controls_) {
        if (state.info.cid == cid) return &state;
    }
    return nullptr;
}

}  // namespace tindlewave
