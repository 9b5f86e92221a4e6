// The console window for the length of the run, and what the user sees at
// its end.
//
// On Windows the run switches console output to UTF-8, so that port names
// print as they are, and switches QuickEdit off: with QuickEdit on, a click
// into the window selects text and holds all output until a key is pressed.
// Both are put back when the run ends, so the user's window is left as it
// was. Elsewhere the terminal already speaks UTF-8 and nothing changes.
//
// Threads: the main thread (or the watchdog that ends a stuck run).
#pragma once

#include <cstdint>

#include "app/report_export.h"

namespace app {

// The few console calls the session makes, so that its order can be
// checked without a Windows console.
class ConsoleCalls {
 public:
  virtual ~ConsoleCalls() = default;
  virtual bool InputMode(uint32_t& mode) = 0;        // GetConsoleMode on standard input
  virtual void SetInputMode(uint32_t mode) = 0;      // SetConsoleMode on standard input
  virtual unsigned OutputCodePage() = 0;             // GetConsoleOutputCP
  virtual void SetOutputCodePage(unsigned page) = 0; // SetConsoleOutputCP
};

constexpr uint32_t kQuickEditMode = 0x0040; // ENABLE_QUICK_EDIT_MODE
constexpr uint32_t kExtendedFlags = 0x0080; // ENABLE_EXTENDED_FLAGS: QuickEdit may be changed
constexpr unsigned kUtf8CodePage = 65001;   // CP_UTF8

class ConsoleSession {
 public:
  explicit ConsoleSession(ConsoleCalls& calls) : calls(calls) {}
  // Remembers the code page and the input mode, then sets UTF-8 output and
  // QuickEdit off. A console whose input mode cannot be read (input
  // redirected) keeps its input mode.
  void Prepare();
  // Puts back what Prepare changed; once, whoever ends the run.
  void Restore();

 private:
  ConsoleCalls& calls;
  bool prepared = false;
  bool haveInputMode = false;
  uint32_t inputMode = 0;
  unsigned codePage = 0;
};

// Whether the window should stay open until a key is pressed: only when the
// report went to a file instead of the clipboard (the user must read where
// it is) and the console is this run's alone, which is the case when the
// program was double-clicked and Windows closes the window the moment it
// ends. Never from a command prompt, a script or with output redirected.
bool ShouldWaitForKey(ReportPlace place, bool consoleOfItsOwn);

// The platform's console, for the programs.
void PrepareConsole();
void RestoreConsole();
// A console window of this process alone, with neither input nor output
// redirected; never true outside Windows.
bool ConsoleOfItsOwn();
// Says "Press a key to close this window." and waits for the key.
void WaitForKey();

} // namespace app
