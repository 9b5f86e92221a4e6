#include "midi/port/winmm/port_names.h"

namespace port::winmm {

std::string PortNameToUtf8(const WCHAR (&name)[MAXPNAMELEN]) {
  // A driver is trusted to terminate the name, but the conversion below
  // reads up to the first zero, so give it one in any case.
  WCHAR terminated[MAXPNAMELEN + 1];
  for (int i = 0; i < MAXPNAMELEN; ++i) terminated[i] = name[i];
  terminated[MAXPNAMELEN] = L'\0';

  char buffer[1024];
  const int converted = WideCharToMultiByte(CP_UTF8, 0, terminated, -1, buffer, sizeof buffer, nullptr, nullptr);
  if (converted == 0) return std::string();
  return std::string(buffer);
}

std::string Utf16ToUtf8(const WCHAR* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return std::string();
  std::string converted(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &converted[0], size, nullptr, nullptr);
  converted.resize(static_cast<size_t>(size - 1)); // without the terminating zero
  return converted;
}

} // namespace port::winmm
