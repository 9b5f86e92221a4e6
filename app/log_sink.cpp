#include "app/log_sink.h"
#include "app/log_texts.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "app/console_queue.h"
#include "app/console_text.h"
#include "app/console_writer.h"
#include "app/monotonic_clock.h"

namespace app {

namespace {

// Each LogPrintf keeps at most this many characters in the capture buffer.
constexpr size_t kCaptureLimit = 1023;

// The capture buffer, kept in blocks of a fixed size: it grows without ever
// copying what it holds, so a run that captures tens of megabytes (a flood of
// messages) never holds the capture twice. Blocks are plain allocations;
// the part of a block not yet written costs address space, not memory.
class Capture {
 public:
  void Append(const char* text, size_t length) {
    while (length > 0) {
      const size_t index = size / kBlockSize;
      const size_t used = size % kBlockSize;
      if (index == blocks.size()) blocks.emplace_back(new char[kBlockSize]);
      const size_t step = length < kBlockSize - used ? length : kBlockSize - used;
      std::memcpy(blocks[index].get() + used, text, step);
      size += step;
      text += step;
      length -= step;
    }
  }
  // Empties the capture but keeps its blocks for what comes next.
  void Clear() { size = 0; }
  std::string Copy() const {
    std::string text;
    text.reserve(size);
    for (size_t index = 0; index < BlocksInUse(); ++index) text.append(blocks[index].get(), BlockLength(index));
    return text;
  }
  // Everything captured, its blocks handed over as they are. Leaves the
  // capture empty, without blocks.
  ReportText Take() {
    ReportText text;
    for (size_t index = 0; index < BlocksInUse(); ++index) {
      const size_t length = BlockLength(index);
      text.Append(std::move(blocks[index]), length);
    }
    blocks.clear();
    size = 0;
    return text;
  }
  void Swap(Capture& other) {
    blocks.swap(other.blocks);
    std::swap(size, other.size);
  }

 private:
  static constexpr size_t kBlockSize = size_t{1} << 20;

  size_t BlocksInUse() const { return (size + kBlockSize - 1) / kBlockSize; }
  size_t BlockLength(size_t index) const { return index + 1 < BlocksInUse() ? kBlockSize : size - index * kBlockSize; }

  std::vector<std::unique_ptr<char[]>> blocks;
  size_t size = 0;
};

logsink::ConsoleWriter& StandardOutput() {
#if defined(_WIN32)
  static logsink::HandleWriter* standardOutput = new logsink::HandleWriter;
#else
  static logsink::StreamWriter* standardOutput =
      new logsink::StreamWriter(stdout, logsink::IsTerminal(stdout), MonotonicNanoseconds);
#endif
  return *standardOutput;
}

struct Sink {
  std::mutex lock;
  Capture capture;
  // Queued under the sink's own lock: one lock a line.
  logsink::ConsoleQueue console{lock, &StandardOutput(), logsink::kConsoleQueueLimit,
                                std::chrono::nanoseconds(logsink::kFlushDelayNanoseconds)};
  std::atomic<bool> consoleStuck{false};
  logsink::ClockFunction clock = nullptr;
  bool stopwatchArmed = false; // false until the first LogStopwatch call
  uint64_t runStart = 0;
  uint64_t lastMark = 0;
};

// Never destroyed: threads may log while static objects are torn down at exit.
Sink& TheSink() {
  static Sink* sink = new Sink;
  return *sink;
}

using logsink::TextPiece;

// Text that is already safe for the console (the common case) is written as
// it is; device-supplied text is made harmless first, before the lock is
// taken, so that the check never holds up another thread's line.
class ConsoleText {
 public:
  ConsoleText(const char* text, size_t length) : piece{text, length} {
    if (IsConsoleSafe(text, length)) return;
    safe = MakeConsoleSafe(text, length);
    piece = {safe.data(), safe.size()};
  }
  TextPiece Piece() const { return piece; }

 private:
  TextPiece piece;
  std::string safe;
};

constexpr TextPiece kConsoleLineEnd{"\n", 1};
constexpr TextPiece kCaptureLineEnd{"\r\n", 2};

// The one way text enters the sink. Under the sink's lock the console's
// pieces are queued as one text and the capture's pieces appended, so that
// each call lands whole, and the console and the report show the calls in
// the same order. Every logged text of the input path passes here, so the
// step is kept inline rather than costing calls of its own.
[[gnu::always_inline]] inline void WriteLocked(Sink& sink, std::initializer_list<TextPiece> console,
                                               std::initializer_list<TextPiece> capture) {
  sink.console.PushLocked(console.begin(), console.size());
  for (const TextPiece& piece : capture) sink.capture.Append(piece.text, piece.length);
}

[[gnu::always_inline]] inline void Write(std::initializer_list<TextPiece> console,
                                         std::initializer_list<TextPiece> capture) {
  Sink& sink = TheSink();
  std::lock_guard<std::mutex> guard(sink.lock);
  WriteLocked(sink, console, capture);
}

// What the capture keeps of one LogPrintf (and of a logged line's text):
// what a 1024-byte formatting buffer would hold, the text up to its first
// zero byte, at most 1023 characters.
TextPiece CapturePart(const char* text, size_t length) {
  const size_t limit = length < kCaptureLimit ? length : kCaptureLimit;
  const void* zero = std::memchr(text, '\0', limit);
  return {text, zero != nullptr ? static_cast<size_t>(static_cast<const char*>(zero) - text) : limit};
}

// "{", one " 0x%02X," per byte, "};". Made of hex digits and punctuation
// only, a dump needs no console check.
std::string HexDump(const uint8_t* bytes, uint16_t length) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string line(1 + 6u * length + 2, '\0');
  char* at = &line[0];
  *at++ = '{';
  for (uint16_t i = 0; i < length; ++i) {
    *at++ = ' ';
    *at++ = '0';
    *at++ = 'x';
    *at++ = kHex[bytes[i] >> 4];
    *at++ = kHex[bytes[i] & 0x0F];
    *at++ = ',';
  }
  *at++ = '}';
  *at = ';';
  return line;
}

// The formatted text of a printf-style call: in `small` when it fits
// (nearly always: a log line is short), otherwise in `large`.
class Formatted {
 public:
  Formatted(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (needed <= 0) return;
    length = static_cast<size_t>(needed);
    if (length < sizeof small) {
      text = small;
      return;
    }
    large.assign(length + 1, '\0');
    std::vsnprintf(&large[0], large.size(), format, args);
    text = large.data();
  }
  const char* text = "";
  size_t length = 0;

