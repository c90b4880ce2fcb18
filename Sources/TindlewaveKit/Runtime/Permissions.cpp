#include "Runtime/Permissions.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "Platform/Clock.h"
#include "Platform/Executor.h"
#include "Platform/PermissionGrants.h"

namespace tindlewave {

namespace {

// The polling loop: one step per interval on its executor, ending once the channel has ended.
struct Poller : std::enable_shared_from_this<Poller> {
    Poller(const Permissions& p, Channel<PermissionState> c, Duration i, Executor& e)
        : permissions(p), channel(std::move(c)), interval(i), executor(e) {}

    void step() {
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
        wake = executor.schedule(executor.clock().now() + interval,
                                 [self = shared_from_this()] { self->step(); });
    }

    void stop() { wake.cancel(); }

    const Permissions permissions;
    Channel<PermissionState> channel;
    const Duration interval;
    Executor& executor;
    std::optional<PermissionState> last;
    TimerHandle wake;
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

Channel<PermissionState> Permissions::updates(Duration interval, Executor& executor) const {
    Channel<PermissionState> channel(Buffering::unbounded);
    auto poller =
        std::make_shared<Poller>(*this, channel, std::max(interval, shortestInterval), executor);
    // The handler may run on any thread; the timer belongs to the executor. Only the poller's own
    // jobs and timer keep it: the channel holds it weakly, since it holds the channel.
    std::weak_ptr<Poller> weak = poller;
    channel.onTermination([weak, &executor] {
        executor.post([weak] {
            if (auto alive = weak.lock()) alive->stop();
        });
    });
    executor.post([poller] { poller->step(); });
    return channel;
}

}  // namespace tindlewave
