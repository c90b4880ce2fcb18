#include "Platform/Linux/System/FolderWatchThread.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "Platform/Linux/System/FolderWatchDescriptor.h"

namespace tindlewave {

FolderWatchThread::FolderWatchThread(std::string folder, std::function<void()> changed,
                                     std::chrono::nanoseconds latency)
    : watch_(std::make_unique<FolderWatchDescriptor>(std::move(folder))),
      changed_(std::move(changed)),
      latency_(latency),
      stopFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (watch_->isValid() && stopFd_.isOpen()) thread_ = std::thread([this] { run(); });
}

FolderWatchThread::~FolderWatchThread() {
    if (thread_.joinable()) {
        std::uint64_t one = 1;
        while (::write(stopFd_.get(), &one, sizeof one) < 0 && errno == EINTR) {
        }
        thread_.join();
    }
}

bool FolderWatchThread::isWatching() const {
    return thread_.joinable();
}

void FolderWatchThread::run() {
    using Clock = std::chrono::steady_clock;
    bool pending = false;  // a change was seen; the callback is due at `deadline`
    Clock::time_point deadline{};
    for (;;) {
        int timeout = -1;
        if (pending) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            timeout = static_cast<int>(std::max<std::int64_t>(0, left.count()));
        }
        pollfd fds[2] = {{watch_->fd(), POLLIN, 0}, {stopFd_.get(), POLLIN, 0}};
        int ready = ::poll(fds, 2, timeout);
        if (ready < 0 && errno != EINTR) return;
        if (fds[1].revents != 0) return;
        if (fds[0].revents != 0 && watch_->drain() && !pending) {
            pending = true;
            deadline = Clock::now() + latency_;
        }
        if (pending && Clock::now() >= deadline) {
            pending = false;
            changed_();
        }
    }
}

}  // namespace tindlewave
