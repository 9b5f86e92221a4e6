// Console text to a stdio stream, and when it is flushed.
//
// On a terminal every write is flushed at once: the user watches the lines
// come. Into a file or a pipe (a redirected run, which is how support asks
// for a flood to be logged) a flush per write would cost a system call per
// batch of text; there text is flushed once the oldest unflushed text is
// kFlushDelay old, at one of the next few writes or at the next Flush, which
// the console's thread calls when that time is up, and at the end. A run
// that crashes loses at most that much of its console text (its report is
// lost with it anyway).
//
// Threads: the console's own thread only (console_queue.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/log_sink.h"

namespace app {

namespace logsink {

constexpr uint64_t kFlushDelayNanoseconds = 100'000'000; // 100 ms

// True when the stream is a terminal (a console window on Windows).
bool IsTerminal(std::FILE* stream);

class StreamWriter final : public ConsoleWriter {
 public:
  // clock: nanoseconds of a monotonic clock (MonotonicNanoseconds).
  StreamWriter(std::FILE* stream, bool terminal, ClockFunction clock);

  void Write(const char* text, size_t length) override;
  // Flushes what the delay allows to wait no longer; everything when `all`.
  void Flush(bool all) override;
  bool HasUnflushed() const override { return pending; }

 private:
  std::FILE* const stream;
  const bool terminal;
  const ClockFunction clock;
  bool pending = false;
  uint64_t pendingSince = 0;
  unsigned writesSinceLook = 0; // the clock is read every few writes only
};

#if defined(_WIN32)
// Standard output on Windows, written with WriteFile straight to its
// handle. Through the C runtime's stdout, a write stuck in a console that
// takes nothing would hold the runtime's lock on the stream, and the
// runtime's flush of its streams as the process exits would wait for it
// for ever. Each line feed is written as CR LF, as the runtime's text mode
// writes it.
class HandleWriter final : public ConsoleWriter {
 public:
  void Write(const char* text, size_t length) override;

 private:
  std::string translated;
};
#endif

} // namespace logsink

} // namespace app
