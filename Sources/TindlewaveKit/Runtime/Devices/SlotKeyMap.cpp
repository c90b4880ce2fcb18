// The key-map half of a slot: the worker that surveys the device's keyboard services once and then
// writes the desired key map, one pass per queued set of reasons, with the retries of failures.

#include "Platform/Clock.h"
#include "Platform/Executor.h"
#include "Runtime/Devices/Slot.h"

namespace tindlewave {

template <class F>
auto Slot::guarded(F body) {
    return [weak = std::weak_ptr<Slot*>(self_), body = std::move(body)](auto&&... arguments) mutable {
        if (const auto self = weak.lock()) body(**self, std::forward<decltype(arguments)>(arguments)...);
    };
}

void Slot::applyKeyMap(ApplyReason reason) {
    if (closed_ || !hasKeyMap_) return;
    if (scheduler_.request(reason) != ApplyScheduler::RequestOutcome::start) return;
    // The worker starts as a job of its own: reasons arriving before it runs join its first pass.
    context_.executor.post(guarded([](Slot& slot) { slot.nextPass(); }));
}

void Slot::nextPass() {
    if (workerCancelled_) return;
    auto job = scheduler_.takeJob();
    if (!job) {
        callbacks_.changed();
        return;
    }
    retry_.cancel();
    if (!surveyed_) {
        KeyMapWriter::read(context_.keyMap, context_.executor, matching_,
                           guarded([job = *job](Slot& slot, Result<KeyMapWriter::Pairs, KeyMapError> read) {
                               slot.surveyed(job, std::move(read));
                           }));
        return;
    }
    write(*job);
}

void Slot::surveyed(const ApplyScheduler::Job& job, Result<KeyMapWriter::Pairs, KeyMapError> read) {
    if (!read) {
        context_.journal.surveyFailed(device_, read.error().description());
        keyMapFailed(read.error());
        callbacks_.changed();
        nextPass();
        return;
    }
    ownedOnDevice_ = KeyMapSetup::tindlewaveLeftover(*read);
    surveyed_ = true;
    write(job);
}

void Slot::write(const ApplyScheduler::Job& job) {
    // The set-up may have changed while the worker waited.
    KeyMapSetup wanted = callbacks_.desired().keyMap;
    if (wanted.routes.empty() && (!ownedOnDevice_ || ownedOnDevice_->routes.empty())) {
        scheduler_.failures = 0;  // nothing to write or undo
        nextPass();
        return;
    }
    phase_ = Phase::applying();
    callbacks_.changed();
    KeyMapWriter::write(context_.keyMap, context_.executor, wanted, matching_,
                        guarded([job, wanted](Slot& slot, Result<std::monostate, KeyMapError> result) {
                            slot.written(job, wanted, std::move(result));
                        }));
}

void Slot::written(const ApplyScheduler::Job& job, const KeyMapSetup& wrote,
                   Result<std::monostate, KeyMapError> result) {
    if (result) {
        ownedOnDevice_ = wrote;
        phase_ = Phase::idle();
        scheduler_.failures = 0;
        context_.journal.applied(device_, job, wrote, std::nullopt);
    } else {
        context_.journal.applied(device_, job, wrote, result.error());
        keyMapFailed(result.error());
    }
    callbacks_.changed();
    nextPass();
}

void Slot::keyMapFailed(KeyMapError error) {
    phase_ = Phase::failed(std::move(error));
    const auto delay = scheduler_.finished(/*failed=*/true);
    if (!delay) return;  // from the sixth failure in a row: wait for a new reason
    retry_ = context_.executor.schedule(
        context_.executor.clock().now() + *delay,
        guarded([](Slot& slot) { slot.applyKeyMap(ApplyReason::retry); }));
}

}  // namespace tindlewave
