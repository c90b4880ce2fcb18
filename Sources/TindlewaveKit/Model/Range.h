#pragma once

namespace tindlewave {

// A closed range lo...hi. Both ends belong to it; a NaN never does, because every comparison with
// NaN is false.
template <class T>
struct ClosedRange {
    T lo;
    T hi;

    constexpr bool contains(T x) const { return lo <= x && x <= hi; }
    bool operator==(const ClosedRange&) const = default;
};

}  // namespace tindlewave
