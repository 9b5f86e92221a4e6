// The log sink: every text the tool shows goes through here.
//
// LogPrintf writes to the console and appends to the capture buffer, which
// becomes the report at the end of the run; ConsolePrintf writes to the
// console only. Any thread may log at any time: the main thread, the MIDI
// input thread and the activity workers do. One lock serialises the capture
// append and the console queueing of each call, so every call lands whole
// and the console and the report show the same order. The console itself is
// written by a thread of its own (console_queue.h): a console that stalls
// never holds up a logging thread or the report.
//
// The sink itself is never destroyed, so threads that still log while the
// process exits find it intact.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/report_text.h"

#if defined(__GNUC__)
#define PORTPROBE_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define PORTPROBE_PRINTF(fmt, args)
#endif

namespace app {

// Console: the whole formatted text. Capture buffer: the same text cut to its
// first 1023 characters.
void LogPrintf(const char* format, ...) PORTPROBE_PRINTF(1, 2);
// Console only; never reaches the report.
void ConsolePrintf(const char* format, ...) PORTPROBE_PRINTF(1, 2);
// "\n" on the console, "\r\n" in the capture buffer.
void LogEndLine();
// A logged line: the same bytes as LogPrintf("%s", text) then LogEndLine(),
// written as one piece, so that no other thread's text lands between the
// text and its line end.
void LogLine(const char* text);
// One line "{ 0xF0, 0x7E, 0xF7,};" followed by a line end.
void LogHexDump(const uint8_t* bytes, uint16_t length);
// A logged line and the hex dump under it, written as one piece: the same
// bytes as LogLine(text) then LogHexDump, but no other thread's text can
// come between a heading and its dump.
void LogLineAndHexDump(const char* text, const uint8_t* bytes, uint16_t length);
// Arms the stopwatch on its first call; afterwards logs the line
// "Run Time: %f  Interval Time: %f" in seconds since the first and the last call.
void LogStopwatch();

namespace logsink {

// Where console text goes. The default writes to standard output
// (console_writer.h says when it flushes). Called on the console's own
// thread only.
class ConsoleWriter {
 public:
  virtual ~ConsoleWriter() = default;
  virtual void Write(const char* text, size_t length) = 0;
  // all false: only what has waited long enough.
  virtual void Flush(bool all) { (void)all; }
  // Text written but not yet flushed, which Flush(false) will want to see
  // again once its time is up.
  virtual bool HasUnflushed() const { return false; }
};

// Waits at most patience until every console text so far is written and
// flushed; false when the console did not take it in time (the process must
// then end without flushing standard output, which would wait too).
bool DrainConsole(std::chrono::milliseconds patience);
// Whether DrainConsole last gave up; true until the next successful drain.
bool ConsoleStuck();
// Console lines left out because the console was not taking output.
uint64_t ConsoleLinesLeftOut();

// Starts a run: empties the capture buffer and re-arms the stopwatch.
void BeginCapture();
// A copy of everything captured since BeginCapture.
std::string CaptureContents();
// Everything captured since BeginCapture, its blocks moved out as they are;
// the capture goes on empty. Unlike a copy it never holds the capture twice,
// which matters when a run has captured a great deal.
ReportText TakeCapture();
// Routes console text to writer (nullptr restores standard output), once
// the text queued before has reached the old one. The writer must outlive
// its use; tests install their own for the duration.
void SetConsoleWriter(ConsoleWriter* writer);

// The clock of the stopwatch, in nanoseconds of a monotonic clock. Tests may
// replace it; nullptr restores the platform clock.
using ClockFunction = uint64_t (*)();
void SetStopwatchClock(ClockFunction clock);

} // namespace logsink

} // namespace app
