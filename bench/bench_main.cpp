// portprobe_bench: the tool's console goes to /dev/null through a real
// redirect of standard output, so the log sink's own writer (fwrite on
// stdout, flushed now and then) runs as in a run whose output is redirected; the
// benchmark's table goes to the original standard output.
//
// After the table, each BM_Input<X> is set beside its BM_Limit<X>: the ratio
// of their real times per event (medians when repeated).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>
#include <ext/stdio_filebuf.h>

#include <cstdio>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace {

class RatioReporter final : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool aggregate = run.run_type == Run::RT_Aggregate;
      if (aggregate && run.aggregate_name != "median") continue;
      // Per event: real time per iteration divided by events per iteration.
      const auto items = run.counters.find("items_per_second");
      if (items == run.counters.end() || items->second.value <= 0) continue;
      const double perEvent = 1e9 / items->second.value;
      Entry& entry = entries[run.run_name.function_name];
      // A median, once there is one, wins over the single repetitions.
      if (aggregate || !entry.fromMedian) {
        entry.nanoseconds = perEvent;
        entry.fromMedian = aggregate;
      }
    }
  }

  void Finalize() override {
    std::ostream& out = GetOutputStream();
    bool header = false;
    for (const auto& [name, input] : entries) {
      const std::string prefix = "BM_Input";
      if (name.compare(0, prefix.size(), prefix) != 0) continue;
      const auto limit = entries.find("BM_Limit" + name.substr(prefix.size()));
      if (limit == entries.end()) continue;
      if (!header) {
        out << "\nper event              input ns    limit ns    ratio\n";
        header = true;
      }
      char line[160];
      std::snprintf(line, sizeof line, "%-20s %10.1f  %10.1f  %7.2f\n", name.substr(prefix.size()).c_str(),
                    input.nanoseconds, limit->second.nanoseconds, input.nanoseconds / limit->second.nanoseconds);
      out << line;
    }
    out.flush();
    ConsoleReporter::Finalize();
  }

 private:
  struct Entry {
    double nanoseconds = 0;
    bool fromMedian = false;
  };
  std::map<std::string, Entry> entries;
};

} // namespace

int main(int argc, char** argv) {
  std::fflush(stdout);
  const int table = ::dup(STDOUT_FILENO);
  const int devNull = ::open("/dev/null", O_WRONLY);
  if (table < 0 || devNull < 0 || ::dup2(devNull, STDOUT_FILENO) < 0) {
    std::perror("portprobe_bench: redirecting standard output to /dev/null");
    return 1;
  }
  ::close(devNull);
  __gnu_cxx::stdio_filebuf<char> tableBuffer(table, std::ios::out);
  std::ostream tableStream(&tableBuffer);

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  reporter.SetOutputStream(&tableStream);
  reporter.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
