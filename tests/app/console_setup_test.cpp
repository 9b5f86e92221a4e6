// The console for the length of the run: UTF-8 output and QuickEdit off,
// then both put back; and when the window waits for a key at the end.
#include "app/console_setup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class FakeConsole final : public app::ConsoleCalls {
 public:
  bool InputMode(uint32_t& mode) override {
    calls.push_back("InputMode");
    mode = inputMode;
    return inputIsConsole;
  }
  void SetInputMode(uint32_t mode) override {
    calls.push_back("SetInputMode " + std::to_string(mode));
    inputMode = mode;
  }
  unsigned OutputCodePage() override {
    calls.push_back("OutputCodePage");
    return codePage;
  }
  void SetOutputCodePage(unsigned page) override {
    calls.push_back("SetOutputCodePage " + std::to_string(page));
    codePage = page;
  }

  bool inputIsConsole = true;
  uint32_t inputMode = 0x01F7; // Windows' default: QuickEdit and insert mode on among others
  unsigned codePage = 850;
  std::vector<std::string> calls;
};

TEST(ConsoleSession, QuickEditIsOffAndUtf8OnForTheRunThenBothArePutBack) {
  FakeConsole console;
  app::ConsoleSession session(console);
  session.Prepare();
  EXPECT_EQ(console.codePage, app::kUtf8CodePage);
  EXPECT_EQ(console.inputMode & app::kQuickEditMode, 0u);
  EXPECT_NE(console.inputMode & app::kExtendedFlags, 0u) << "QuickEdit changes only with the extended flags";
  EXPECT_EQ(console.inputMode & ~(app::kQuickEditMode | app::kExtendedFlags),
            0x01F7u & ~(app::kQuickEditMode | app::kExtendedFlags));
  session.Restore();
  session.Restore(); // once only
  EXPECT_EQ(console.codePage, 850u);
  EXPECT_EQ(console.inputMode, 0x01F7u);
  EXPECT_EQ(console.calls, (std::vector<std::string>{"OutputCodePage", "SetOutputCodePage 65001", "InputMode",
                                                     "SetInputMode 439", "SetInputMode 503", "SetOutputCodePage 850"}));
}

TEST(ConsoleSession, RedirectedInputKeepsItsModeAndTheCodePageIsStillPutBack) {
  FakeConsole console;
  console.inputIsConsole = false;
  app::ConsoleSession session(console);
  session.Prepare();
  session.Restore();
  EXPECT_EQ(console.calls, (std::vector<std::string>{"OutputCodePage", "SetOutputCodePage 65001", "InputMode",
                                                     "SetOutputCodePage 850"}));
}

TEST(ConsoleSession, TheWindowWaitsForAKeyOnlyWhenTheUserMustReadWhereTheReportWent) {
  EXPECT_TRUE(app::ShouldWaitForKey(app::ReportPlace::File, true));
  EXPECT_TRUE(app::ShouldWaitForKey(app::ReportPlace::Nowhere, true)); // the message says it could not be saved
  EXPECT_FALSE(app::ShouldWaitForKey(app::ReportPlace::Clipboard, true));
  EXPECT_FALSE(app::ShouldWaitForKey(app::ReportPlace::File, false)); // a prompt, a script, or redirected
}

} // namespace
