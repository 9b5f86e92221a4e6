// On Windows the report goes to the system clipboard.
#include <windows.h>

#include "app/clipboard_report.h"
#include "app/report_export.h"

namespace app {

namespace {

class WindowsClipboard final : public ClipboardCalls {
 public:
  bool Open() override { return OpenClipboard(nullptr) != FALSE; }
  void Empty() override { EmptyClipboard(); }
  Memory Allocate(size_t bytes) override { return GlobalAlloc(GMEM_MOVEABLE, bytes); }
  void* Lock(Memory memory) override { return GlobalLock(static_cast<HGLOBAL>(memory)); }
  void Unlock(Memory memory) override { GlobalUnlock(static_cast<HGLOBAL>(memory)); }
  void Free(Memory memory) override { GlobalFree(static_cast<HGLOBAL>(memory)); }
  bool SetData(unsigned format, Memory memory) override {
    return SetClipboardData(format, static_cast<HANDLE>(memory)) != nullptr;
  }
  void Close() override { CloseClipboard(); }
  void Pause(unsigned milliseconds) override { Sleep(milliseconds); }
};

static_assert(kClipboardText == CF_TEXT && kClipboardUnicodeText == CF_UNICODETEXT, "winuser.h's values");

} // namespace

ReportPlace ExportReport(const ReportText& report) {
  WindowsClipboard clipboard;
  // The clipboard takes one block of memory (and a UTF-16 copy besides).
  if (CopyReportToClipboard(report.Joined(), clipboard)) return ReportPlace::Clipboard;
  // A user who double-clicked the program does not know its folder.
  return SaveReportInstead(report, true);
}

} // namespace app