 private:
  char small[512];
  std::string large;
};

uint64_t Now(const Sink& sink) {
  return sink.clock != nullptr ? sink.clock() : MonotonicNanoseconds();
}

} // namespace

void LogPrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const Formatted formatted(format, args);
  va_end(args);
  const ConsoleText console(formatted.text, formatted.length);
  Write({console.Piece()}, {CapturePart(formatted.text, formatted.length)});
}

void ConsolePrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const Formatted formatted(format, args);
  va_end(args);
  const ConsoleText console(formatted.text, formatted.length);
  Write({console.Piece()}, {});
}

void LogEndLine() {
  Write({kConsoleLineEnd}, {kCaptureLineEnd});
}

void LogLine(const char* text) {
  // Text and line end as one piece: console "text\n", capture "text\r\n".
  const size_t length = std::strlen(text);
  const ConsoleText console(text, length);
  Write({console.Piece(), kConsoleLineEnd}, {CapturePart(text, length), kCaptureLineEnd});
}

void LogHexDump(const uint8_t* bytes, uint16_t length) {
  // Written in one step, so that a dump is never split by another thread's line.
  const std::string dump = HexDump(bytes, length);
  const TextPiece piece{dump.data(), dump.size()};
  Write({piece, kConsoleLineEnd}, {piece, kCaptureLineEnd});
}

void LogLineAndHexDump(const char* text, const uint8_t* bytes, uint16_t length) {
  // One step, so that no other thread's text comes between a heading and
  // its dump. Only the heading can need the console check.
  const size_t headingLength = std::strlen(text);
  const ConsoleText heading(text, headingLength);
  const std::string dump = HexDump(bytes, length);
  const TextPiece piece{dump.data(), dump.size()};
  Write({heading.Piece(), kConsoleLineEnd, piece, kConsoleLineEnd},
        {CapturePart(text, headingLength), kCaptureLineEnd, piece, kCaptureLineEnd});
}

void LogStopwatch() {
  Sink& sink = TheSink();
  std::lock_guard<std::mutex> guard(sink.lock);
  // Read and update the marks under the lock, so that the lines appear in the
  // order of the marks even when several workers call at once.
  const uint64_t now = Now(sink);
  if (!sink.stopwatchArmed) {
    sink.stopwatchArmed = true;
    sink.runStart = now;
    sink.lastMark = now;
    return;
  }
  const double runTime = static_cast<double>(now - sink.runStart) / 1000000000.0;
  const double interval = static_cast<double>(now - sink.lastMark) / 1000000000.0;
  sink.lastMark = now;
  char text[128];
  const int length = std::snprintf(text, sizeof text, logtext::kStopwatch, runTime, interval);
  const TextPiece line{text, length > 0 ? static_cast<size_t>(length) : 0};
  WriteLocked(sink, {line, kConsoleLineEnd}, {line, kCaptureLineEnd});
}

namespace logsink {

void BeginCapture() {
  Sink& sink = TheSink();
  std::lock_guard<std::mutex> guard(sink.lock);
  sink.capture.Clear();
  sink.stopwatchArmed = false;
  sink.runStart = 0;
  sink.lastMark = 0;
}

std::string CaptureContents() {
  Sink& sink = TheSink();
  std::lock_guard<std::mutex> guard(sink.lock);
  return sink.capture.Copy();
}

ReportText TakeCapture() {
  Capture taken;
  {
    Sink& sink = TheSink();
    std::lock_guard<std::mutex> guard(sink.lock);
    sink.capture.Swap(taken);
  }
  return taken.Take();
}

bool DrainConsole(std::chrono::milliseconds patience) {
  // Not under the sink's lock: logging goes on while the console catches up.
  Sink& sink = TheSink();
  const bool drained = sink.console.Drain(patience);
  sink.consoleStuck = !drained;
  return drained;
}

bool ConsoleStuck() {
  return TheSink().consoleStuck;
}

uint64_t ConsoleLinesLeftOut() {
  return TheSink().console.LinesLeftOut();
}

void SetConsoleWriter(ConsoleWriter* writer) {
  TheSink().console.SetWriter(writer != nullptr ? writer : &StandardOutput());
}

void SetStopwatchClock(ClockFunction clock) {
  Sink& sink = TheSink();
  std::lock_guard<std::mutex> guard(sink.lock);
  sink.clock = clock;
}

} // namespace logsink

} // namespace app
