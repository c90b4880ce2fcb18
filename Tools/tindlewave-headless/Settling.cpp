// Following a command's effects before the next one runs, and waiting for the devices.
//
// A command acts on the HID executor (the mouse), the tap executor (injected events) or the
// engine; what follows comes back through the others: a mouse's reports at their own instants,
// the engine's actions and statuses to the main executor, the performer's posts to the tap
// executor, a smooth scroll's frames on tap timers. The command is settled once the mice have
// nothing left to send, no scroll is running, and a pass through the HID, tap, HID and main
// executors (each runs what was posted to it before) saw nothing new happen.

#include "Program.h"

#include "Model/ConfigCodec.h"
#include "Platform/Linux/System/Files.h"
#include "Platform/Simulated/HID/VirtualHidppMouse.h"
#include "Runtime/Tap/TapHost.h"
#include "SetUp.h"

namespace tindlewave::headless {

namespace {
// How often a wait looks at the engine when no status came meanwhile.
constexpr auto waitLook = std::chrono::milliseconds(50);
}

std::uint64_t Program::activity() const {
    return outputsSeen_ + printer_.count() + printing_->posts();
}

void Program::settle(Instant until) {
    settling_ = true;
    std::vector<RegistryID> mice;
    for (const auto& [number, d] : devices_) {
        if (d.isHidppMouse) mice.push_back(d.attached.interfaces.at(0));
    }
    hid_.post([this, mice = std::move(mice), before = activity(), until] {
        settleOnHid(mice, before, until);
    });
}

void Program::settleOnHid(std::vector<RegistryID> mice, std::uint64_t before, Instant until) {
    std::optional<Instant> next;
    for (auto id : mice) {
        const VirtualHidppMouse* mouse = simulated_ ? simulated_->hid.mouse(id) : nullptr;
        const auto at = mouse ? mouse->nextReportAt() : std::nullopt;
        if (at && (!next || *at < *next)) next = at;
    }
    const Instant now = hid_.clock().now();
    if (next && now < until) {
        // After the world's own timer for that report, which is due at the same instant.
        const Instant look = std::max(*next, now) + std::chrono::milliseconds(1);
        settleHidTimer_ = hid_.schedule(look, [this, mice = std::move(mice), before, until] {
            settleOnHid(mice, before, until);
        });
        return;
    }
    tap_.post([this, before, until] { settleOnTap(before, until); });
}

void Program::settleOnTap(std::uint64_t before, Instant until) {
    const FrameClock* frames = engine_->tapHost().frames();
    const Instant now = tap_.clock().now();
    if (frames && !frames->isPaused() && now < until) {
        settleTapTimer_ = tap_.schedule(now + std::chrono::milliseconds(20),
                                        [this, before, until] { settleOnTap(before, until); });
        return;
    }
    hid_.post([this, before, until] {
        main_.post([this, before, until] { settledOnce(before, until); });
    });
}

void Program::settledOnce(std::uint64_t before, Instant until) {
    if (quitting_) return;
    if (activity() != before && main_.clock().now() < until) {
        settle(until);
        return;
    }
    printing_->endBurst();
    settling_ = false;
    runPending();
}

// --- Waiting for the devices ---

void Program::waitApplied(double seconds) {
    waiting_ = true;
    waitUntil_ = main_.clock().now() + std::chrono::duration_cast<Duration>(
                                           std::chrono::duration<double>(seconds));
    // The settings file as it is now: a save made just before the wait is what must be in force,
    // though the store sees it only a moment later.
    readWaitedFile();
    waitTimer_ = main_.schedule(waitUntil_, [this] { checkWait(); });
    checkWait();
}

void Program::readWaitedFile() {
    waitFor_.reset();
    waitForError_.reset();
    auto bytes = files::read(places_.config);
    waitUnreadable_ = !bytes.ok();
    if (!bytes) return;
    auto decoded = ConfigCodec::decode(*bytes);
    if (decoded.ok()) {
        waitFor_ = std::move(decoded).value();
    } else {
        waitForError_ = decoded.error();
    }
}

void Program::checkWait() {
    if (!waiting_ || quitting_) return;
    // A file that could not be read is looked for again: the store makes a missing one at its
    // start.
    if (waitUnreadable_) readWaitedFile();
    if (main_.clock().now() >= waitUntil_) {
        waitEnded("not applied in time");
        return;
    }
    if (checking_) {
        lookAgain_ = true;
        return;
    }
    checking_ = true;
    hid_.post([this, expected = waitFor_] {
        const bool setUp = engineSetUp(*engine_, expected);
        // The engine published its status for the state just looked at before this job, so
        // when this reaches the main executor the status here is that one or a later one.
        main_.post([this, setUp] {
            checking_ = false;
            if (!waiting_ || quitting_) return;
            // A file with an error is never in force: once the status names that error (the
            // store has read the file as it is now), it is the answer.
            const auto& named = latest_ ? latest_->configError : std::nullopt;
            const bool unreadable = named && (named->message.starts_with("cannot read the file: ") ||
                                              named->message.starts_with("cannot create "));
            if (named && (waitUnreadable_ ? unreadable : named == waitForError_)) {
                waitEnded("not applied: configuration error: " + named->description());
                return;
            }
            bool applied = setUp && latest_ && !waitUnreadable_ && !waitForError_ && !named;
            // Every attached device must also show as connected, configured or new: until the
            // engine has seen them, nothing is set up yet.
            for (const auto& [number, d] : devices_) {
                if (!applied) break;
                const DeviceMatch match = d.builtIn ? DeviceMatch::builtIn()
                                                    : DeviceMatch::device(VendorID{d.vendor},
                                                                          ProductID{d.product});
                bool connected = false;
                for (const auto* list : {&latest_->devices, &latest_->newDevices}) {
                    for (const auto& status : *list) {
                        if (status.match == match && status.connectedAt) connected = true;
                    }
                }
                applied = connected;
            }
            if (applied) {
                waitEnded("applied");
                return;
            }
            if (std::exchange(lookAgain_, false)) {
                checkWait();
                return;
            }
            const Instant next = std::min(main_.clock().now() + waitLook, waitUntil_);
            waitTimer_ = main_.schedule(next, [this] { checkWait(); });
        });
    });
}

void Program::waitEnded(const std::string& answer) {
    waiting_ = false;
    lookAgain_ = false;
    waitTimer_.cancel();
    printer_.line(answer);
    runPending();
}

}  // namespace tindlewave::headless
