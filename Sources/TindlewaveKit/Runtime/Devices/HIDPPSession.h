#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>

#include "Core/HIDPP/Link.h"
#include "Model/Result.h"
#include "Platform/Cancellable.h"
#include "Platform/HIDSystem.h"
#include "Runtime/Stores/Journal.h"

namespace tindlewave {

class Executor;

// The I/O of one HID++ link on one HID interface (the vendor interface of a mouse, as the device
// hub found it): opens the interface, hands its input reports to the link, writes the link's
// reports as output reports, wakes the link at its deadlines and hands every event to its owner.
//
// Everything runs on the HID executor, one call at a time; the interface must deliver its input
// reports there (the hub's manager is scheduled on it). An output is carried out whole (reports,
// then the wake-up, then the events) before the next entry; an event handler may call `request`
// on the same session while events are delivered.
//
// Owned by the device's slot. Dropping a session without `close()` unregisters its callback,
// cancels its wake-up and closes the interface, but delivers nothing.
class HIDPPSession {
  public:
    using EventHandler = std::function<void(const HIDPPEvent&)>;

    // Why an interface could not be opened.
    struct OpenFailure {
        // The open answered this result.
        struct Failed {
            std::int32_t code;
            bool operator==(const Failed&) const = default;
        };
        // The Input Monitoring permission is missing.
        struct NotPermitted {
            bool operator==(const NotPermitted&) const = default;
        };
        std::variant<Failed, NotPermitted> value;

        static OpenFailure failed(std::int32_t code) { return {Failed{code}}; }
        static OpenFailure notPermitted() { return {NotPermitted{}}; }

        // "the device did not open (0xe00002c5)" or "waiting for Input Monitoring".
        std::string description() const;

        bool operator==(const OpenFailure&) const = default;
    };

    // The input buffer's size: "MaxInputReportSize" (64 when missing or not an integer), at
    // least one long report.
    static std::size_t bufferSizeFor(const HIDDevice& device);
    // The device index the link uses: "HIDPPDeviceIndex" (a device behind a receiver, which the
    // system reports with its pairing slot), else 0xFF (attached directly).
    static std::uint8_t deviceIndexFor(const HIDDevice& device);

    // Opens the interface and registers for its input reports; on failure nothing is registered.
    static Result<std::unique_ptr<HIDPPSession>, OpenFailure> open(HIDDeviceRef device,
                                                                  Executor& executor,
                                                                  Journal journal,
                                                                  EventHandler onEvent);

    ~HIDPPSession();
    HIDPPSession(const HIDPPSession&) = delete;
    HIDPPSession& operator=(const HIDPPSession&) = delete;

    // A new desired set-up (what `HIDPPWrites::send` returned) and why: the link takes the plan
    // at once and starts a job unless one is running.
    void request(ApplyReason reason, std::optional<HIDPPSetup> plan);

    // Ends the session (the first call only): the link releases what it holds, the callback is
    // unregistered and the interface closed, then the owner gets the release events. No report
    // is written: closing does not undivert the device.
    void close();

    bool isClosed() const { return closed_; }
    // The link, for reading: `scheduler.running` (a job in progress) and `plan`.
    const HIDPPLink& link() const { return link_; }
    std::size_t bufferSize() const { return bufferSize_; }
    // The instant the pending wake-up is set for.
    std::optional<Instant> wakeAt() const { return wakeAt_; }

  private:
    HIDPPSession(HIDDeviceRef device, Executor& executor, Journal journal, EventHandler onEvent,
                 std::size_t bufferSize);

    void reportArrived(std::uint8_t reportID, std::span<const std::uint8_t> report);
    void wake();
    // Writes the reports, re-arms the wake-up and delivers the events of one output.
    void pump(const HIDPPOutput& out);
    void release();

    HIDDeviceRef device_;
    Executor& executor_;
    std::size_t bufferSize_;
    Journal journal_;
    EventHandler onEvent_;
    HIDPPLink link_;
    // The output of input reports, kept so that raw movement allocates nothing; in use while its
    // events are delivered (a report arriving then gets an output of its own).
    HIDPPOutput input_;
    bool deliveringInput_ = false;
    TimerHandle wake_;
    std::optional<Instant> wakeAt_;
    bool closed_ = false;
};

}  // namespace tindlewave
