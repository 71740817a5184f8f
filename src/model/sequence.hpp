#pragma once

#include <cstdint>
#include <limits>

namespace model {

// The phone's sequences and set numbers may be any 64-bit integer. Counting on from one stops at
// the largest: a set added after one at the maximum shares its sequence (the list keeps received
// order among equals) instead of wrapping to the front.
constexpr std::int64_t sequenceAfter(std::int64_t sequence, std::int64_t step = 1) {
    std::int64_t result = 0;
    if (__builtin_add_overflow(sequence, step, &result)) {
        return step > 0 ? std::numeric_limits<std::int64_t>::max()
                        : std::numeric_limits<std::int64_t>::min();
    }
    return result;
}

} // namespace model
