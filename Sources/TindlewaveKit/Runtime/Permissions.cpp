#include "Runtime/Permissions.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>

#include "Platform/Clock.h"
#include "Platform/Executor.h"
#include "Platform/PermissionGrants.h"

namespace tindlewave {

namespace {

// The reading loop: one step per interval on its executor, or, over grants that tell of their
// changes, one step per change; it ends once the channel has ended.
struct Poller : std::enable_shared_from_this<Poller> {
    Poller(const Permissions& p, Channel<PermissionState> c, Duration i, Executor& e)
        : permissions(p), channel(std::move(c)), interval(i), executor(e) {}

    void step() {
        queued.store(false);
        if (channel.isTerminated()) return;  // no read after the consumer stopped listening
        if (channel.isAbandoned()) {
            // Dropped unsubscribed: nobody can ever listen. Ending it releases the poller too.
            channel.finish();
            return;
        }
        PermissionState state = permissions.current();
        if (state != last) {
            last = state;
            channel.send(state);
        }
        if (told) return;  // the next step comes with the next change
        wake = executor.schedule(executor.clock().now() + interval,
                                 [self = shared_from_this()] { self->step(); });
    }

    // A grant may have changed (on the grants' thread): one step, however many changes come
    // before it runs.
    void changed() {
        if (!queued.exchange(true)) executor.post([self = shared_from_this()] { self->step(); });
    }

    // From any thread, once. Only a timer needs the executor: over grants that tell of their
    // changes nothing is posted, so the stream may end after the executor is gone.
    void stop() {
        changes.cancel();
        if (told) return;
        executor.post([weak = weak_from_this()] {
            if (auto alive = weak.lock()) alive->wake.cancel();
        });
    }

    const Permissions permissions;
    Channel<PermissionState> channel;
    const Duration interval;
    Executor& executor;
    std::optional<PermissionState> last;
    TimerHandle wake;
    bool told = false;  // the grants tell of their changes; set before the first step
    Subscription changes;
    std::atomic<bool> queued{false};
};

}  // namespace

PermissionState Permissions::current() const {
    auto inputMonitoring = grants_.inputMonitoring();
    auto accessibility = grants_.accessibility();
    return PermissionState{.accessibility = accessibility, .inputMonitoring = inputMonitoring};
}

void Permissions::request(Permission permission) const {
    grants_.request(permission);
}

GrantCause Permissions::cause(Permission permission) const { return grants_.cause(permission); }

Channel<PermissionState> Permissions::updates(Duration interval, Executor& executor) const {
    Channel<PermissionState> channel(Buffering::unbounded);
    auto poller =
        std::make_shared<Poller>(*this, channel, std::max(interval, shortestInterval), executor);
    // Watched before the first read, so no change falls between the two. The watch holds the
    // poller until it is cancelled, as the timer does in its place.
    if (auto watch = grants_.watch([poller] { poller->changed(); })) {
        poller->told = true;
        poller->changes = std::move(*watch);
    }
    // The handler may run on any thread; the timer belongs to the executor. Only the poller's own
    // jobs, timer and watch keep it: the channel holds it weakly, since it holds the channel.
    std::weak_ptr<Poller> weak = poller;
    channel.onTermination([weak] {
        if (auto alive = weak.lock()) alive->stop();
    });
    executor.post([poller] { poller->step(); });
    return channel;
}

}  // namespace tindlewave
