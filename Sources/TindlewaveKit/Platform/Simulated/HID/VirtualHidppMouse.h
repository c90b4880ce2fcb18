#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "Core/Instant.h"
#include "Platform/Simulated/HID/VirtualMouseDescription.h"

namespace tindlewave {

// Switches that make the virtual mouse misbehave. Each counter applies to the next replies (or
// read-backs) and counts down as it is used; zero means the mouse behaves.
struct VirtualMouseFaults {
    // A request that must fail: the matching request is not carried out and the mouse answers
    // with an error report carrying `code` instead, `times` times.
    struct ErrorOn {
        std::uint16_t featureId = 0;
        std::uint8_t function = 0;
        std::optional<std::uint16_t> cid;  // when set, only requests whose first two bytes match
        std::uint8_t code = 0;
        int times = 1;
        bool operator==(const ErrorOn&) const = default;
    };

    int dropReplies = 0;   // requests are carried out, their replies lost
    int delayReplies = 0;  // replies sent `delayBy` later than usual; later replies wait behind
    Duration delayBy = std::chrono::milliseconds(2500);
    std::vector<ErrorOn> errors;
    int crossReplies = 0;       // the reply is sent again just before the next request's reply
    int corruptReadBacks = 0;   // a read-back of reporting shows the opposite divert bit
    int foreignSoftwareId = 0;  // replies carry another program's software id
    int shortReports = 0;       // replies cut to 19 bytes

    bool any() const;
    bool operator==(const VirtualMouseFaults&) const = default;
};

// A HID++ 2.0 mouse in memory, attached directly. It answers root feature look-ups and ping,
// reprogrammable controls (count, control info, get and set reporting) and the thumb wheel (info,
// get and set reporting); it sends the diverted-buttons, raw-movement, thumb-wheel and
// wireless-status notices when asked to act them out. Its state follows the set-reporting flags
// (bit 1 makes the divert bit valid, bit 5 the raw-movement bit).
//
// It encodes and decodes its reports itself, byte by byte, so that it agrees with the host only
// where both follow the protocol. Reports go in with `write` and come out with `takeReports`; every
// report leaves after the reply latency (or when a fault delays it), so a host on a virtual or a
// real clock waits until `nextReportAt`.
class VirtualHidppMouse {
  public:
    using Report = std::vector<std::uint8_t>;

    // HID++ 2.0 error codes the mouse answers with.
    static constexpr std::uint8_t invalidArgument = 0x02;
    static constexpr std::uint8_t invalidFeatureIndex = 0x06;
    static constexpr std::uint8_t invalidFunction = 0x07;

    struct ControlReporting {
        bool divert = false;
        bool rawXY = false;
        bool operator==(const ControlReporting&) const = default;
    };
    struct ThumbWheelReporting {
        bool diverted = false;
        bool inverted = false;
        bool operator==(const ThumbWheelReporting&) const = default;
    };

    explicit VirtualHidppMouse(VirtualMouseDescription description);

    const VirtualMouseDescription& description() const { return description_; }

    // Reports in: one output report written by the host. Anything that is not a 20-byte long
    // report (id 0x11) for this device index is dropped, as the device would.
    void write(std::span<const std::uint8_t> report, Instant now);

    // Reports out: when the next one is due, and every report due at or before `now`, in order.
    std::optional<Instant> nextReportAt() const;
    std::vector<Report> takeReports(Instant now);

    // Acting the mouse out. Presses and releases of diverted controls give a diverted-buttons
    // notice (the diverted controls now down, at most four, in press order); others act natively
    // and send nothing here. Movement gives a raw-movement notice while a control diverted with
    // raw movement is down. Rotation gives a notice while the wheel is diverted. A reconnect
    // forgets every setting (as after a power cycle) and broadcasts its wireless status.
    void press(std::uint16_t cid, Instant now);
    void release(std::uint16_t cid, Instant now);
    void move(std::int16_t dx, std::int16_t dy, Instant now);
    void turnThumbWheel(std::int16_t rotation, Instant now);
    void reconnect(Instant now, bool askForConfiguration = true);

    // State, for checks.
    std::optional<ControlReporting> reporting(std::uint16_t cid) const;
    std::optional<ThumbWheelReporting> thumbWheelReporting() const;
    const std::vector<Report>& requestsReceived() const { return received_; }

    Duration replyLatency = std::chrono::milliseconds(1);
    VirtualMouseFaults faults;

  private:
    struct Outgoing {
        Instant at;
        Report bytes;
    };
    struct ControlState {
        VirtualMouseDescription::Control info;
        ControlReporting reporting;
    };

    // One request, decoded: what the host asked for and where its answer must go.
    struct Request {
        std::uint8_t featureIndex = 0;
        std::uint8_t function = 0;
        std::uint8_t softwareId = 0;
        std::span<const std::uint8_t> params;
    };
    // The answer to a request before faults touch it: reply parameters or an error code.
    struct Answer {
        std::optional<std::uint8_t> error;
        std::vector<std::uint8_t> params;
        std::optional<std::size_t> readBackByte;  // a read-back: the byte a corruption flips

        static Answer failure(std::uint8_t code) { return {code, {}, std::nullopt}; }
        static Answer success(std::vector<std::uint8_t> params,
                              std::optional<std::size_t> readBackByte = std::nullopt) {
            return {std::nullopt, std::move(params), readBackByte};
        }
    };

    Answer answer(const Request& request);
    Answer root(const Request& request) const;
    Answer reprogControls(const Request& request);
    Answer thumbWheel(const Request& request);
    bool failsOnPurpose(std::uint16_t featureId, const Request& request, std::uint8_t& code);

    Report longReport(std::uint8_t featureIndex, std::uint8_t functionAndSoftwareId,
                      std::span<const std::uint8_t> params) const;
    void send(Report bytes, Instant at);
    void sendReply(Report bytes, Instant at);
    void sendNotice(std::uint16_t featureId, std::uint8_t event,
                    std::span<const std::uint8_t> params, Instant now);
    void divertedButtonsChanged(Instant now);
    ControlState* control(std::uint16_t cid);
    const ControlState* control(std::uint16_t cid) const;

    VirtualMouseDescription description_;
    std::vector<ControlState> controls_;
    std::optional<ThumbWheelReporting> wheel_;
    std::vector<std::uint16_t> down_;     // controls held, in press order
    std::optional<Report> staleReply_;    // a reply to be sent again (crossed replies)
    std::deque<Outgoing> outgoing_;       // ordered by time
    std::optional<Instant> lastReplyAt_;  // when the last reply leaves; none goes before it
    std::vector<Report> received_;
    std::uint16_t wheelTimestamp_ = 0;
};

}  // namespace tindlewave
