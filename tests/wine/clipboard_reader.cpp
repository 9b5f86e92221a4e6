// clipboard_reader.exe: a Wine program of the tests that waits for another
// program to put text on the clipboard and prints what is there.
//
// Wine keeps clipboard data only while a Wine process runs, so the tests start
// this before portprobe.exe and read the report from it afterwards. It prints
// "ready" once it watches, then one line per format:
//   CF_TEXT <size of the memory block> <hex bytes up to the first zero>
//   CF_UNICODETEXT <hex UTF-16 units up to the first zero, four digits each>
// or "timeout" when nothing came within the seconds given (default 60).
//
// "clipboard_reader hold SECONDS" instead holds the clipboard open for that
// long, as a clipboard manager or a remote desktop's clipboard sync does,
// printing "ready" once it holds it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void PrintText() {
  HANDLE data = GetClipboardData(CF_TEXT);
  const unsigned char* bytes = data ? static_cast<const unsigned char*>(GlobalLock(data)) : nullptr;
  std::printf("CF_TEXT %lu ", data ? static_cast<unsigned long>(GlobalSize(data)) : 0ul);
  for (size_t i = 0; bytes != nullptr && bytes[i] != 0; ++i) std::printf("%02x", bytes[i]);
  std::printf("\n");
  if (bytes != nullptr) GlobalUnlock(data);
}

void PrintUnicodeText() {
  HANDLE data = GetClipboardData(CF_UNICODETEXT);
  const WCHAR* units = data ? static_cast<const WCHAR*>(GlobalLock(data)) : nullptr;
  std::printf("CF_UNICODETEXT ");
  for (size_t i = 0; units != nullptr && units[i] != 0; ++i) std::printf("%04x", static_cast<unsigned>(units[i]));
  std::printf("\n");
  if (units != nullptr) GlobalUnlock(data);
}

} // namespace

int Hold(DWORD seconds) {
  // Held by a window of its own, as a clipboard manager holds it: Wine lets
  // another program open a clipboard that was opened without a window.
  const HWND window = CreateWindowExW(0, L"STATIC", L"holder", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  if (window == nullptr || !OpenClipboard(window)) {
    std::printf("could not hold the clipboard\n");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  Sleep(seconds * 1000);
  CloseClipboard();
  return 0;
}

int main(int argc, char** argv) {
  if (argc > 2 && std::string(argv[1]) == "hold") return Hold(static_cast<DWORD>(std::atoi(argv[2])));
  const DWORD seconds = argc > 1 ? static_cast<DWORD>(std::atoi(argv[1])) : 60;
  const DWORD start = GetClipboardSequenceNumber();
  const DWORD deadline = GetTickCount() + seconds * 1000;
  std::printf("ready\n");
  std::fflush(stdout);
  while (static_cast<LONG>(deadline - GetTickCount()) > 0) {
    // The writer holds the clipboard open from emptying it to closing it, so
    // an open that succeeds after the change sees the finished content.
    if (GetClipboardSequenceNumber() != start && OpenClipboard(nullptr)) {
      const bool hasText = IsClipboardFormatAvailable(CF_TEXT) != FALSE;
      if (hasText) {
        PrintText();
        PrintUnicodeText();
      }
      CloseClipboard();
      if (hasText) return 0;
    }
    Sleep(20);
  }
  std::printf("timeout\n");
  return 1;
}
