#include "app/console_setup.h"

#if defined(_WIN32)
#include <windows.h>
#endif

#include "app/log_sink.h"

namespace app {

void ConsoleSession::Prepare() {
  if (prepared) return;
  prepared = true;
  codePage = calls.OutputCodePage();
  calls.SetOutputCodePage(kUtf8CodePage);
  haveInputMode = calls.InputMode(inputMode);
  if (haveInputMode) calls.SetInputMode((inputMode | kExtendedFlags) & ~kQuickEditMode);
}

void ConsoleSession::Restore() {
  if (!prepared) return;
  prepared = false;
  if (haveInputMode) calls.SetInputMode(inputMode);
  calls.SetOutputCodePage(codePage);
}

bool ShouldWaitForKey(ReportPlace place, bool consoleOfItsOwn) {
  return place != ReportPlace::Clipboard && consoleOfItsOwn;
}

#if defined(_WIN32)

namespace {

class WindowsConsole final : public ConsoleCalls {
 public:
  bool InputMode(uint32_t& mode) override {
    DWORD value = 0;
    if (!GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &value)) return false;
    mode = value;
    return true;
  }
  void SetInputMode(uint32_t mode) override { SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), mode); }
  unsigned OutputCodePage() override { return GetConsoleOutputCP(); }
  void SetOutputCodePage(unsigned page) override { SetConsoleOutputCP(page); }
};

ConsoleSession& TheSession() {
  static WindowsConsole* calls = new WindowsConsole;
  static ConsoleSession* session = new ConsoleSession(*calls);
  return *session;
}

} // namespace

void PrepareConsole() {
  TheSession().Prepare();
}

void RestoreConsole() {
  TheSession().Restore();
}

bool ConsoleOfItsOwn() {
  DWORD processes[2];
  if (GetConsoleProcessList(processes, 2) != 1) return false;
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) &&
         GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode);
}

void WaitForKey() {
  ConsolePrintf("\nPress a key to close this window.");
  logsink::DrainConsole(std::chrono::seconds(1));
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  FlushConsoleInputBuffer(input); // keys pressed during the run do not count
  for (;;) {
    INPUT_RECORD record;
    DWORD read = 0;
    if (!ReadConsoleInputW(input, &record, 1, &read) || read == 0) return;
    if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) return;
  }
}

#else

void PrepareConsole() {}
void RestoreConsole() {}
bool ConsoleOfItsOwn() {
  return false;
}
void WaitForKey() {}

#endif

} // namespace app
