#pragma once

#include <linux/input.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Platform/Linux/Input/EvdevDevice.h"
#include "Platform/Linux/System/UniqueFd.h"

namespace tindlewave {

// A device of the program's (a mirror, its keyboard or pointer), shared by whoever still writes
// to it: it is destroyed (the kernel lets go of what it holds) once the last holder lets go.
using SharedDevice = std::shared_ptr<const UinputDevice>;

// Writes to the program's devices in the order handed over, so that the thread reading the
// grabbed nodes never waits for a write. While nothing handed over is still unwritten, codes for
// a device whose writes return at once (a uinput device: the kernel passes them to its readers
// and never waits for them) are written by the thread handing them over, in that call: waking a
// thread of its own would cost more than the write. Everything else (codes handed over while
// earlier ones are being written, a device whose writes may wait) goes to the writer's thread.
//
// Writes come out in the order handed over, whatever the device: a mirror's frames in its node's
// order, and the program's modifier keys before the frame they belong to. A device handed over
// is held until its codes are written, so one closed meanwhile is destroyed after them, never
// before. Once the writer has been at codes for `lateSeconds` without having written everything,
// `lateFd()` is readable (a timer the stall watchdog polls, expecting `beats()` to go on within
// its limit), until it has; so neither an idle writer nor one that keeps up wakes anyone else.
// Handing over takes a lock the writer holds only to take the queue, never across a write.
class DeviceWriter {
  public:
    explicit DeviceWriter(double lateSeconds);
    // Writes what was handed over, then ends its thread (stop); what is handed over after that
    // is dropped.
    ~DeviceWriter();
    DeviceWriter(const DeviceWriter&) = delete;
    DeviceWriter& operator=(const DeviceWriter&) = delete;

    // Hands `count` codes over to be written to `device` in one write (written at once, on the
    // calling thread, when nothing waits before them and the device never waits); any thread.
    void write(const SharedDevice& device, const input_event* codes, std::size_t count);
    // Waits until everything handed over so far is written (tests and benchmarks, and the end).
    void flush();
    void stop();

    int lateFd() const { return lateFd_.get(); }
    // Counts the writes made.
    std::uint64_t beats() const { return beats_.load(std::memory_order_acquire); }

  private:
    struct Write {
        SharedDevice device;
        std::size_t first;
        std::size_t count;
    };
    void loop();
    void waitForWork() const;

    void setLate(bool armed);  // the writer's thread

    const double lateSeconds_;
    const UniqueFd pendingFd_;  // an eventfd: the writer's wake-up, nonzero while it has work
    const UniqueFd lateFd_;     // a timerfd: armed while something handed over is not written
    std::mutex mutex_;
    std::condition_variable written_;
    std::vector<Write> queued_;        // under mutex_
    std::vector<input_event> codes_;   // under mutex_: the queued writes' codes
    std::uint64_t handedOver_ = 0;     // under mutex_
    std::uint64_t done_ = 0;           // under mutex_
    bool stopping_ = false;            // under mutex_
    bool busy_ = false;                // under mutex_: the writer's thread is at codes it took
    std::vector<Write> writing_;            // the writer's: what it took from the queue
    std::vector<input_event> writingCodes_;
    std::atomic<std::uint64_t> beats_{0};
    std::thread thread_;  // last: started once everything it reads is made
};

}  // namespace tindlewave
