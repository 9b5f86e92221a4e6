// The monotonic clock behind the stopwatch lines of the log.
#pragma once

#include <cstdint>

namespace app {

// Nanoseconds since an arbitrary fixed point. On Windows this is the
// performance counter; elsewhere the standard steady clock.
uint64_t MonotonicNanoseconds();

// Converts a performance-counter reading to nanoseconds without overflowing:
// whole seconds first, then the remainder scaled by 1e9 / frequency.
uint64_t CounterToNanoseconds(uint64_t counter, uint64_t frequency);

} // namespace app
