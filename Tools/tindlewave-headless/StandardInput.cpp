#include "StandardInput.h"

#include <unistd.h>

#include <cerrno>
#include <thread>
#include <vector>

namespace tindlewave::headless {

std::shared_ptr<StandardInput> StandardInput::start(int fd, std::function<void()> ready) {
    std::shared_ptr<StandardInput> input(new StandardInput(std::move(ready)));
    std::thread([input, fd] { input->read(fd); }).detach();
    return input;
}

void StandardInput::read(int fd) {
    LineReader reader;
    std::vector<char> chunk(64 * 1024);
    bool open = true;
    while (open) {
        auto got = ::read(fd, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        reader.append({chunk.data(), static_cast<std::size_t>(got)},
                      [&](LineReader::Line line) { open = open && push(std::move(line)); });
    }
    if (!open) return;
    if (auto last = reader.finish()) {
        if (!push(std::move(*last))) return;
    }
    end();
}

bool StandardInput::push(LineReader::Line line) {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [&] {
        return closed_ || (lines_.size() < queuedLinesLimit && bytes_ < queuedBytesLimit);
    });
    if (closed_) return false;
    const bool wasEmpty = lines_.empty();
    bytes_ += line.text.size();
    lines_.push_back(std::move(line));
    // Under the lock, so close() cannot come between the look and the call.
    if (wasEmpty) ready_();
    return true;
}

void StandardInput::end() {
    std::lock_guard lock(mutex_);
    ended_ = true;
    if (!closed_) ready_();
}

std::optional<LineReader::Line> StandardInput::take() {
    std::lock_guard lock(mutex_);
    if (lines_.empty()) return std::nullopt;
    auto line = std::move(lines_.front());
    lines_.pop_front();
    bytes_ -= line.text.size();
    room_.notify_one();
    return line;
}

bool StandardInput::ended() {
    std::lock_guard lock(mutex_);
    return ended_ && lines_.empty();
}

void StandardInput::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    room_.notify_all();
}

}  // namespace tindlewave::headless
