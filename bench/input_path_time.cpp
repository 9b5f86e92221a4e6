// input-path-time [REPETITIONS]
//
// The input path per event against its limit (input_cases.h), timed with
// the steady clock, and what each step between a driver's callback and the
// log sink costs on its own. Google Benchmark is not built for MinGW, so
// this is how the Windows build is measured (under Wine); it builds and
// runs on Linux too, for the same figures side by side.
//
// Run it with standard output going nowhere (the tool's console):
//   input-path-time 5 >/dev/null          wine input-path-time.exe 5 >/dev/null
// The figures go to standard error: medians of the repetitions, each a
// loop of about a quarter of a second.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "bench/input_cases.h"
#include "midi/port/winmm/event_relay.h"

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Nanoseconds a call of body, the median of `repetitions` timed loops.
// Each loop runs a batch often enough to last about 250 ms.
double TimeEach(int repetitions, uint64_t eventsPerCall, const std::function<void()>& body) {
  uint64_t calls = 1;
  for (;;) {
    const Clock::time_point start = Clock::now();
    for (uint64_t i = 0; i < calls; ++i) body();
    if (Clock::now() - start > std::chrono::milliseconds(25) || calls > (uint64_t{1} << 40)) break;
    calls *= 2;
  }
  calls *= 10;
  std::vector<double> perEvent;
  for (int repetition = 0; repetition < repetitions; ++repetition) {
    const Clock::time_point start = Clock::now();
    for (uint64_t i = 0; i < calls; ++i) body();
    const double elapsed = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    perEvent.push_back(elapsed / static_cast<double>(calls * eventsPerCall));
  }
  return Median(perEvent);
}

template <class Input, class Limit>
void Compare(const char* name, int repetitions) {
  Input input;
  Limit limit;
  const double inputNs = TimeEach(repetitions, Input::kEvents, [&input] { input.Call(); });
  const double limitNs = TimeEach(repetitions, Limit::kEvents, [&limit] { limit.Call(); });
  std::fprintf(stderr, "%-26s %10.1f %10.1f %8.2f\n", name, inputNs, limitNs, inputNs / limitNs);
}

// The relay between a driver's callback and the layer's thread: events
// posted back to back, each delivered to a counter; per event, until the
// last is delivered.
double RelayBackToBack(int repetitions) {
  std::atomic<uint64_t> delivered{0};
  port::winmm::EventRelay relay(
      65536, [&delivered](const port::winmm::DriverEvent&) { delivered.fetch_add(1, std::memory_order_relaxed); });
  constexpr uint64_t kBurst = 20000; // well within the relay's queue
  return TimeEach(repetitions, kBurst, [&] {
    const uint64_t target = delivered.load() + kBurst;
    for (uint64_t i = 0; i < kBurst; ++i) relay.Post(port::winmm::DriverEvent{&relay, 0x3C3, i, 0});
    while (delivered.load() < target) {
    }
  });
}

// The same one event at a time, each delivered before the next is posted:
// the relay's thread is woken for every one, as when a controller sends
// now and then.
double RelayOneByOne(int repetitions) {
  std::atomic<uint64_t> delivered{0};
  port::winmm::EventRelay relay(
      65536, [&delivered](const port::winmm::DriverEvent&) { delivered.fetch_add(1, std::memory_order_release); });
  return TimeEach(repetitions, 1, [&] {
    const uint64_t target = delivered.load() + 1;
    relay.Post(port::winmm::DriverEvent{&relay, 0x3C3, 0, 0});
    while (delivered.load(std::memory_order_acquire) < target) {
    }
  });
}

} // namespace

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  // The limit writes its console through stdio; fully buffered, as the
  // tool's console thread writes in batches. (The Windows C runtime would
  // otherwise pass each line to the system, which under Wine costs a
  // round trip to its server, and the limit would measure that.)
  std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
  std::fprintf(stderr, "per event, ns (median of %d)    input      limit    ratio\n", repetitions);
  Compare<bench::NoteInput, bench::NoteLimit>("note", repetitions);
  Compare<bench::LongMessageInput, bench::LongMessageLimit>("long message, 402 bytes", repetitions);
  Compare<bench::PacketsInput, bench::PacketsLimit>("packets of the 402 bytes", repetitions);

  std::fprintf(stderr, "\nper call, ns\n");
  std::mutex mutex;
  std::fprintf(stderr, "%-40s %10.1f\n", "std::mutex lock and unlock", TimeEach(repetitions, 1, [&mutex] {
                 mutex.lock();
                 mutex.unlock();
               }));
  std::fprintf(stderr, "%-40s %10.1f\n", "LogPrintf, a note's line",
               TimeEach(repetitions, 1, [] { app::LogPrintf("got MIDI: %X %X %X\n", 0x90, 0x3C, 0x64); }));
  app::logsink::BeginCapture();
  std::fprintf(stderr, "%-40s %10.1f\n", "relay, back to back", RelayBackToBack(repetitions));
  std::fprintf(stderr, "%-40s %10.1f\n", "relay, one event at a time", RelayOneByOne(repetitions));
#if defined(_WIN32)
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  std::fprintf(stderr, "%-40s %10.1f\n", "EnterCriticalSection and Leave", TimeEach(repetitions, 1, [&section] {
                 EnterCriticalSection(&section);
                 LeaveCriticalSection(&section);
               }));
  DeleteCriticalSection(&section);
  const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  std::fprintf(stderr, "%-40s %10.1f\n", "SetEvent, nobody waiting",
               TimeEach(repetitions, 1, [event] { SetEvent(event); }));
  CloseHandle(event);
  std::fprintf(stderr, "%-40s %10.1f\n", "SetThreadExecutionState (idle timer)",
               TimeEach(repetitions, 1, [] { SetThreadExecutionState(ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED); }));
#endif
  app::logsink::DrainConsole(std::chrono::seconds(10));
  return 0;
}
