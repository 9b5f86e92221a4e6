// Test support: collects what the log sink writes to the console, and
// starts each test with an empty capture buffer and a re-armed stopwatch.
#pragma once

#include <string>

#include "app/log_sink.h"

class ConsoleCapture final : public logsink::ConsoleWriter {
 public:
  ConsoleCapture() {
    logsink::BeginCapture();
    logsink::SetConsoleWriter(this);
  }
  ~ConsoleCapture() override { logsink::SetConsoleWriter(nullptr); }

  // Called under the sink's lock.
  void Write(const char* text, size_t length) override { written.append(text, length); }
  // Read once the threads that log are done.
  const std::string& Text() const { return written; }

 private:
  std::string written;
};
