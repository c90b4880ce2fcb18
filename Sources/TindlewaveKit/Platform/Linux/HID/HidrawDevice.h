#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "Platform/FdRegistrar.h"
#include "Platform/HIDSystem.h"
#include "Platform/Linux/System/UniqueFd.h"

namespace tindlewave {

// The length of an input report by its id as hidraw delivers it (id byte included): the HID++
// short, long and very long reports and the receiver's two reports; 0 for any other id, which
// takes the rest of what was read.
std::size_t hidrawReportLength(std::uint8_t reportID);

// Calls `each(report)` for every report in the bytes of one read. Real hidraw gives one report
// per read; nodes backed by a stream (the device emulation of the tests) may give several at once.
template <class F>
void splitHidrawReports(std::span<const std::uint8_t> bytes, F&& each) {
    while (!bytes.empty()) {
        std::size_t length = hidrawReportLength(bytes[0]);
        if (length == 0 || length > bytes.size()) length = bytes.size();
        each(bytes.first(length));
        bytes = bytes.subspan(length);
    }
}

// One HID interface over its hidraw node. Used on one executor: input reports are read there,
// one read each time the descriptor watch of its FdRegistrar finds the node readable (or by
// `readNow`, without one, until the node has nothing more: EAGAIN); each read is split into
// reports and each report cut to the registered size. A node that fails (ENODEV once its device is gone) is closed and the gone
// handler called, once.
class HidrawDevice final : public HIDDevice {
  public:
    HidrawDevice(RegistryID id, std::string devnode, PropertyBag properties,
                 FdRegistrar* registrar);
    ~HidrawDevice() override;

    RegistryID registryID() const override { return id_; }
    std::optional<PropertyValue> property(std::string_view name) const override;
    // O_RDWR|O_NONBLOCK|O_CLOEXEC; EACCES and EPERM answer hidNotPermitted, a missing node
    // hidNoDevice.
    HIDResult open() override;
    void registerInputReportCallback(std::size_t bufferSize, InputReportCallback callback) override;
    void unregisterInputReportCallback() override;
    // Output reports are one write() of the bytes; feature reports one HIDIOCSFEATURE.
    HIDResult setReport(HIDReportType type, std::uint8_t reportID,
                        std::span<const std::uint8_t> bytes) override;
    void close() override;

    const std::string& devnode() const { return devnode_; }
    const PropertyBag& properties() const { return properties_; }
    void setProperties(PropertyBag properties) { properties_ = std::move(properties); }
    // Where input reports are read from now on (null: only by readNow).
    void setRegistrar(FdRegistrar* registrar);
    void onGone(std::function<void()> handler) { onGone_ = std::move(handler); }
    bool isGone() const { return gone_; }
    bool isOpen() const { return fd_.isOpen(); }
    // Reads and delivers everything the node has now.
    void readNow();
    // One read and its reports, as the watch makes it; true while the node may hold more for
    // this registration.
    bool readOnce();
    // For benchmarks, which put a socket pair in place of the node: takes `fd` as the node, open.
    void adoptOpenDescriptor(UniqueFd fd) {
        close();
        fd_ = std::move(fd);
        watch();
    }

    // The result for an errno of open, write or ioctl.
    static HIDResult resultFor(int error);

  private:
    void watch();
    void fail();

    RegistryID id_;
    std::string devnode_;
    PropertyBag properties_;
    FdRegistrar* registrar_;
    UniqueFd fd_;
    FdWatch watch_;
    std::shared_ptr<InputReportCallback> callback_;  // kept alive while it runs
    std::size_t bufferSize_ = 0;
    std::uint64_t generation_ = 0;  // changes with every (un)registration and close
    std::function<void()> onGone_;
    bool gone_ = false;
    std::array<std::uint8_t, 4096> buffer_{};
};

}  // namespace tindlewave
