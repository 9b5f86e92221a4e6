// Console text that a device cannot use to drive the user's terminal.
//
// Port names and identity texts come from devices and drivers. Written raw,
// an escape sequence in them could move the cursor, rewrite what the user
// sees, retitle the window or worse. The console therefore shows every
// control character except line feed and tab, every C1 control, and every
// byte that is not part of valid UTF-8 as a visible \xNN escape. The report
// keeps the original bytes.
#pragma once

#include <cstddef>
#include <string>

namespace app {

// True when the text can be written as it is (the common case).
bool IsConsoleSafe(const char* text, size_t length);
// The text with every unsafe byte written as \xNN.
std::string MakeConsoleSafe(const char* text, size_t length);

} // namespace app
