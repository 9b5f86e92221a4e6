// Cost per event of the input callback, each case beside its limit
// (input_cases.h). Standard output is /dev/null here (bench_main).
#include <benchmark/benchmark.h>

#include "bench/input_cases.h"

namespace {

template <class Case>
void Measure(benchmark::State& state) {
  Case events;
  for (auto _ : state) events.Call();
  if (!events.Ok()) state.SkipWithError("the handler did not reach the expected state");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * Case::kEvents));
}

// Named BM_Input<X> and BM_Limit<X>, which bench_main sets side by side.
const bool registered = [] {
  benchmark::RegisterBenchmark("BM_InputNote", Measure<bench::NoteInput>);
  benchmark::RegisterBenchmark("BM_LimitNote", Measure<bench::NoteLimit>);
  benchmark::RegisterBenchmark("BM_InputLongMessage402", Measure<bench::LongMessageInput>);
  benchmark::RegisterBenchmark("BM_LimitLongMessage402", Measure<bench::LongMessageLimit>);
  benchmark::RegisterBenchmark("BM_InputPackets402", Measure<bench::PacketsInput>);
  benchmark::RegisterBenchmark("BM_LimitPackets402", Measure<bench::PacketsLimit>);
  return true;
}();

} // namespace
