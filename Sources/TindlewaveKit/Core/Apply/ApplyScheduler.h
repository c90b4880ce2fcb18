#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <set>

#include "Core/Apply/ApplyReason.h"
#include "Core/Instant.h"

namespace tindlewave {

// The per-worker record of apply requests: reasons that arrive while a run is in progress are
// collected so that many requests become one run, and failed runs are retried with back-off.
// It has no clock: the host keeps the time and performs the runs.
//
// The host's cycle: call request() on every cause and start the next job on `start`; starting
// the next job is takeJob() (no job: the scheduler is idle again); when a run ends call
// finished() and arm a retry after the delay it returns, then take the next job at once; when a
// retry comes due, request(ApplyReason::retry).
struct ApplyScheduler {
    // One run: the reasons it serves and its attempt (1 for a first try, +1 per retry in a row).
    struct Job {
        std::set<ApplyReason> reasons;
        int attempt = 1;
        bool operator==(const Job&) const = default;
    };

    enum class RequestOutcome {
        start,           // the host must start a run now
        alreadyRunning,  // the reason waits in the queue for the next run
    };

    // The waits before retrying, indexed by the failures in a row before the one just counted.
    // Five retries, six runs in all: after the sixth failure in a row there is no further retry.
    static constexpr std::array<Duration, 5> backOff = {
        std::chrono::milliseconds(300), std::chrono::seconds(1), std::chrono::seconds(2),
        std::chrono::seconds(4),        std::chrono::seconds(8),
    };

    bool running = false;          // a run is in progress (or about to start)
    std::set<ApplyReason> queued;  // reasons not yet part of a run
    int failures = 0;              // failed runs in a row

    // Queues the reason. Any reason but `retry` restarts the back-off sequence (and revives a
    // scheduler that gave up).
    RequestOutcome request(ApplyReason reason);

    // Hands out the next job, serving every queued reason at once, and empties the queue. With
    // nothing queued there is no job and the scheduler stops running.
    std::optional<Job> takeJob();

    // Records how a run ended; after a failure returns how long to wait before retrying, or
    // nothing once the back-off is used up. Leaves `running` and `queued` alone.
    std::optional<Duration> finished(bool failed);

    bool operator==(const ApplyScheduler&) const = default;
};

}  // namespace tindlewave
