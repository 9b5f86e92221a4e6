// Test support: collects what the log sink writes to the console, and
// starts each test with an empty capture buffer and a re-armed stopwatch.
#pragma once

#include <string>

#include "app/log_sink.h"

class ConsoleCapture final : public app::logsink::ConsoleWriter {
 public:
  ConsoleCapture() {
    app::logsink::BeginCapture();
    app::logsink::SetConsoleWriter(this);
  }
  ~ConsoleCapture() override { app::logsink::SetConsoleWriter(nullptr); }

  // Called on the console's own thread.
  void Write(const char* text, size_t length) override { written.append(text, length); }
  // Everything logged so far, once the console's thread has written it; read
  // once the threads that log are done.
  const std::string& Text() {
    app::logsink::DrainConsole(std::chrono::seconds(60));
    return written;
  }

 private:
  std::string written;
};
