// input-path-count CASE CALLS
//
// Runs one case of input_cases.h CALLS times inside MeasuredCalls, for
// callgrind to count: instruction counts do not depend on the machine's
// load, so their ratios are steady where timings on a shared machine are
// not. Run it under
//   valgrind --tool=callgrind --collect-atstart=no --toggle-collect=MeasuredCalls
// with standard output to /dev/null (the console of the log sink). Prints
// the number of events on standard error, for dividing the count by.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/log_sink.h"

#include "bench/input_cases.h"

namespace {

template <class Case>
__attribute__((noinline)) void MeasuredCalls(Case& events, long calls) {
  for (long i = 0; i < calls; ++i) events.Call();
}

// Valgrind runs one thread at a time, and the console's thread gets its
// turn only now and then; left alone, the console queue would fill up and
// the count would be that of a console nobody reads. So the queue is
// drained between rounds, outside what is counted.
constexpr long kCallsPerRound = 100;

template <class Case>
int Run(long calls) {
  Case events;
  // Warmed up first: buffers grown, the capture at its working size.
  for (int i = 0; i < 2000; ++i) events.Call();
  app::logsink::DrainConsole(std::chrono::seconds(60));
  for (long done = 0; done < calls; done += kCallsPerRound) {
    MeasuredCalls(events, std::min(kCallsPerRound, calls - done));
    app::logsink::DrainConsole(std::chrono::seconds(60));
  }
  if (!events.Ok()) {
    std::fprintf(stderr, "input-path-count: the handler did not reach the expected state\n");
    return 1;
  }
  std::fprintf(stderr, "%llu\n", static_cast<unsigned long long>(calls) * Case::kEvents);
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  const long calls = argc == 3 ? std::atol(argv[2]) : 0;
  if (calls > 0) {
    const char* name = argv[1];
    if (std::strcmp(name, "input-note") == 0) return Run<bench::NoteInput>(calls);
    if (std::strcmp(name, "limit-note") == 0) return Run<bench::NoteLimit>(calls);
    if (std::strcmp(name, "input-long-message-402") == 0) return Run<bench::LongMessageInput>(calls);
    if (std::strcmp(name, "limit-long-message-402") == 0) return Run<bench::LongMessageLimit>(calls);
    if (std::strcmp(name, "input-packets-402") == 0) return Run<bench::PacketsInput>(calls);
    if (std::strcmp(name, "limit-packets-402") == 0) return Run<bench::PacketsLimit>(calls);
  }
  std::fprintf(stderr,
               "usage: input-path-count CASE CALLS\ncases: input-note limit-note input-long-message-402 "
               "limit-long-message-402 input-packets-402 limit-packets-402\n");
  return 2;
}
