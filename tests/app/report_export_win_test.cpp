// The report on the real Windows clipboard, read back as a mail program would.
#include "app/report_export.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/console_capture.h"

namespace {

// The clipboard's data in a format, up to its terminating zero.
template <typename Char>
std::basic_string<Char> ClipboardData(UINT format) {
  std::basic_string<Char> text;
  if (!OpenClipboard(nullptr)) return text;
  HANDLE data = GetClipboardData(format);
  if (data != nullptr) {
    const Char* locked = static_cast<const Char*>(GlobalLock(data));
    if (locked != nullptr) {
      text = locked;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

TEST(ReportExportWin, ReportIsOnTheClipboardAsTextAndAsUtf16) {
  ConsoleCapture console;
  const std::string report =
      "MIM_OPEN\nMIDI device found: \xC3\x9C"
      "ber\n\r\n\r\n\"\xC3\x9C"
      "ber\"\r\n\r\n";
  app::ExportReport(app::ReportText(report));
  EXPECT_EQ(console.Text(), "Portprobe finished, paste clipboard into an email.");
  EXPECT_EQ(ClipboardData<char>(CF_TEXT), report);
  EXPECT_EQ(ClipboardData<wchar_t>(CF_UNICODETEXT),
            std::wstring(L"MIM_OPEN\nMIDI device found: \u00DCber\n\r\n\r\n\"\u00DCber\"\r\n\r\n"));
}

} // namespace
