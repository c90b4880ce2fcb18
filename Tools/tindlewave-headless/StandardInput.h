#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "LineReader.h"

namespace tindlewave::headless {

// Lines read from a descriptor (standard input) on a thread of its own into a bounded queue: the
// thread stops reading while the queue is full, so input given faster than it runs waits in the
// pipe, not in memory. The thread may still be blocked in read() when its owner goes, so it
// shares this object with its owner, who closes it.
class StandardInput {
  public:
    static constexpr std::size_t queuedLinesLimit = 256;
    static constexpr std::size_t queuedBytesLimit = 1024 * 1024;

    // Starts reading `fd`. `ready` is called on the reading thread when a line arrives in an
    // empty queue and when the input has ended, never after close().
    static std::shared_ptr<StandardInput> start(int fd, std::function<void()> ready);

    // The next line, if one is queued; from any thread.
    std::optional<LineReader::Line> take();
    // The input has ended and every line was taken.
    bool ended();
    // No more calls to `ready`; a reader waiting for room in the queue stops.
    void close();

  private:
    explicit StandardInput(std::function<void()> ready) : ready_(std::move(ready)) {}
    void read(int fd);
    // False once closed.
    bool push(LineReader::Line line);
    void end();

    std::mutex mutex_;
    std::condition_variable room_;
    std::function<void()> ready_;
    std::deque<LineReader::Line> lines_;
    std::size_t bytes_ = 0;
    bool ended_ = false;
    bool closed_ = false;
};

}  // namespace tindlewave::headless
