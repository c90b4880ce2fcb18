#include "Platform/Simulated/HID/SimulatedHIDInterface.h"

#include <algorithm>

#include "Platform/Clock.h"
#include "Platform/Executor.h"
#include "Platform/PermissionGrants.h"

namespace tindlewave {

SimulatedHIDInterface::SimulatedHIDInterface(RegistryID id, PropertyBag properties,
                                             std::optional<VirtualMouseDescription> hidpp,
                                             Executor& executor, PermissionGrants& grants)
    : id_(id), properties_(std::move(properties)), executor_(executor), grants_(grants) {
    if (hidpp) mouse_.emplace(std::move(*hidpp));
}

std::optional<PropertyValue> SimulatedHIDInterface::property(std::string_view name) const {
    const auto found = properties_.find(std::string(name));
    if (found == properties_.end()) return std::nullopt;
    return found->second;
}

HIDResult SimulatedHIDInterface::open() {
    if (!attached_) return gone;
    if (grants_.inputMonitoring() != PermissionState::Grant::granted) return hidNotPermitted;
    if (openResult && *openResult != hidSuccess) return *openResult;
    open_ = true;
    ++opens_;
    return hidSuccess;
}

void SimulatedHIDInterface::registerInputReportCallback(std::size_t bufferSize,
                                                        InputReportCallback callback) {
    bufferSize_ = bufferSize;
    callback_ = callback ? std::make_shared<InputReportCallback>(std::move(callback)) : nullptr;
}

void SimulatedHIDInterface::unregisterInputReportCallback() {
    callback_ = nullptr;
    bufferSize_ = 0;
}

HIDResult SimulatedHIDInterface::setReport(HIDReportType type, std::uint8_t reportID,
                                           std::span<const std::uint8_t> bytes) {
    if (!attached_) return gone;
    if (!open_) return static_cast<HIDResult>(0xE00002CDu);  // not open
    if (failingReports > 0) {
        --failingReports;
        return failingReportCode;
    }
    if (type != HIDReportType::output || bytes.empty() || bytes[0] != reportID) {
        return static_cast<HIDResult>(0xE00002C2u);  // bad argument
    }
    if (mouse_) {
        mouse_->write(bytes, executor_.clock().now());
        rearm();
    }
    return hidSuccess;
}

void SimulatedHIDInterface::close() {
    open_ = false;
}

void SimulatedHIDInterface::rearm() {
    if (!mouse_ || !attached_) return;
    const auto next = mouse_->nextReportAt();
    if (next == timerAt_) return;
    timerAt_ = next;
    if (!next) {
        timer_.cancel();
        return;
    }
    std::weak_ptr<SimulatedHIDInterface> weak = weak_from_this();
    timer_ = executor_.schedule(*next, [weak] {
        if (auto self = weak.lock()) self->deliverDue();
    });
}

void SimulatedHIDInterface::deliverDue() {
    timerAt_.reset();
    if (!mouse_ || !attached_) return;
    for (const auto& report : mouse_->takeReports(executor_.clock().now())) deliver(report);
    rearm();
}

void SimulatedHIDInterface::deliver(std::span<const std::uint8_t> report) {
    // Reports reach the callback only while the interface is open, as the system delivers them.
    if (!attached_ || !open_ || report.empty()) return;
    const auto callback = callback_;  // the callback may unregister itself
    if (!callback) return;
    (*callback)(report[0], report.first(std::min(report.size(), bufferSize_)));
}

void SimulatedHIDInterface::detached() {
    attached_ = false;
    open_ = false;
    timer_.cancel();
    timerAt_.reset();
}

}  // namespace tindlewave
