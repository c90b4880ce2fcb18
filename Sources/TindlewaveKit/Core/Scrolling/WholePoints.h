#pragma once

#include <cstdint>

namespace tindlewave {

// Turns the fractional points of a gesture into whole points without losing the remainders: the
// whole points handed out always add up to the rounded sum of the fractional ones.
struct WholePoints {
    double exact = 0;   // sum of the fractional points of the present gesture
    double posted = 0;  // whole points handed out so far (always a whole number)

    // Adds `points` and gives the whole points now due. `restart` starts a new gesture from zero.
    // A share beyond the 32-bit range is handed out as its limit; the rest stays due. A share that
    // is not a finite number is dropped.
    std::int32_t take(double points, bool restart);

    bool operator==(const WholePoints&) const = default;
};

}  // namespace tindlewave
