// Port names as winmm gives them (UTF-16, in a capabilities structure) to
// the UTF-8 the device layer works with.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <string>

namespace port::winmm {

// The name up to its terminating zero, converted with WideCharToMultiByte
// (CP_UTF8) into a 1024-byte buffer. A name that fills all 32 units without
// a terminating zero is cut there rather than read past.
std::string PortNameToUtf8(const WCHAR (&name)[MAXPNAMELEN]);

// Any zero-terminated UTF-16 text as UTF-8.
std::string Utf16ToUtf8(const WCHAR* text);

} // namespace port::winmm
