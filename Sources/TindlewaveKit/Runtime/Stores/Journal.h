#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Core/Apply/ApplyScheduler.h"
#include "Model/EngineStatus.h"
#include "Runtime/KeyMap/KeyMapError.h"
#include "Runtime/Stores/LogStore.h"

namespace tindlewave {

struct HIDPPSetup;

struct HIDPPCapabilities;
struct HIDPPOutcome;
struct KeyMapSetup;
struct ListenID;
struct ListenPress;
struct PresentDevice;

// The engine's log of what happened to devices: one entry per event at the default level, under
// the bundle identifier and the category "devices". Nothing is formatted when that level is off.
// Copies share the writer; usable from any thread.
class Journal {
  public:
    explicit Journal(Logger logger) : logger_(std::move(logger)) {}
    // The engine's journal on the program's log store.
    static Journal devices();

    void note(std::string_view text) const;

    // "present #1 Name profile=… vendor=0x… product=0x… builtIn=… kind=… transport=… services=[…]"
    void connected(const PresentDevice& device, const std::optional<std::string>& profile,
                   bool atLaunch) const;
    void disconnected(const PresentDevice& device) const;
    void changed(const PresentDevice& device) const;
    void discovered(const PresentDevice& device, const HIDPPCapabilities& capabilities) const;
    // A key-map job that finished, with the writer's error when it failed.
    void applied(const PresentDevice& device, const ApplyScheduler::Job& job,
                 const KeyMapSetup& wrote, const std::optional<KeyMapError>& failure) const;
    // A HID++ apply run that finished.
    void applied(const PresentDevice& device, const ApplyScheduler::Job& job,
                 const HIDPPOutcome& outcome) const;

    // The notes of the slots, the sessions, the engine and listening, with their exact texts.
    void surveyFailed(const PresentDevice& device, std::string_view failure) const;
    void hidppSkipped(const PresentDevice& device, std::string_view openFailure) const;
    // A quit that ended at its deadline with the device's controls still diverted:
    // "at quit, #1 Name was not put back in time: 0xC3, 0xC4 and the thumb wheel stay diverted
    // until the next start puts them back" (`setUp`: the last diverting set-up handed to it, if any).
    void leftDiverted(const PresentDevice& device, const HIDPPSetup* setUp) const;
    void writeFailed(std::uint32_t status) const;
    void tapReenabled() const;
    void wokeFromSleep() const;
    void listenRefused(ListenEnd reason) const;
    void listenArmed(ListenID id, const PresentDevice& device) const;
    void listenHeard(ListenID id, const ListenPress& press) const;
    void listenTimedOut(ListenID id) const;
    void listenStopped() const;
    // No reason is written "stopped".
    void listenEnded(std::optional<ListenEnd> reason) const;

    const Logger& logger() const { return logger_; }

  private:
    Logger logger_;
};

}  // namespace tindlewave
