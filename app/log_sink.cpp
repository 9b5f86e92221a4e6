#include "app/log_sink.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "app/console_text.h"
#include "app/monotonic_clock.h"

namespace {

// Each LogPrintf keeps at most this many characters in the capture buffer.
constexpr size_t kCaptureLimit = 1023;

class StdoutWriter final : public logsink::ConsoleWriter {
 public:
  void Write(const char* text, size_t length) override {
    std::fwrite(text, 1, length, stdout);
    // Flushed at once: a diagnostic run is often the one that ends badly, and
    // what was logged before must still be on the screen.
    std::fflush(stdout);
  }
};

struct Sink {
  std::mutex lock;
  std::string capture;
  logsink::ConsoleWriter* console = nullptr;
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

logsink::ConsoleWriter& Console(Sink& sink) {
  static StdoutWriter* standardOutput = new StdoutWriter;
  return sink.console != nullptr ? *sink.console : *standardOutput;
}

// Formats into a string of any length.
std::string FormatWhole(const char* format, va_list args) {
  char small[512];
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (needed < 0) return std::string();
  if (static_cast<size_t>(needed) < sizeof small) return std::string(small, static_cast<size_t>(needed));
  std::string text(static_cast<size_t>(needed) + 1, '\0');
  std::vsnprintf(&text[0], text.size(), format, args);
  text.resize(static_cast<size_t>(needed));
  return text;
}

// Device-supplied text reaches the terminal only in a harmless form.
void WriteConsole(Sink& sink, const char* text, size_t length) {
  if (IsConsoleSafe(text, length)) {
    Console(sink).Write(text, length);
    return;
  }
  const std::string safe = MakeConsoleSafe(text, length);
  Console(sink).Write(safe.data(), safe.size());
}

// Writes console text and capture text as one step under the sink's lock.
void Emit(const std::string& consoleText, const char* captureText, size_t captureLength) {
  Sink& sink = TheSink();
  std::lock_guard<std::mutex> guard(sink.lock);
  WriteConsole(sink, consoleText.data(), consoleText.size());
  sink.capture.append(captureText, captureLength);
}

// What the capture keeps of one LogPrintf: what a 1024-byte formatting
// buffer would hold, the text up to its first zero byte, at most 1023
// characters.
size_t CaptureLength(const std::string& text) {
  size_t captureLength = text.size() < kCaptureLimit ? text.size() : kCaptureLimit;
  for (size_t i = 0; i < captureLength; ++i) {
    if (text[i] == '\0') return i;
  }
  return captureLength;
}

void LogFormatted(const std::string& text) {
  Emit(text, text.data(), CaptureLength(text));
}

// The bytes of "{", one " 0x%02X," per byte, "};".
std::string HexDumpLine(const uint8_t* bytes, uint16_t length) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string line;
  line.reserve(3 + 6u * length + 2);
  line += '{';
  for (uint16_t i = 0; i < length; ++i) {
    const char item[6] = {' ', '0', 'x', kHex[bytes[i] >> 4], kHex[bytes[i] & 0x0F], ','};
    line.append(item, sizeof item);
  }
  line += "};";
  return line;
}

uint64_t Now(const Sink& sink) {
  return sink.clock != nullptr ? sink.clock() : MonotonicNanoseconds();
}

} // namespace

void LogPrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = FormatWhole(format, args);
  va_end(args);
  LogFormatted(text);
}

void ConsolePrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = FormatWhole(format, args);
  va_end(args);
  Sink& sink = TheSink();
  std::lock_guard<std::mutex> guard(sink.lock);
  WriteConsole(sink, text.data(), text.size());
}

void LogEndLine() {
  Emit("\n", "\r\n", 2);
}

void LogLine(const char* text) {
  const std::string line(text);
  std::string captureText(line, 0, CaptureLength(line));
  captureText += "\r\n";
  Emit(line + "\n", captureText.data(), captureText.size());
}

void LogHexDump(const uint8_t* bytes, uint16_t length) {
  // Built whole and written once, so that a dump is never split by another
  // thread's line.
  std::string line = HexDumpLine(bytes, length);
  std::string consoleText = line;
  consoleText += '\n';
  line += "\r\n";
  Emit(consoleText, line.data(), line.size());
}

void LogLineAndHexDump(const char* text, const uint8_t* bytes, uint16_t length) {
  const std::string heading(text);
  const std::string dump = HexDumpLine(bytes, length);
  const std::string consoleText = heading + "\n" + dump + "\n";
  std::string captureText(heading, 0, CaptureLength(heading));
  captureText += "\r\n";
  captureText += dump;
  captureText += "\r\n";
  Emit(consoleText, captureText.data(), captureText.size());
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
  const int length = std::snprintf(text, sizeof text, "Run Time: %f  Interval Time: %f", runTime, interval);
  const size_t size = length > 0 ? static_cast<size_t>(length) : 0;
  logsink::ConsoleWriter& console = Console(sink);
  console.Write(text, size);
  console.Write("\n", 1);
  sink.capture.append(text, size);
  sink.capture.append("\r\n", 2);
}

namespace logsink {

void BeginCapture() {
  Sink& sink = TheSink();
  std::lock_guard<std::mutex> guard(sink.lock);
  sink.capture.clear();
  sink.stopwatchArmed = false;
  sink.runStart = 0;
  sink.lastMark = 0;
}

std::string CaptureContents() {
  Sink& sink = TheSink();
  std::lock_guard<std::mutex> guard(sink.lock);
  return sink.capture;
}

void SetConsoleWriter(ConsoleWriter* writer) {
  Sink& sink = TheSink();
  std::lock_guard<std::mutex> guard(sink.lock);
  sink.console = writer;
}

void SetStopwatchClock(ClockFunction clock) {
  Sink& sink = TheSink();
  std::lock_guard<std::mutex> guard(sink.lock);
  sink.clock = clock;
}

} // namespace logsink
