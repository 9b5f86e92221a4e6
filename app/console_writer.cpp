#include "app/console_writer.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

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

void StreamWriter::Flush(bool all) {
  if (!pending) return;
  if (!all && clock() - pendingSince < kFlushDelayNanoseconds) return;
  std::fflush(stream);
  pending = false;
}

} // namespace logsink
