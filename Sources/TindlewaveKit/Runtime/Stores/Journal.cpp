#include "Runtime/Stores/Journal.h"

#include <vector>

#include <fmt/format.h>

#include "Core/Devices/DeviceIdentity.h"
#include "Core/HIDPP/Setup.h"
#include "Core/HIDPP/Step.h"
#include "Core/Keys/KeyRoutes.h"
#include "Core/Listening/Listener.h"
#include "Model/Capabilities.h"
#include "Runtime/Executors/Actors.h"

namespace tindlewave {

namespace {

std::string name(const PresentDevice& device) {
    return device.properties.name.value_or("Unknown device");
}

// "0x" and lower-case hexadecimal without leading zeros.
std::string lowerHex(std::uint64_t value) {
    return fmt::format("0x{:x}", value);
}

std::string services(const PresentDevice& device) {
    std::string list;
    for (const auto& service : device.eventServices) {
        if (!list.empty()) list += ",";
        list += lowerHex(service.rawValue);
    }
    return list;
}

std::string controls(const HIDPPCapabilities& capabilities) {
    std::string list;
    for (const auto& control : capabilities.controls) {
        if (!list.empty()) list += ",";
        list += fmt::format("0x{:X}", control.cid.rawValue);
        if (control.divertable) list += control.rawXY ? "+divert+rawXY" : "+divert";
    }
    return list;
}

std::string_view caseName(ListenEnd reason) {
    switch (reason) {
        case ListenEnd::timedOut:
            return "timedOut";
        case ListenEnd::disconnected:
            return "disconnected";
        case ListenEnd::paused:
            return "paused";
        case ListenEnd::slept:
            return "slept";
        case ListenEnd::needsAccessibility:
            return "needsAccessibility";
    }
    return "stopped";
}

}  // namespace

Journal Journal::devices() {
    return Journal(Logger(std::string(bundleIdentifier), "devices"));
}

void Journal::note(std::string_view text) const {
    logger_.log(LogLevel::defaultLevel, text);
}

void Journal::connected(const PresentDevice& device, const std::optional<std::string>& profile,
                        bool atLaunch) const {
    logger_.logLazily(LogLevel::defaultLevel, [&] {
        const auto& p = device.properties;
        return fmt::format(
            "{} {} {} profile={} vendor={} product={} builtIn={} kind={} transport={} "
            "services=[{}]",
            atLaunch ? "present" : "connect", toText(device.id), name(device),
            profile.value_or("none"), lowerHex(p.vendor.rawValue), lowerHex(p.product.rawValue),
            p.builtIn, toText(p.kind()), p.transport.value_or("-"), services(device));
    });
}

void Journal::disconnected(const PresentDevice& device) const {
    logger_.logLazily(LogLevel::defaultLevel, [&] {
        return fmt::format("disconnect {} {}", toText(device.id), name(device));
    });
}

void Journal::changed(const PresentDevice& device) const {
    logger_.logLazily(LogLevel::defaultLevel, [&] {
        return fmt::format("services {} {} kind={} services=[{}]", toText(device.id), name(device),
                           toText(device.properties.kind()), services(device));
    });
}

void Journal::discovered(const PresentDevice& device, const HIDPPCapabilities& capabilities) const {
    logger_.logLazily(LogLevel::defaultLevel, [&] {
        return fmt::format("discovered {} {} controls=[{}] thumbWheel={}", toText(device.id),
                           name(device), controls(capabilities), capabilities.thumbWheel);
    });
}

void Journal::applied(const PresentDevice& device, const ApplyScheduler::Job& job,
                      const KeyMapSetup& wrote, const std::optional<KeyMapError>& failure) const {
    logger_.logLazily(LogLevel::defaultLevel, [&] {
        return fmt::format("apply {} {} reasons={} attempt={} routes={} {}", toText(device.id),
                           name(device), toText(job.reasons), job.attempt, wrote.routes.size(),
                           failure ? "failed: " + failure->description() : std::string("applied"));
    });
}

void Journal::applied(const PresentDevice& device, const ApplyScheduler::Job& job,
                      const HIDPPOutcome& outcome) const {
    logger_.logLazily(LogLevel::defaultLevel, [&] {
        const auto* failed = as<HIDPPOutcome::Failed>(outcome);
        return fmt::format(
            "hidpp {} {} reasons={} attempt={} {}", toText(device.id), name(device),
            toText(job.reasons), job.attempt,
            failed ? "failed: " + failed->failure.description() : std::string("applied"));
    });
}

void Journal::surveyFailed(const PresentDevice& device, std::string_view failure) const {
    logger_.logLazily(LogLevel::defaultLevel, [&] {
        return fmt::format("survey {} {} failed: {}", toText(device.id), name(device), failure);
    });
}

void Journal::hidppSkipped(const PresentDevice& device, std::string_view openFailure) const {
    logger_.logLazily(LogLevel::defaultLevel, [&] {
        return fmt::format("HID++ {} {} skipped: {}", toText(device.id), name(device), openFailure);
    });
}

void Journal::leftDiverted(const PresentDevice& device, const HIDPPSetup* setUp) const {
    logger_.logLazily(LogLevel::error, [&] {
        std::vector<std::string> parts;
        if (setUp && setUp->listening) parts.emplace_back("every control");
        if (setUp && !setUp->listening)
            for (const auto& [cid, behavior] : setUp->controls) parts.push_back(fmt::format("0x{:X}", cid.rawValue));
        if (setUp && setUp->thumbWheelDiverted) parts.emplace_back("the thumb wheel");
        std::string what;
        for (std::size_t i = 0; i < parts.size(); ++i)
            what += (i == 0 ? "" : i + 1 == parts.size() ? " and " : ", ") + parts[i];
        if (what.empty()) what = "its diverted controls";
        return fmt::format("at quit, {} {} was not put back in time: {} stay diverted until the next start puts "
                           "them back",
                           toText(device.id), name(device), what);
    });
}

void Journal::writeFailed(std::uint32_t status) const {
    logger_.logLazily(LogLevel::defaultLevel, [&] {
        return fmt::format("HID++ write returned {}; the link asks again", lowerHex(status));
    });
}

void Journal::tapReenabled() const {
    note("tap re-enabled after the system disabled it");
}

void Journal::wokeFromSleep() const {
    note("woke from sleep");
}

void Journal::listenRefused(ListenEnd reason) const {
    logger_.logLazily(LogLevel::defaultLevel,
                      [&] { return fmt::format("listen refused: {}", caseName(reason)); });
}

void Journal::listenArmed(ListenID id, const PresentDevice& device) const {
    logger_.logLazily(LogLevel::defaultLevel, [&] {
        return fmt::format("listen {} on {} {}", toText(id), toText(device.id), name(device));
    });
}

void Journal::listenHeard(ListenID id, const ListenPress& press) const {
    logger_.logLazily(LogLevel::defaultLevel, [&] {
        return fmt::format("listen {} heard {}", toText(id), press.description());
    });
}

void Journal::listenTimedOut(ListenID id) const {
    logger_.logLazily(LogLevel::defaultLevel,
                      [&] { return fmt::format("listen {} timed out", toText(id)); });
}

void Journal::listenStopped() const {
    note("listen stopped");
}

void Journal::listenEnded(std::optional<ListenEnd> reason) const {
    logger_.logLazily(LogLevel::defaultLevel, [&] {
        return fmt::format("listen ended: {}", reason ? caseName(*reason) : "stopped");
    });
}

}  // namespace tindlewave
