#include "Printing.h"

#include <unistd.h>

#include <fmt/format.h>

#include "Model/Config.h"
#include "Model/HexCoding.h"
#include "Platform/Simulated/HID/VirtualHidppMouse.h"
#include "Runtime/Stores/LogStore.h"
#include "Runtime/Worlds/WorldTexts.h"

namespace tindlewave::headless {

void Printer::lines(std::string_view text) {
    while (!text.empty()) {
        const auto end = text.find('\n');
        line(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
}

void Printer::line(std::string_view text) {
    std::string whole = terminalText(text);
    whole += '\n';
    std::lock_guard lock(mutex_);
    ++count_;
    std::size_t done = 0;
    while (done < whole.size()) {
        auto written = ::write(STDOUT_FILENO, whole.data() + done, whole.size() - done);
        if (written <= 0) return;  // a closed output loses the line, nothing else
        done += static_cast<std::size_t>(written);
    }
}

namespace {

// The modifiers a flag word holds, as this world names them (" (⇧⌘)", or " (Shift+Super)" over
// Linux devices); nothing when it holds none.
std::string modifiersBeside(std::uint64_t flags) {
    const std::string names = shortcutText(modifiersOfFlags(flags), "");
    return names.empty() ? names : " (" + names + ")";
}

const char* grantText(PermissionState::Grant grant) {
    switch (grant) {
        case PermissionState::Grant::granted:
            return "granted";
        case PermissionState::Grant::denied:
            return "denied";
        case PermissionState::Grant::notDetermined:
            return "not determined";
    }
    return "?";
}

const char* tapText(TapState tap) {
    switch (tap) {
        case TapState::off:
            return "off";
        case TapState::on:
            return "on";
        case TapState::failed:
            return "failed";
    }
    return "?";
}

const char* listenEndText(ListenEnd end) {
    switch (end) {
        case ListenEnd::timedOut:
            return "timed out";
        case ListenEnd::disconnected:
            return "disconnected";
        case ListenEnd::paused:
            return "paused";
        case ListenEnd::slept:
            return "slept";
        case ListenEnd::needsAccessibility:
            return "needs accessibility";
    }
    return "?";
}

std::string deviceText(const DeviceStatus& device) {
    std::string text = device.name + " (" + (device.connectedAt ? "connected" : "not connected");
    if (device.hyper) {
        const auto& hyper = *device.hyper;
        text += ", hyper ";
        if (is<HyperStatus::On>(hyper)) text += "on";
        if (is<HyperStatus::Off>(hyper)) text += "off";
        if (is<HyperStatus::Applying>(hyper)) text += "applying";
        if (const auto* failed = as<HyperStatus::Failed>(hyper)) {
            text += "failed: " + failed->reason;
        }
    }
    if (device.hidpp) {
        const auto& progress = device.hidpp->progress;
        text += ", HID++ ";
        if (is<HIDPPStatus::Progress::SetUp>(progress)) text += "set up";
        if (is<HIDPPStatus::Progress::Applying>(progress)) text += "applying";
        if (const auto* notSetUp = as<HIDPPStatus::Progress::NotSetUp>(progress)) {
            text += "not set up: " + notSetUp->reason;
        }
        if (!device.hidpp->skippedRules.empty()) {
            text += fmt::format(", {} rules skipped", device.hidpp->skippedRules.size());
        }
    }
    if (device.listen) {
        const auto& listen = *device.listen;
        if (is<ListenStatus::GettingReady>(listen)) text += ", getting ready to listen";
        if (is<ListenStatus::Listening>(listen)) text += ", listening";
        if (const auto* ended = as<ListenStatus::Ended>(listen)) {
            text += std::string(", listen ended: ") + listenEndText(ended->end);
        }
    }
    return text + ")";
}

}  // namespace

std::string statusLine(const EngineStatus& status) {
    std::string text = fmt::format(
        "status: {}, accessibility {}, input monitoring {}, tap {}",
        status.run == RunState::active ? "active" : "paused",
        grantText(status.permissions.accessibility), grantText(status.permissions.inputMonitoring),
        tapText(status.tap));
    if (status.configError) text += ", configuration error: " + status.configError->description();
    for (const auto& device : status.devices) text += "; " + deviceText(device);
    for (const auto& device : status.newDevices) text += "; new: " + deviceText(device);
    return text;
}

namespace {

// An event after `lead` ("posted (hid)"): its type and the fields that matter for it.
std::string eventLine(const std::string& lead, const Event& event) {
    const auto type = static_cast<std::uint32_t>(event.type);
    switch (event.type) {
        case EventType::keyDown:
        case EventType::keyUp:
            return fmt::format("{}: key {} {} flags {}{}", lead,
                               event.integer(IntegerField::keyCode),
                               event.type == EventType::keyDown ? "down" : "up",
                               hexText(event.flags), modifiersBeside(event.flags));
        case EventType::flagsChanged:
            return fmt::format("{}: flags changed to {}{}", lead, hexText(event.flags),
                               modifiersBeside(event.flags));
        case EventType::scrollWheel:
            return fmt::format("{}: scroll {} {}", lead,
                               event.integer(IntegerField::scrollDelta1),
                               event.integer(IntegerField::scrollDelta2));
        case EventType::leftMouseDown:
        case EventType::rightMouseDown:
        case EventType::otherMouseDown:
        case EventType::leftMouseUp:
        case EventType::rightMouseUp:
        case EventType::otherMouseUp: {
            const bool down = event.type == EventType::leftMouseDown ||
                              event.type == EventType::rightMouseDown ||
                              event.type == EventType::otherMouseDown;
            return fmt::format("{}: button {} {}", lead,
                               event.integer(IntegerField::buttonNumber), down ? "down" : "up");
        }
        default:
            return fmt::format("{}: event type {}", lead, type);
    }
}

}  // namespace

std::string postedLine(const Event& event, EventLevel level) {
    return eventLine(level == EventLevel::hid ? "posted (hid)" : "posted (session)", event);
}

std::string receivedLine(const std::optional<Event>& event) {
    return event ? eventLine("received", *event) : "received: nothing (a tap kept it)";
}

std::string mouseLine(int number, const VirtualHidppMouse& mouse) {
    std::string text = fmt::format("mouse {}:", number);
    for (const auto& control : mouse.description().controls) {
        auto reporting = mouse.reporting(control.cid);
        if (!reporting) continue;
        text += fmt::format(" {}{}{}", hexText(control.cid, 2), reporting->divert ? " diverted" : " native",
                            reporting->rawXY ? " with raw movement" : "");
        text += ",";
    }
    if (auto wheel = mouse.thumbWheelReporting()) {
        text += wheel->diverted ? " thumb wheel diverted" : " thumb wheel native";
        if (wheel->inverted) text += " inverted";
    }
    if (!text.empty() && text.back() == ',') text.pop_back();
    return text;
}

std::string mouseFaultLine(int number, const Command::MouseFault& fault) {
    using Kind = Command::MouseFault::Kind;
    static const char* const what[] = {"drops", "delays", "sends twice", "refuses", "misreports",
                                       "clear"};
    if (fault.kind == Kind::clear) return fmt::format("device {}: faults cleared", number);
    return fmt::format("device {}: {} {} {}", number, what[static_cast<int>(fault.kind)], fault.times,
                       fault.kind == Kind::corrupt ? "read-backs" : "replies");
}

}  // namespace tindlewave::headless
