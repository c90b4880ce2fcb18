#pragma once

// Counts every allocation of the benchmark executable that includes this header (include it in
// one translation unit only: it replaces the global operators new and delete). A benchmark reads
// `allocationCount()` before and after its loop and reports the difference per iteration.

#include <atomic>
#include <cstdlib>
#include <new>

namespace tindlewave::bench {

inline std::atomic<long> allocations{0};

inline long allocationCount() {
    return allocations.load(std::memory_order_relaxed);
}

}  // namespace tindlewave::bench

// The replacements stay out of line: inlined into a caller, the compiler would see `free` of a
// pointer that came from `operator new` and warn of a mismatched pair.
[[gnu::noinline]] void* operator new(std::size_t size) {
    tindlewave::bench::allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
