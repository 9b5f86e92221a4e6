// Test support: how much memory the process holds, to bound how it grows.
//
// Two measures: the peak resident set since the last reset (the kernel's
// high-water mark, reset through /proc/self/clear_refs where the kernel
// allows it), and the bytes the heap has handed out and not had back. Under
// a sanitizer the resident set says little about the program (freed blocks
// wait in quarantine, shadow memory grows with the heap), so there only the
// heap's own count is meaningful.
#pragma once

#include <sys/resource.h>

#include <cstddef>
#include <fstream>
#include <string>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers' runtimes export this; GCC ships no header for it.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#define PORTPROBE_SANITIZED_HEAP 1
#else
#include <malloc.h>
#endif

namespace memory_probe {

inline constexpr bool kSanitizedHeap =
#if defined(PORTPROBE_SANITIZED_HEAP)
    true;
#else
    false;
#endif

// Bytes handed out by the heap and not yet freed.
inline size_t LiveHeapBytes() {
#if defined(PORTPROBE_SANITIZED_HEAP)
  return __sanitizer_get_current_allocated_bytes();
#else
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
#endif
}

// Starts a new peak; false when the kernel does not let it be reset (then
// the peak counts from the start of the process).
inline bool ResetPeakResident() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

inline size_t StatusKilobytes(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, field.size(), field) == 0 && line.size() > field.size() && line[field.size()] == ':') {
      return std::stoul(line.substr(field.size() + 1));
    }
  }
  return 0;
}

inline size_t ResidentBytes() {
  return StatusKilobytes("VmRSS") * 1024;
}

// The highest resident set since the last reset.
inline size_t PeakResidentBytes() {
  const size_t peak = StatusKilobytes("VmHWM");
  if (peak != 0) return peak * 1024;
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<size_t>(usage.ru_maxrss) * 1024;
}

} // namespace memory_probe
