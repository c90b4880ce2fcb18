#include "Platform/Linux/Input/OwnDevices.h"

#include <chrono>
#include <utility>

#include "Platform/Clock.h"
#include "Platform/Linux/Input/StallWatchdog.h"

namespace tindlewave {

namespace {

Duration ownSpan(double s) {
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(s));
}

}  // namespace

OwnDevices::OwnDevices(Executor& input, StallWatchdog& watchdog, Options options)
    : input_(input),
      watchdog_(watchdog),
      options_(std::move(options)),
      udevAnnounces_(options_.udevAnnounces) {}

void OwnDevices::keep(SharedDevice& slot, UinputDevice device) {
    close(slot);
    watchdog_.keep(device.fd());
    StallWatchdog* watchdog = &watchdog_;
    slot = SharedDevice(new UinputDevice(std::move(device)), [watchdog](const UinputDevice* gone) {
        watchdog->forget(gone->fd());  // before its descriptor closes
        delete gone;
    });
}

bool OwnDevices::ensure() {
    if (watchdog_.isSuspended()) return keyboard_ && pointer_;
    if (!keyboard_ || !pointer_) announced_ = false;
    if (!keyboard_) keyboardHeardAt_.reset();
    if (!pointer_) pointerHeardAt_.reset();
    if (!keyboard_) {
        auto made = UinputDevice::create(options_.uinputPath.c_str(), virtualKeyboard());
        if (auto* device = std::get_if<UinputDevice>(&made)) keep(keyboard_, std::move(*device));
    }
    if (!pointer_) {
        auto made = UinputDevice::create(options_.uinputPath.c_str(), virtualPointer());
        if (auto* device = std::get_if<UinputDevice>(&made)) keep(pointer_, std::move(*device));
    }
    return keyboard_ && pointer_;
}

void OwnDevices::adopt(UinputDevice keyboard, UinputDevice pointer) {
    keep(keyboard_, std::move(keyboard));
    keep(pointer_, std::move(pointer));
}

void OwnDevices::close() {
    close(keyboard_);
    close(pointer_);
}

bool OwnDevices::isOwn(const std::string& sysname) const {
    return !sysname.empty() && ((keyboard_ && keyboard_->sysname() == sysname) ||
                                (pointer_ && pointer_->sysname() == sysname));
}

bool OwnDevices::desktopHas(const UinputDevice& device, const std::optional<Instant>& heardAt,
                            Instant now) const {
    const std::string& sysname = device.sysname();
    if (sysname.empty() || !udevAnnounces_ || (options_.isAnnounced && options_.isAnnounced(sysname))) return true;
    return heardAt && now >= *heardAt + ownSpan(options_.desktopOpenSeconds);
}

bool OwnDevices::announced() {
    if (announced_) return true;
    if (!keyboard_ || !pointer_) return false;
    const Instant now = input_.clock().now();
    announced_ = desktopHas(*keyboard_, keyboardHeardAt_, now) && desktopHas(*pointer_, pointerHeardAt_, now);
    return announced_;
}

void OwnDevices::heard(const std::string& sysname) {
    if (sysname.empty()) return;
    const Instant now = input_.clock().now();
    auto heardOf = [&](const SharedDevice& device, std::optional<Instant>& heardAt) {
        if (device && sysname == device->sysname() && !heardAt) heardAt = now;
    };
    heardOf(keyboard_, keyboardHeardAt_);
    heardOf(pointer_, pointerHeardAt_);
}

}  // namespace tindlewave
