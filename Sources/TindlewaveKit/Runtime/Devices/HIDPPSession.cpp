#include "Runtime/Devices/HIDPPSession.h"

#include <algorithm>
#include <cassert>

#include <fmt/format.h>

#include "Core/HIDPP/Report.h"
#include "Platform/Clock.h"
#include "Platform/Executor.h"

namespace tindlewave {

namespace {

constexpr std::size_t defaultBufferSize = 64;

}  // namespace

std::string HIDPPSession::OpenFailure::description() const {
    if (const auto* failed = std::get_if<Failed>(&value)) {
        return fmt::format("the device did not open (0x{:x})", static_cast<std::uint32_t>(failed->code));
    }
    return "waiting for Input Monitoring";
}

std::size_t HIDPPSession::bufferSizeFor(const HIDDevice& device) {
    std::size_t size = defaultBufferSize;
    if (const auto property = device.property("MaxInputReportSize")) {
        if (const auto* number = as<std::int64_t>(*property)) {
            size = *number < 0 ? 0 : static_cast<std::size_t>(*number);
        }
    }
    return std::max(size, hidppReportLength);
}

std::uint8_t HIDPPSession::deviceIndexFor(const HIDDevice& device) {
    if (const auto property = device.property("HIDPPDeviceIndex")) {
        if (const auto* number = as<std::int64_t>(*property); number && 0 <= *number && *number <= 0xFF)
            return static_cast<std::uint8_t>(*number);
    }
    return hidppDeviceIndex;
}

Result<std::unique_ptr<HIDPPSession>, HIDPPSession::OpenFailure> HIDPPSession::open(
    HIDDeviceRef device, Executor& executor, Journal journal, EventHandler onEvent) {
    const HIDResult result = device->open();
    if (result == hidNotPermitted) return OpenFailure::notPermitted();
    if (result != hidSuccess) return OpenFailure::failed(result);
    const std::size_t bufferSize = bufferSizeFor(*device);
    std::unique_ptr<HIDPPSession> session(new HIDPPSession(
        std::move(device), executor, std::move(journal), std::move(onEvent), bufferSize));
    HIDPPSession* self = session.get();
    // The session unregisters before it goes, so the callback never outlives it.
    session->device_->registerInputReportCallback(
        bufferSize, [self](std::uint8_t reportID, std::span<const std::uint8_t> report) {
            self->reportArrived(reportID, report);
        });
    return session;
}

HIDPPSession::HIDPPSession(HIDDeviceRef device, Executor& executor, Journal journal,
                           EventHandler onEvent, std::size_t bufferSize)
    : device_(std::move(device)),
      executor_(executor),
      bufferSize_(bufferSize),
      journal_(std::move(journal)),
      onEvent_(std::move(onEvent)) {
    link_.deviceIndex = deviceIndexFor(*device_);
}

HIDPPSession::~HIDPPSession() {
    if (!closed_) {
        closed_ = true;
        release();
    }
}

void HIDPPSession::request(ApplyReason reason, std::optional<HIDPPSetup> plan) {
    if (closed_) return;
    pump(link_.request(reason, std::move(plan), executor_.clock().now()));
}

void HIDPPSession::reportArrived(std::uint8_t reportID, std::span<const std::uint8_t> report) {
    if (reportID != hidppLongReportID || closed_) return;
    assert(executor_.isCurrent());
    if (deliveringInput_) {
        pump(link_.receive(report, executor_.clock().now()));
        return;
    }
    link_.receive(report, executor_.clock().now(), input_);
    deliveringInput_ = true;
    pump(input_);
    deliveringInput_ = false;
}

void HIDPPSession::wake() {
    wakeAt_.reset();
    if (closed_) return;
    pump(link_.tick(executor_.clock().now()));
}

void HIDPPSession::pump(const HIDPPOutput& out) {
    if (closed_) return;
    for (const HIDPPReport& report : out.reports) {
        const HIDResult result = device_->setReport(HIDReportType::output, report[0], report);
        if (result != hidSuccess) journal_.writeFailed(static_cast<std::uint32_t>(result));
    }
    if (!out.deadline) {
        wake_.cancel();
        wakeAt_.reset();
    } else if (out.deadline != wakeAt_) {
        // An unchanged deadline keeps its timer: raw movement re-arms nothing.
        wakeAt_ = out.deadline;
        wake_ = executor_.schedule(*out.deadline, [this] { wake(); });
    }
    // Every output is the caller's own while it is delivered: a handler that calls `request`
    // meanwhile, or makes the device answer at once, pumps another.
    for (const HIDPPEvent& event : out.events) onEvent_(event);
}

void HIDPPSession::close() {
    if (closed_) return;
    HIDPPOutput out = link_.finish();
    closed_ = true;
    release();
    for (const HIDPPEvent& event : out.events) onEvent_(event);
}

void HIDPPSession::release() {
    wake_.cancel();
    wakeAt_.reset();
    device_->unregisterInputReportCallback();
    device_->close();
}

}  // namespace tindlewave
