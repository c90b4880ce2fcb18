#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "Core/Instant.h"
#include "Platform/Simulated/HID/VirtualHidppMouse.h"

namespace tindlewave::testkit::umockdev {

class EmulatedNode;

// A HID++ mouse behind an emulated hidraw node: what the program writes to the node goes to a
// VirtualHidppMouse, and what the mouse sends comes back through the node at once (replies are
// not delayed; a delaying fault holds them until the next write or act). A mouse paired to a
// receiver (description.deviceIndex 1–6) gets each report with byte 1 set to its index, as the
// receiver's kernel driver does to what is written to a paired device's node; its replies carry
// that index. The node must outlive the side's use; install before the program opens the node.
class HidppDeviceSide {
  public:
    HidppDeviceSide(EmulatedNode& node, VirtualMouseDescription mouse);

    // Acts the mouse out (press, move, reconnect, faults) under its lock, then sends what is due.
    void act(const std::function<void(VirtualHidppMouse&, Instant)>& action);
    // Reads the mouse's state under its lock.
    template <class F>
    auto read(F&& reader) {
        std::lock_guard lock(mutex_);
        return reader(static_cast<const VirtualHidppMouse&>(mouse_));
    }
    // The device index (byte 1) of each report the program wrote, as written.
    std::vector<std::uint8_t> writtenIndexes() {
        std::lock_guard lock(mutex_);
        return writtenIndexes_;
    }
    // Fails the next `times` writes with errno `error`.
    void failWrites(int error, int times = 1);

  private:
    int written(std::span<const std::uint8_t> bytes);
    void sendDue(Instant now);

    EmulatedNode& node_;
    std::mutex mutex_;
    VirtualHidppMouse mouse_;
    int writeError_ = 0;
    int failuresLeft_ = 0;
    std::vector<std::uint8_t> writtenIndexes_;
};

}  // namespace tindlewave::testkit::umockdev
