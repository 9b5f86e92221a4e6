// The stopwatch's clock on Windows is the performance counter.
#include "app/monotonic_clock.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace {

uint64_t CounterNow() {
  LARGE_INTEGER counter;
  LARGE_INTEGER frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return app::CounterToNanoseconds(static_cast<uint64_t>(counter.QuadPart), static_cast<uint64_t>(frequency.QuadPart));
}

TEST(MonotonicClockWin, ReadsThePerformanceCounterInNanoseconds) {
  for (int i = 0; i < 100; ++i) {
    const uint64_t before = CounterNow();
    const uint64_t clock = app::MonotonicNanoseconds();
    const uint64_t after = CounterNow();
    ASSERT_LE(before, clock);
    ASSERT_LE(clock, after);
  }
}

} // namespace
