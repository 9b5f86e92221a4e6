// The report reader on what support staff paste: a typical report (a
// fader that jitters for the whole run: some three thousand lines) and the
// largest the tool writes (sixteen ports flooding at the full-speed rate:
// 1.15 million lines, 21.6 MB), read and then written out as portprobe-read
// writes them; the largest attached base64 to a mail; and a month of a
// support desk's mail, an mbox of 1,000 mails each with an ordinary report
// (a few hundred lines), half attached, half in the body, read and written
// as --json. The reports are made here as the tool writes them, from the
// flood's own numbering (testkit/flood.h); the mails are laid out as
// Python's email package writes them (tests/tools/mail/ tests the reading
// of those).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "testkit/flood.h"
#include "tools/report_reader/findings.h"
#include "tools/report_reader/render.h"
#include "tools/report_reader/render_json.h"

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

std::string Base64(const std::string& bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string encoded;
  encoded.reserve(bytes.size() / 3 * 4 + bytes.size() / 57 + 8);
  size_t column = 0;
  for (size_t at = 0; at < bytes.size(); at += 3) {
    const size_t left = bytes.size() - at;
    uint32_t word = static_cast<uint8_t>(bytes[at]) << 16;
    if (left > 1) word |= static_cast<uint8_t>(bytes[at + 1]) << 8;
    if (left > 2) word |= static_cast<uint8_t>(bytes[at + 2]);
    encoded += kAlphabet[(word >> 18) & 63];
    encoded += kAlphabet[(word >> 12) & 63];
    encoded += left > 1 ? kAlphabet[(word >> 6) & 63] : '=';
    encoded += left > 2 ? kAlphabet[word & 63] : '=';
    if ((column += 4) == 76) {
      encoded += '\n';
      column = 0;
    }
  }
  return encoded + "\n";
}

std::string Mail(unsigned number, const std::string& report, bool attached) {
  std::string mail = "From: User " + std::to_string(number) + " <user" + std::to_string(number) +
                     "@example.org>\nTo: support@example.com\nSubject: Portprobe report\n"
                     "Date: Thu, 10 Dec 2026 09:30:00 +0100\nMIME-Version: 1.0\n";
  if (!attached) {
    return mail + "Content-Type: text/plain; charset=\"utf-8\"\nContent-Transfer-Encoding: 7bit\n\nHello,\n\n" +
           report + "\nThanks\n";
  }
  return mail +
         "Content-Type: multipart/mixed; boundary=\"===============1==\"\n\n--===============1==\n"
         "Content-Type: text/plain; charset=\"utf-8\"\nContent-Transfer-Encoding: 7bit\n\nAttached.\n\n"
         "--===============1==\nContent-Type: text/plain\nContent-Transfer-Encoding: base64\n"
         "Content-Disposition: attachment; filename=\"portprobe-report.txt\"\nMIME-Version: 1.0\n\n" +
         Base64(report) + "\n--===============1==--\n";
}

const std::string& FloodAttached() {
  static const std::string mail = Mail(1, Flood(), true);
  return mail;
}

const std::string& Mailbox() {
  static const std::string mbox = [] {
    std::string box;
    const std::string report = Report(2, 150); // some three hundred lines
    for (unsigned number = 1; number <= 1000; ++number) {
      box += "From user" + std::to_string(number) + "@example.org Thu Dec 10 09:30:00 2026\n";
      box += Mail(number, report, number % 2 == 0) + "\n";
    }
    return box;
  }();
  return mbox;
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
void BM_ReaderFloodAttachedToAMail(benchmark::State& state) {
  size_t written = 0;
  for (auto _ : state) {
    const report_reader::Readings readings = report_reader::ReadAll(FloodAttached());
    report_reader::RenderText(readings, [&written](const char*, size_t length) { written += length; });
  }
  benchmark::DoNotOptimize(written);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(FloodAttached().size()));
}
void BM_ReaderMailboxOf1000AsJson(benchmark::State& state) {
  size_t written = 0;
  for (auto _ : state) {
    const report_reader::Readings readings = report_reader::ReadAll(Mailbox());
    report_reader::RenderJson(readings, [&written](const char*, size_t length) { written += length; });
  }
  benchmark::DoNotOptimize(written);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(Mailbox().size()));
}
BENCHMARK(BM_ReaderTypicalReport)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReaderTypicalReportWritten)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReaderFloodReport)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReaderFloodReportWritten)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReaderFloodAttachedToAMail)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReaderMailboxOf1000AsJson)->Unit(benchmark::kMillisecond);

} // namespace
