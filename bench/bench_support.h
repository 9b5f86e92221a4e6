// Shared pieces of the benchmarks: a port service that costs nothing, the
// capture buffer kept at a bounded size, and the "limit" writer, which does
// only what any log sink must do with a text: format it, write it to the
// console and append it to a capture buffer.
//
// Threads: everything here is used by the benchmark's threads only; the
// limit writer and its buffer belong to one thread at a time.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/log_sink.h"
#include "midi/port/port.h"

namespace bench {

// A port service whose calls do nothing and succeed, so that the input path
// is measured without the cost of any particular service.
class QuietService final : public port::MidiService {
 public:
  unsigned InputCount() override { return 0; }
  port::Result InputName(unsigned, std::string&) override { return port::kBadDeviceId; }
  port::Result OpenInput(unsigned, port::InputCallback, uintptr_t, port::InputHandle&) override {
    return port::kBadDeviceId;
  }
  port::Result StartInput(port::InputHandle) override { return port::kNoError; }
  port::Result StopInput(port::InputHandle) override { return port::kNoError; }
  port::Result PrepareInputBuffer(port::InputHandle, port::MidiHeader&) override { return port::kNoError; }
  port::Result AddInputBuffer(port::InputHandle, port::MidiHeader&) override { return port::kNoError; }
  port::Result UnprepareInputBuffer(port::InputHandle, port::MidiHeader&) override { return port::kNoError; }
  void DetachInput(port::InputHandle) override {}
  unsigned OutputCount() override { return 0; }
  port::Result OutputName(unsigned, std::string&) override { return port::kBadDeviceId; }
  port::Result OpenOutput(unsigned, port::OutputHandle&) override { return port::kBadDeviceId; }
  port::Result PrepareOutput(port::OutputHandle, port::MidiHeader&) override { return port::kNoError; }
  port::Result SendLong(port::OutputHandle, port::MidiHeader&) override { return port::kNoError; }
  port::Result UnprepareOutput(port::OutputHandle, port::MidiHeader&) override { return port::kNoError; }
  void Shutdown() override {}
};

// A run's capture grows for five seconds; a benchmark runs millions of
// events, so it starts the capture over now and then to stay at a size a
// run would have. Starting over keeps the buffer's storage.
constexpr uint64_t kEventsPerCapture = 4096;

inline void TrimCapture(uint64_t& events, uint64_t added = 1) {
  events += added;
  if (events >= kEventsPerCapture) {
    events = 0;
    app::logsink::BeginCapture();
  }
}

// The limit: each log call's text formatted once, written to the console (a
// redirected console, as here, is flushed only now and then, as the sink
// flushes it) and appended to a capture buffer. No lock, no copy, no check.
class LimitWriter {
 public:
  LimitWriter() : line(new char[kLongestLine]) { capture.reserve(1 << 20); }

  void Printf(const char* format, ...) PORTPROBE_PRINTF(2, 3) {
    char text[1024];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (length > 0) Write(text, static_cast<size_t>(length), text, static_cast<size_t>(length));
  }
  // The same text as LogLineAndHexDump, built in place: the heading, its
  // line end and the dump under it, one write as the sink makes it.
  void LineAndHexDump(const char* heading, const uint8_t* bytes, uint16_t length) {
    static const char kHex[] = "0123456789ABCDEF";
    const size_t headingLength = std::strlen(heading);
    char* const text = line.get();
    std::memcpy(text, heading, headingLength);
    size_t at = headingLength;
    text[at++] = '\n';
    const size_t dumpStart = at;
    text[at++] = '{';
    for (uint16_t i = 0; i < length; ++i) {
      text[at++] = ' ';
      text[at++] = '0';
      text[at++] = 'x';
      text[at++] = kHex[bytes[i] >> 4];
      text[at++] = kHex[bytes[i] & 0x0F];
      text[at++] = ',';
    }
    text[at++] = '}';
    text[at++] = ';';
    text[at] = '\n';
    std::fwrite(text, 1, at + 1, stdout);
    capture.append(text, headingLength);
    capture.append("\r\n", 2);
    capture.append(text + dumpStart, at - dumpStart);
    capture.append("\r\n", 2);
  }
  void Trim(uint64_t& events, uint64_t added = 1) {
    events += added;
    if (events >= kEventsPerCapture) {
      events = 0;
      capture.clear();
    }
  }

 private:
  void Write(const char* console, size_t consoleLength, const char* captured, size_t capturedLength) {
    std::fwrite(console, 1, consoleLength, stdout);
    capture.append(captured, capturedLength);
  }

  static constexpr size_t kLongestLine = 1024 + 3 + 6 * 65535 + 4; // a heading and a dump
  std::unique_ptr<char[]> line;
  std::string capture;
};

} // namespace bench
