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

} // namespace port::winmm
