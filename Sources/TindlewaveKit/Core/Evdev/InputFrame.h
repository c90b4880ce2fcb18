#pragma once

#include <linux/input.h>

#include <array>
#include <cstddef>
#include <span>

namespace tindlewave {

// The codes of one evdev frame: everything a node reports up to and including its SYN_REPORT.
// Kept inside the value, so reading and rebuilding frames never allocates.
class InputFrame {
  public:
    // Codes before the SYN_REPORT; a longer frame is cut into frames of this many.
    static constexpr std::size_t capacity = 64;

    void clear() { size_ = 0; }
    bool full() const { return size_ == capacity; }
    void push(const input_event& code) {
        if (size_ <= capacity) codes_[size_++] = code;
    }
    std::span<const input_event> codes() const { return {codes_.data(), size_}; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const input_event& operator[](std::size_t i) const { return codes_[i]; }

  private:
    std::array<input_event, capacity + 1> codes_;  // room for the closing SYN_REPORT
    std::size_t size_ = 0;
};

// Cuts the codes a node delivers into frames. After SYN_DROPPED (the kernel's buffer overflowed)
// everything up to the next SYN_REPORT is discarded and the owner resyncs from the node's state.
class FrameAssembler {
  public:
    enum class Step {
        more,    // keep feeding
        frame,   // frame() holds a whole frame, SYN_REPORT last
        resync,  // codes were lost: read the node's key state again
    };

    Step add(const input_event& code) {
        if (ready_) {
            frame_.clear();
            ready_ = false;
        }
        if (code.type == EV_SYN && code.code == SYN_DROPPED) {
            frame_.clear();
            dropping_ = true;
            return Step::more;
        }
        const bool report = code.type == EV_SYN && code.code == SYN_REPORT;
        if (dropping_) {
            if (!report) return Step::more;
            dropping_ = false;
            return Step::resync;
        }
        if (!report && frame_.full()) {
            // No mouse or keyboard reports this much at once: close it here.
            input_event closing = code;
            closing.type = EV_SYN;
            closing.code = SYN_REPORT;
            closing.value = 0;
            frame_.push(closing);
            ready_ = true;
            pending_ = code;
            hasPending_ = true;
            return Step::frame;
        }
        if (hasPending_) {
            hasPending_ = false;
            frame_.push(pending_);
        }
        frame_.push(code);
        if (!report) return Step::more;
        ready_ = true;
        return Step::frame;
    }

    const InputFrame& frame() const { return frame_; }

  private:
    InputFrame frame_;
    input_event pending_{};
    bool hasPending_ = false;
    bool ready_ = false;
    bool dropping_ = false;
};

}  // namespace tindlewave
