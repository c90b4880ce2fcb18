#include "TestKit/Umockdev/HidppDeviceSide.h"

#include "Platform/Clock.h"
#include "TestKit/Umockdev/EmulatedNode.h"

namespace tindlewave::testkit::umockdev {

HidppDeviceSide::HidppDeviceSide(EmulatedNode& node, VirtualMouseDescription mouse)
    : node_(node), mouse_(std::move(mouse)) {
    mouse_.replyLatency = Duration::zero();
    node_.onWrite([this](std::span<const std::uint8_t> bytes) { return written(bytes); });
}

void HidppDeviceSide::act(const std::function<void(VirtualHidppMouse&, Instant)>& action) {
    std::lock_guard lock(mutex_);
    Instant now = SystemClock::shared().now();
    action(mouse_, now);
    sendDue(now);
}

void HidppDeviceSide::failWrites(int error, int times) {
    std::lock_guard lock(mutex_);
    writeError_ = error;
    failuresLeft_ = times;
}

int HidppDeviceSide::written(std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    if (failuresLeft_ > 0) {
        --failuresLeft_;
        return writeError_;
    }
    std::vector<std::uint8_t> report(bytes.begin(), bytes.end());
    if (report.size() > 1) writtenIndexes_.push_back(report[1]);
    std::uint8_t index = mouse_.description().deviceIndex;
    if (index != 0xFF && report.size() > 1 && report[0] >= 0x10 && report[0] <= 0x12)
        report[1] = index;
    Instant now = SystemClock::shared().now();
    mouse_.write(report, now);
    sendDue(now);
    return 0;
}

void HidppDeviceSide::sendDue(Instant now) {
    for (const auto& report : mouse_.takeReports(now)) node_.send(report);
}

}  // namespace tindlewave::testkit::umockdev
