#include "Platform/Linux/Input/DeviceWriter.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace tindlewave {

namespace {

constexpr std::size_t reservedWrites = 256;

void signal(int fd) {
    const std::uint64_t one = 1;
    if (::write(fd, &one, sizeof one) < 0) {
        // Full (never: it is read empty at each idle turn) or gone at exit: nothing to do.
    }
}

void clear(int fd) {
    std::uint64_t count = 0;
    if (::read(fd, &count, sizeof count) < 0) {
        // Already empty.
    }
}

}  // namespace

DeviceWriter::DeviceWriter(double lateSeconds)
    : lateSeconds_(lateSeconds),
      pendingFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      lateFd_(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK)) {
    // Room for far more than a turn of reading hands over, here and in the writer's pair it
    // swaps with: handing over allocates nothing.
    queued_.reserve(reservedWrites);
    codes_.reserve(reservedWrites * 8);
    writing_.reserve(reservedWrites);
    writingCodes_.reserve(reservedWrites * 8);
    thread_ = std::thread([this] { loop(); });
}

DeviceWriter::~DeviceWriter() {
    stop();
}

void DeviceWriter::setLate(bool armed) {
    // Setting the timer also empties its count of expiries: disarmed, it is no longer readable.
    itimerspec when{};
    if (armed) {
        const auto nanoseconds = static_cast<long long>(lateSeconds_ * 1e9);
        when.it_value.tv_sec = static_cast<time_t>(nanoseconds / 1'000'000'000);
        when.it_value.tv_nsec = static_cast<long>(nanoseconds % 1'000'000'000);
        if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0) when.it_value.tv_nsec = 1;
    }
    ::timerfd_settime(lateFd_.get(), 0, &when, nullptr);
}

void DeviceWriter::stop() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        stopping_ = true;
        signal(pendingFd_.get());
    }
    if (thread_.joinable()) thread_.join();
}

void DeviceWriter::write(const SharedDevice& device, const input_event* codes, std::size_t count) {
    if (!device || count == 0) return;
    std::lock_guard lock(mutex_);
    if (stopping_) return;  // the devices go with the writer
    if (queued_.empty() && !busy_ && device->writesWithoutWaiting()) {
        // Everything handed over before is written, and this write returns at once: it is made
        // here, under the lock, so nothing handed over meanwhile can overtake it.
        device->write(codes, count);
        beats_.fetch_add(1, std::memory_order_release);
        ++handedOver_;
        ++done_;
        return;
    }
    // Only the first of a run wakes the writer: it takes the queue whole.
    if (queued_.empty()) signal(pendingFd_.get());
    queued_.push_back(Write{device, codes_.size(), count});
    codes_.insert(codes_.end(), codes, codes + count);
    ++handedOver_;
}

void DeviceWriter::flush() {
    std::unique_lock lock(mutex_);
    const std::uint64_t target = handedOver_;
    written_.wait(lock, [&] { return done_ >= target; });
}

void DeviceWriter::waitForWork() const {
    pollfd wake{pendingFd_.get(), POLLIN, 0};
    while (::poll(&wake, 1, -1) < 0 && errno == EINTR) {
    }
}

void DeviceWriter::loop() {
    // Its own name: it would have its maker's, the input thread's.
    pthread_setname_np(pthread_self(), "tw.devicewriter");
    std::vector<Write>& writing = writing_;
    std::vector<input_event>& codes = writingCodes_;
    bool timing = false;  // the timer is set
    for (;;) {
        waitForWork();
        {
            std::lock_guard lock(mutex_);
            if (queued_.empty()) {
                // All written: read empty, so nothing waits on it until the next hand-over.
                clear(pendingFd_.get());
                if (std::exchange(timing, false)) setLate(false);
                written_.notify_all();
                if (stopping_) return;
                continue;
            }
            writing.swap(queued_);
            codes.swap(codes_);
            busy_ = true;
        }
        // The time it may take runs from here until all is written (set here, not by the thread
        // handing over, which so makes one system call less).
        if (!std::exchange(timing, true)) setLate(true);
        for (const Write& w : writing) {
            w.device->write(codes.data() + w.first, w.count);
            beats_.fetch_add(1, std::memory_order_release);
        }
        const std::uint64_t count = writing.size();
        // The devices closed meanwhile are destroyed here, after their codes.
        writing.clear();
        codes.clear();
        {
            std::lock_guard lock(mutex_);
            done_ += count;
            busy_ = false;
        }
        written_.notify_all();
    }
}

}  // namespace tindlewave
