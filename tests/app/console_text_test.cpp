#include "app/console_text.h"

#include <gtest/gtest.h>

#include "app/log_sink.h"
#include "tests/support/console_capture.h"

namespace {

TEST(ConsoleText, UnsafeBytesAreShownAsEscapes) {
  struct Case {
    std::string in;
    std::string shown;
  };
  const Case cases[] = {
      {"Plain name 123", "Plain name 123"},
      {"line\n\ttab", "line\n\ttab"},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB9", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB9"},
      {"\x1B[2J\x1B]0;pwned\x07", "\\x1B[2J\\x1B]0;pwned\\x07"},
      {"carriage\rreturn", "carriage\\x0Dreturn"},
      {"back\bspace\x7F", "back\\x08space\\x7F"},
      {std::string("zero\0byte", 9), "zero\\x00byte"},
      {"\xC2\x9B"
       "6n",
       "\\xC2\\x9B6n"}, // C1 CSI in UTF-8
      {"\x9B"
       "6n",
       "\\x9B6n"},                                  // raw 8-bit CSI
      {"\xC0\xAF", "\\xC0\\xAF"},                   // overlong
      {"\xED\xA0\x80", "\\xED\\xA0\\x80"},          // surrogate
      {"cut \xE2\x82", "cut \\xE2\\x82"},           // incomplete at the end
      {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"}, // beyond U+10FFFF
  };
  for (const Case& c : cases) {
    EXPECT_EQ(app::MakeConsoleSafe(c.in.data(), c.in.size()), c.shown);
    EXPECT_EQ(app::IsConsoleSafe(c.in.data(), c.in.size()), c.in == c.shown);
  }
}

TEST(ConsoleText, ReportKeepsTheDevicesBytesWhileConsoleShowsEscapes) {
  ConsoleCapture console;
  app::LogPrintf("Updated device name: %s", "Evil\x1B[31mRed");
  EXPECT_EQ(console.Text(), "Updated device name: Evil\\x1B[31mRed");
  EXPECT_EQ(app::logsink::CaptureContents(), "Updated device name: Evil\x1B[31mRed");
}

} // namespace
