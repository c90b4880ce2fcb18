#include "Core/HIDPP/Step.h"

#include <fmt/format.h>

#include "Core/Overloaded.h"
#include "Model/HexCoding.h"

namespace tindlewave {

namespace {

std::uint8_t high(CID cid) {
    return static_cast<std::uint8_t>(cid.rawValue >> 8);
}
std::uint8_t low(CID cid) {
    return static_cast<std::uint8_t>(cid.rawValue & 0xFF);
}

}  // namespace

HIDPPRequest HIDPPStep::request() const {
    return std::visit(
        Overloaded{
            [](const FindFeature& s) {
                const std::uint16_t id = rawValue(s.feature);
                return HIDPPRequest{
                    HIDPPFeature::root,
                    0,
                    {static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id & 0xFF)}};
            },
            [](const DescribeControl& s) {
                return HIDPPRequest{HIDPPFeature::reprogControls, 1, {s.index}};
            },
            [](const SetReporting& s) {
                return HIDPPRequest::setControlReporting(s.cid, s.reporting);
            },
            [](const CheckReporting& s) {
                return HIDPPRequest{HIDPPFeature::reprogControls, 2, {high(s.cid), low(s.cid)}};
            },
            [](const SetThumbWheel& s) {
                return HIDPPRequest{HIDPPFeature::thumbWheel,
                                    2,
                                    {static_cast<std::uint8_t>(s.reporting.diverted ? 1 : 0),
                                     static_cast<std::uint8_t>(s.reporting.inverted ? 1 : 0)}};
            },
            [](const CheckThumbWheel&) { return HIDPPRequest::getThumbWheelReporting(); },
            [](const CountControls&) { return HIDPPRequest::getControlCount(); },
            [](const Ping& s) {
                return HIDPPRequest{HIDPPFeature::root, 1, {0, 0, s.data}};
            },
        },
        value);
}

std::string HIDPPStep::description() const {
    return std::visit(
        Overloaded{
            [](const FindFeature& s) { return "find feature " + hexText(rawValue(s.feature)); },
            [](const DescribeControl& s) {
                return fmt::format("describe control {}", static_cast<unsigned>(s.index));
            },
            [](const SetReporting& s) { return "divert " + hexText(s.cid.rawValue); },
            [](const CheckReporting& s) { return "read back " + hexText(s.cid.rawValue); },
            [](const SetThumbWheel&) { return std::string("set the thumb wheel"); },
            [](const CheckThumbWheel&) { return std::string("read back the thumb wheel"); },
            [](const CountControls&) { return std::string("count controls"); },
            [](const Ping&) { return std::string("ping"); },
        },
        value);
}

std::string HIDPPFailure::description() const {
    return std::visit(Overloaded{
                          [](const TimedOut& f) { return "no reply to " + f.step.description(); },
                          [](const DeviceError& f) {
                              return fmt::format("{} failed with HID++ error {}",
                                                 f.step.description(),
                                                 static_cast<unsigned>(f.code));
                          },
                          [](const Mismatch& f) { return f.step.description() + " did not match"; },
                          [](const InconsistentDiscovery&) {
                              return std::string("discovery got crossed replies");
                          },
                      },
                      value);
}

}  // namespace tindlewave
