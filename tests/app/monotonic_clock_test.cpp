// Performance-counter readings to nanoseconds, without the overflow of
// counter * 1e9 that a machine up for a few hours would already hit.
#include "app/monotonic_clock.h"

#include <gtest/gtest.h>

namespace {

TEST(MonotonicClock, CounterConvertsWithoutOverflow) {
  struct Case {
    uint64_t counter;
    uint64_t frequency;
    uint64_t nanoseconds;
  };
  const Case cases[] = {
      {0, 10000000, 0},
      {10000000, 10000000, 1000000000},
      {35000000, 10000000, 3500000000},
      {1, 3000000, 333},                                  // a remainder below one tick's nanoseconds
      {30000000000000ull, 10000000, 3000000000000000ull}, // 35 days at 10 MHz: counter * 1e9 overflows
      {2400000000ull * 86400ull * 365ull, 2400000000ull, 86400ull * 365ull * 1000000000ull}, // a year at 2.4 GHz
      {12345, 0, 0}, // no counter frequency: no time
  };
  for (const Case& c : cases) {
    EXPECT_EQ(app::CounterToNanoseconds(c.counter, c.frequency), c.nanoseconds) << c.counter << " / " << c.frequency;
  }
}

} // namespace
