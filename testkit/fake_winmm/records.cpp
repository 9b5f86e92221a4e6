#include "testkit/fake_winmm/records.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace fake_winmm {

namespace {

// Plain Win32 here: violations are also recorded from DllMain at process
// exit, where the C runtime's locks may be held by threads already gone.
struct Files {
  CRITICAL_SECTION lock;
  std::string directory; // read once, not from DllMain
  bool exiting = false;
  Files() {
    InitializeCriticalSection(&lock);
    const char* out = std::getenv("FAKE_WINMM_OUT");
    if (out != nullptr) directory = out;
  }
};

Files& TheFiles() {
  static Files* files = new Files;
  return *files;
}

void AppendLine(const std::string& directory, const char* file, const std::string& line) {
  if (directory.empty()) return;
  const std::string path = directory + "\\" + file;
  HANDLE handle = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return;
  const std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(handle);
}

void Append(const char* file, const std::string& line) {
  Files& files = TheFiles();
  EnterCriticalSection(&files.lock);
  AppendLine(files.directory, file, line);
  LeaveCriticalSection(&files.lock);
}

} // namespace

void RecordWire(const std::string& port, const uint8_t* bytes, size_t length) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string line = port + ":";
  for (size_t i = 0; i < length; ++i) {
    line += ' ';
    line += kHex[bytes[i] >> 4];
    line += kHex[bytes[i] & 0x0F];
  }
  Append("wire.txt", line);
}

void RecordCall(const char* function, const std::string& port, unsigned result) {
  Append("calls.txt", std::string(function) + " " + port + " " + std::to_string(result));
}

void RecordStop(const std::string& port, int delivered, unsigned long long milliseconds) {
  Append("stops.txt", port + " " + std::to_string(delivered) + " " + std::to_string(milliseconds));
}

void RecordViolation(const std::string& text) {
  Files& files = TheFiles();
  // At process exit another thread may have died holding the lock; the
  // violation still goes to standard error and into the file.
  bool locked = true;
  if (files.exiting) {
    locked = TryEnterCriticalSection(&files.lock) != FALSE;
  } else {
    EnterCriticalSection(&files.lock);
  }
  const std::string line = "fake winmm: " + text + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  AppendLine(files.directory, "violations.txt", text);
  if (locked) LeaveCriticalSection(&files.lock);
}

void PrepareRecords() {
  TheFiles();
}

void RecordsExiting() {
  TheFiles().exiting = true;
}

} // namespace fake_winmm
