#include "Core/Apply/ApplyScheduler.h"

namespace tindlewave {

ApplyScheduler::RequestOutcome ApplyScheduler::request(ApplyReason reason) {
    queued.insert(reason);
    if (reason != ApplyReason::retry) failures = 0;
    if (running) return RequestOutcome::alreadyRunning;
    running = true;
    return RequestOutcome::start;
}

std::optional<ApplyScheduler::Job> ApplyScheduler::takeJob() {
    if (queued.empty()) {
        running = false;
        return std::nullopt;
    }
    Job job{std::move(queued), failures + 1};
    queued.clear();
    return job;
}

std::optional<Duration> ApplyScheduler::finished(bool failed) {
    if (!failed) {
        failures = 0;
        return std::nullopt;
    }
    const int before = failures;
    failures = before + 1;
    if (before >= 0 && before < static_cast<int>(backOff.size())) return backOff[before];
    return std::nullopt;
}

}  // namespace tindlewave
