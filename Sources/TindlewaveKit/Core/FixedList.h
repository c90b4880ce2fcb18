#pragma once

#include <algorithm>
#include <array>
#include <cassert>
#include <cstddef>
#include <initializer_list>
#include <span>

namespace tindlewave {

// A list of at most N values kept inside the value itself, so that filling or copying it never
// allocates. For the few entries a bounded bookkeeping needs; the owner checks `full()` where
// the bound can be reached.
template <class T, std::size_t N>
class FixedList {
  public:
    constexpr FixedList() = default;
    constexpr FixedList(std::initializer_list<T> values) {
        for (const T& value : values) push_back(value);
    }

    constexpr void push_back(const T& value) {
        assert(count_ < N);
        if (count_ < N) items_[count_++] = value;
    }
    // Removes the entry at `at`, keeping the order of the others.
    constexpr void erase(const T* at) {
        auto index = static_cast<std::size_t>(at - items_.data());
        std::move(items_.begin() + static_cast<std::ptrdiff_t>(index) + 1,
                  items_.begin() + static_cast<std::ptrdiff_t>(count_),
                  items_.begin() + static_cast<std::ptrdiff_t>(index));
        --count_;
    }
    constexpr void clear() { count_ = 0; }

    constexpr const T* begin() const { return items_.data(); }
    constexpr const T* end() const { return items_.data() + count_; }
    constexpr T* begin() { return items_.data(); }
    constexpr T* end() { return items_.data() + count_; }
    constexpr const T* data() const { return items_.data(); }
    constexpr std::size_t size() const { return count_; }
    constexpr bool empty() const { return count_ == 0; }
    constexpr bool full() const { return count_ == N; }
    static constexpr std::size_t capacity() { return N; }
    constexpr const T& operator[](std::size_t i) const { return items_[i]; }
    constexpr operator std::span<const T>() const { return {items_.data(), count_}; }

    constexpr bool operator==(const FixedList& other) const {
        return std::equal(begin(), end(), other.begin(), other.end());
    }

  private:
    std::array<T, N> items_{};
    std::size_t count_ = 0;
};

}  // namespace tindlewave
