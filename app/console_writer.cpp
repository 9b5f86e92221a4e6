#include "app/console_writer.h"

#include <algorithm>

#if defined(_WIN32)
#include <windows.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace app {

namespace logsink {

namespace {

// A flood writes a line every microsecond or so; looking at the clock every
// 32nd line still notices the delay in time.
constexpr unsigned kWritesPerLook = 32;

} // namespace

bool IsTerminal(std::FILE* stream) {
#if defined(_WIN32)
  return _isatty(_fileno(stream)) != 0;
#else
  return isatty(fileno(stream)) != 0;
#endif
}

StreamWriter::StreamWriter(std::FILE* stream, bool terminal, ClockFunction clock)
    : stream(stream), terminal(terminal), clock(clock) {}

void StreamWriter::Write(const char* text, size_t length) {
  std::fwrite(text, 1, length, stream);
  if (terminal) {
    std::fflush(stream);
    return;
  }
  if (!pending) {
    pending = true;
    pendingSince = clock();
    writesSinceLook = 0;
  } else if (++writesSinceLook == kWritesPerLook) {
    writesSinceLook = 0;
    if (clock() - pendingSince >= kFlushDelayNanoseconds) Flush(true);
  }
}

#if defined(_WIN32)
void HandleWriter::Write(const char* text, size_t length) {
  translated.clear();
  translated.reserve(length + length / 16);
  for (size_t at = 0; at < length; ++at) {
    if (text[at] == '\n') translated += '\r';
    translated += text[at];
  }
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
  size_t written = 0;
  while (written < translated.size()) {
    DWORD step = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(translated.size() - written, 1 << 20));
    // A console or pipe that is gone loses the text; the report keeps it.
    if (!WriteFile(output, translated.data() + written, chunk, &step, nullptr) || step == 0) return;
    written += step;
  }
}
#endif

void StreamWriter::Flush(bool all) {
  if (!pending) return;
  if (!all && clock() - pendingSince < kFlushDelayNanoseconds) return;
  std::fflush(stream);
  pending = false;
}

} // namespace logsink

} // namespace app
