#include "app/monotonic_clock.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <chrono>
#endif

namespace app {

uint64_t CounterToNanoseconds(uint64_t counter, uint64_t frequency) {
  if (frequency == 0) return 0;
  const uint64_t seconds = counter / frequency;
  const uint64_t remainder = counter % frequency;
  return seconds * 1000000000ull + remainder * 1000000000ull / frequency;
}

uint64_t MonotonicNanoseconds() {
#if defined(_WIN32)
  LARGE_INTEGER counter;
  LARGE_INTEGER frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return CounterToNanoseconds(static_cast<uint64_t>(counter.QuadPart), static_cast<uint64_t>(frequency.QuadPart));
#else
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
#endif
}

} // namespace app
