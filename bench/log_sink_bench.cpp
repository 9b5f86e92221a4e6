// LogPrintf throughput with 1, 4 and 8 threads logging at once, as the input
// thread and several activity workers may: the rate of all threads together.
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"

namespace {

void BM_LogPrintfThreads(benchmark::State& state) {
  if (state.thread_index() == 0) app::logsink::BeginCapture();
  uint64_t events = 0;
  unsigned n = static_cast<unsigned>(state.thread_index());
  for (auto _ : state) {
    app::LogPrintf("got MIDI: %X %X %X\n", 0x90 | (n & 0x0F), (n >> 4) & 0x7F, 0x64);
    ++n;
    // One thread starts the capture over for all; the others' lines count
    // toward the same bounded size.
    if (state.thread_index() == 0) bench::TrimCapture(events, static_cast<uint64_t>(state.threads()));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_LogPrintfThreads)->Threads(1)->Threads(4)->Threads(8)->UseRealTime();

} // namespace
