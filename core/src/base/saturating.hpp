// Counters that stop at their largest value instead of wrapping to zero.
#pragma once

#include <cstdint>
#include <limits>

namespace remitrax {

// Adds 1 to `counter` unless it already holds the largest 64-bit value.
inline void saturating_increment(std::uint64_t& counter) {
    if (counter != std::numeric_limits<std::uint64_t>::max()) {
        ++counter;
    }
}

}  // namespace remitrax
