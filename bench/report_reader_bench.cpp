// The report reader on what support staff paste: a typical report (a
// fader that jitters for the whole run: some three thousand lines) and the
// largest the tool writes (sixteen ports flooding at the full-speed rate:
// 1.15 million lines, 21.6 MB), read and then written out as portprobe-read
// writes them. The reports are made here as the tool writes them, from the
// flood's own numbering (testkit/flood.h).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "testkit/flood.h"
#include "tools/report_reader/findings.h"
#include "tools/report_reader/render.h"

namespace {

namespace flood = testkit::flood;

std::string Report(unsigned devices, uint32_t perDevice) {
  std::string report;
  char line[64];
  for (unsigned device = 1; device <= devices; ++device) {
    std::snprintf(line, sizeof line, "MIM_OPEN\nMIDI device found: Flood %02u\n", device);
    report += line;
  }
  for (uint32_t number = 0; number < perDevice; ++number) {
    for (unsigned device = 0; device < devices; ++device) {
      const uint32_t word = flood::MessageWord(device, number);
      std::snprintf(line, sizeof line, "got MIDI: %X %X %X\n", word & 0xFF, (word >> 8) & 0xFF, (word >> 16) & 0xFF);
      report += line;
    }
    if (number == 0) report += "Run Time: 0.100112  Interval Time: 0.100112\r\n";
  }
  report += "\r\n\r\n";
  for (unsigned device = 1; device <= devices; ++device) {
    std::snprintf(line, sizeof line, "\"Flood %02u\"\r\n", device);
    report += line;
  }
  return report + "\r\n";
}

const std::string& Typical() {
  static const std::string report = Report(1, 3000);
  return report;
}

const std::string& Flood() {
  static const std::string report = Report(16, 72000); // 4.5 s at 16,000 a second
  return report;
}

void Read(benchmark::State& state, const std::string& report) {
  for (auto _ : state) {
    const report_reader::Reading reading = report_reader::Read(report);
    benchmark::DoNotOptimize(reading.findings.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(report.size()));
}

void ReadAndWrite(benchmark::State& state, const std::string& report) {
  size_t written = 0;
  for (auto _ : state) {
    const report_reader::Reading reading = report_reader::Read(report);
    report_reader::RenderText(reading, [&written](const char*, size_t length) { written += length; });
  }
  benchmark::DoNotOptimize(written);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(report.size()));
}

void BM_ReaderTypicalReport(benchmark::State& state) {
  Read(state, Typical());
}
void BM_ReaderTypicalReportWritten(benchmark::State& state) {
  ReadAndWrite(state, Typical());
}
void BM_ReaderFloodReport(benchmark::State& state) {
  Read(state, Flood());
}
void BM_ReaderFloodReportWritten(benchmark::State& state) {
  ReadAndWrite(state, Flood());
}
BENCHMARK(BM_ReaderTypicalReport)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReaderTypicalReportWritten)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReaderFloodReport)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReaderFloodReportWritten)->Unit(benchmark::kMillisecond);

} // namespace
