#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "Platform/HIDSystem.h"
#include "Platform/Simulated/HID/VirtualHidppMouse.h"

namespace tindlewave {

class Executor;
class PermissionGrants;

// One interface of the simulated HID world. A HID++ interface wraps a virtual mouse: output
// reports are written to it, and its reports come back as input reports on the world's executor
// at the instants the mouse sends them. Everything runs on that executor.
class SimulatedHIDInterface final : public HIDDevice,
                                    public std::enable_shared_from_this<SimulatedHIDInterface> {
  public:
    // What a call answers once the interface has left ("no such device").
    static constexpr HIDResult gone = hidNoDevice;

    SimulatedHIDInterface(RegistryID id, PropertyBag properties,
                          std::optional<VirtualMouseDescription> hidpp, Executor& executor,
                          PermissionGrants& grants);

    RegistryID registryID() const override { return id_; }
    std::optional<PropertyValue> property(std::string_view name) const override;
    HIDResult open() override;
    void registerInputReportCallback(std::size_t bufferSize,
                                     InputReportCallback callback) override;
    void unregisterInputReportCallback() override;
    HIDResult setReport(HIDReportType type, std::uint8_t reportID,
                        std::span<const std::uint8_t> bytes) override;
    void close() override;

    // The simulation's side.
    const PropertyBag& properties() const { return properties_; }
    VirtualHidppMouse* mouse() { return mouse_ ? &*mouse_ : nullptr; }
    // Sends what the mouse owes, at its own instants (after acting the mouse out).
    void rearm();
    // An input report as the device would deliver it, now.
    void deliver(std::span<const std::uint8_t> report);
    // The interface left: nothing is delivered any more and every call fails.
    void detached();

    // Fault switches: the next open answers this result (kept until cleared); the next `times`
    // output reports fail with `code`.
    std::optional<HIDResult> openResult;
    int failingReports = 0;
    HIDResult failingReportCode = hidFailure;

    // State, for checks.
    bool isOpen() const { return open_; }
    bool hasInputCallback() const { return callback_ != nullptr; }
    std::size_t bufferSize() const { return bufferSize_; }
    int opens() const { return opens_; }

  private:
    void deliverDue();

    RegistryID id_;
    PropertyBag properties_;
    std::optional<VirtualHidppMouse> mouse_;
    Executor& executor_;
    PermissionGrants& grants_;
    bool attached_ = true;
    bool open_ = false;
    int opens_ = 0;
    std::size_t bufferSize_ = 0;
    std::shared_ptr<InputReportCallback> callback_;
    TimerHandle timer_;
    std::optional<Instant> timerAt_;
};

}  // namespace tindlewave
