#pragma once

#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

namespace tindlewave {

// A first-in, first-out queue over a circular buffer that keeps its storage: it grows (doubling)
// when full and never shrinks, so once it has held the most values it ever holds at once, pushing
// and popping allocate nothing. (A deque allocates and frees a block every few values as they
// pass through it.)
template <class T>
class RingQueue {
  public:
    bool empty() const { return count_ == 0; }
    std::size_t size() const { return count_; }
    std::size_t capacity() const { return slots_.size(); }

    void push_back(T value) {
        if (count_ == slots_.size()) grow();
        slots_[(head_ + count_) % slots_.size()].emplace(std::move(value));
        ++count_;
    }

    T& front() { return *slots_[head_]; }
    T& back() { return *slots_[(head_ + count_ - 1) % slots_.size()]; }
    // The i-th value from the oldest.
    const T& operator[](std::size_t i) const { return *slots_[(head_ + i) % slots_.size()]; }

    void pop_front() {
        slots_[head_].reset();
        head_ = (head_ + 1) % slots_.size();
        --count_;
    }

    // Takes the oldest value out; the queue must not be empty.
    T take() {
        T value = std::move(front());
        pop_front();
        return value;
    }

    // Drops every value and keeps the storage.
    void clear() {
        while (!empty()) pop_front();
        head_ = 0;
    }

    void swap(RingQueue& other) noexcept {
        slots_.swap(other.slots_);
        std::swap(head_, other.head_);
        std::swap(count_, other.count_);
    }

  private:
    void grow() {
        std::vector<std::optional<T>> larger(slots_.empty() ? 8 : slots_.size() * 2);
        for (std::size_t i = 0; i < count_; ++i) {
            larger[i].emplace(std::move(*slots_[(head_ + i) % slots_.size()]));
        }
        slots_.swap(larger);
        head_ = 0;
    }

    std::vector<std::optional<T>> slots_;
    std::size_t head_ = 0;
    std::size_t count_ = 0;
};

}  // namespace tindlewave
