#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace tindlewave::fuzzing {

// The fuzz input read as a stream of choices. Once it runs out, every choice is the smallest and
// every chance fails, so a run always ends.
class FuzzInput {
  public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ >= size_; }

    std::uint8_t byte() { return empty() ? 0 : data_[at_++]; }

    // A number from lo to hi, both included.
    int between(int lo, int hi) {
        if (hi <= lo) return lo;
        const unsigned span = static_cast<unsigned>(hi - lo) + 1;
        unsigned value = byte();
        if (span > 256) value = (value << 8) | byte();
        return lo + static_cast<int>(value % span);
    }

    bool chance(double p) { return byte() < static_cast<unsigned>(p * 256); }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// A property of the run failed: stop here, so the fuzzer keeps the input.
inline void check(bool holds) {
    if (!holds) std::abort();
}

}  // namespace tindlewave::fuzzing
