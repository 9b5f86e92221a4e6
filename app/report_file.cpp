#include "app/report_file.h"

#include <cstdio>

#include <cstdlib>
#include "app/log_sink.h"
#include "app/report_export.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#include <climits>
#endif

namespace app {

namespace {

#if defined(_WIN32)
std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], length);
  return wide;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0], length, nullptr, nullptr);
  return utf8;
}

constexpr char kSeparator = '\\';

std::FILE* OpenForWriting(const std::string& path) {
  return _wfopen(Wide(path).c_str(), L"wb");
}

void Remove(const std::string& path) {
  _wremove(Wide(path).c_str());
}

std::string Absolute(const std::string& path) {
  wchar_t full[MAX_PATH * 4];
  const DWORD length = GetFullPathNameW(Wide(path).c_str(), sizeof full / sizeof full[0], full, nullptr);
  if (length == 0 || length >= sizeof full / sizeof full[0]) return path;
  return Narrow(std::wstring(full, length));
}
#else
constexpr char kSeparator = '/';

std::FILE* OpenForWriting(const std::string& path) {
  return std::fopen(path.c_str(), "wb");
}

void Remove(const std::string& path) {
  std::remove(path.c_str());
}

std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char folder[PATH_MAX];
  if (getcwd(folder, sizeof folder) == nullptr) return path;
  return std::string(folder) + "/" + path;
}
#endif

bool WriteWhole(const std::string& path, const ReportText& report) {
  std::FILE* file = OpenForWriting(path);
  if (file == nullptr) return false;
  const bool written = report.WriteTo(
      [file](const char* bytes, size_t length) { return std::fwrite(bytes, 1, length, file) == length; });
  const bool closed = std::fclose(file) == 0;
  if (written && closed) return true;
  Remove(path); // half a report would be taken for the whole one
  return false;
}

} // namespace

SavedReport SaveReportFile(const ReportText& report, const std::string& firstFolder, const std::string& secondFolder) {
  SavedReport result;
  for (const std::string* folder : {&firstFolder, &secondFolder}) {
    if (folder != &firstFolder && folder->empty()) continue; // no second place
    const std::string path = folder->empty() ? std::string(kReportFileName) : *folder + kSeparator + kReportFileName;
    if (!WriteWhole(path, report)) continue;
    result.saved = true;
    result.path = path;
    result.fullPath = Absolute(path);
    return result;
  }
  return result;
}

std::string TemporaryFolder() {
#if defined(_WIN32)
  wchar_t folder[MAX_PATH + 1];
  const DWORD length = GetTempPathW(sizeof folder / sizeof folder[0], folder);
  if (length == 0 || length > MAX_PATH) return std::string();
  std::wstring wide(folder, length);
  while (!wide.empty() && (wide.back() == L'\\' || wide.back() == L'/')) wide.pop_back();
  return Narrow(wide);
#else
  const char* folder = std::getenv("TMPDIR");
  std::string path = folder != nullptr && folder[0] != '\0' ? folder : "/tmp";
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
#endif
}

ReportPlace SaveReportInstead(const ReportText& report, bool fullPathShown) {
  const SavedReport saved = SaveReportFile(report, "", TemporaryFolder());
  if (!saved.saved) {
    ConsolePrintf("Portprobe finished, but the report could not be copied to the clipboard or saved to a file.");
    return ReportPlace::Nowhere;
  }
  ConsolePrintf("Portprobe finished, report saved to %s; attach it to an email.",
                (fullPathShown ? saved.fullPath : saved.path).c_str());
  return ReportPlace::File;
}

} // namespace app
