#include "Runtime/Worlds/LogindWakes.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <mutex>

#include "Platform/Linux/System/UniqueFd.h"
#include "Runtime/Executors/RunLoopExecutor.h"

namespace tindlewave {

struct LogindWakes::State {
    std::unique_ptr<LogindSleepWatch> watch;
    std::function<void()> onWake;
    std::mutex mutex;  // the fd watch is made on the caller's thread and ended on either
    FdWatch fdWatch;
    // Our own duplicate of the bus's descriptor, the one the executor watches. The bus closes its
    // descriptor when the connection is lost, and its number may then be reused by anything; ours
    // stays open until the watch is gone, so the watch never removes or reads a stranger's.
    UniqueFd watchedFd;

    void endWatch() {
        FdWatch ending;
        {
            std::lock_guard lock(mutex);
            ending = std::move(fdWatch);
        }
    }
};

std::variant<std::unique_ptr<LogindWakes>, LogindSleepWatch::Unavailable> LogindWakes::start(
    RunLoopExecutor& executor, std::function<void()> onWake) {
    auto opened = LogindSleepWatch::open();
    if (auto* unavailable = std::get_if<LogindSleepWatch::Unavailable>(&opened)) {
        return *unavailable;
    }
    auto state = std::make_shared<State>();
    state->watch = std::move(std::get<std::unique_ptr<LogindSleepWatch>>(opened));
    state->onWake = std::move(onWake);
    state->watchedFd.reset(::fcntl(state->watch->fd(), F_DUPFD_CLOEXEC, 0));
    if (!state->watchedFd.isOpen()) {
        return LogindSleepWatch::Unavailable{"the system bus's descriptor cannot be watched"};
    }
    // The callback keeps the state (and the bus) alive until the watch is ended.
    FdWatch fdWatch = executor.addFd(state->watchedFd.get(), EPOLLIN, [state](std::uint32_t) {
        for (bool sleeping : state->watch->process()) {
            if (!sleeping) state->onWake();
        }
        if (!state->watch->isConnected()) state->endWatch();
    });
    if (!fdWatch.isArmed()) {
        return LogindSleepWatch::Unavailable{"the system bus's descriptor cannot be watched"};
    }
    {
        std::lock_guard lock(state->mutex);
        state->fdWatch = std::move(fdWatch);
    }
    // Signals that arrived while subscribing are already read into sd-bus's buffer, where epoll
    // cannot see them.
    executor.post([weak = std::weak_ptr<State>(state)] {
        auto held = weak.lock();
        if (!held) return;
        for (bool sleeping : held->watch->process()) {
            if (!sleeping) held->onWake();
        }
    });
    return std::unique_ptr<LogindWakes>(new LogindWakes(std::move(state)));
}

LogindWakes::LogindWakes(std::shared_ptr<State> state) : state_(std::move(state)) {}

LogindWakes::~LogindWakes() { state_->endWatch(); }

}  // namespace tindlewave
