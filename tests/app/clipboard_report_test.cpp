// The clipboard step: its calls in order, the bytes it hands over, what it
// says, and that memory is freed exactly when the clipboard did not take it.
#include "app/clipboard_report.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/console_capture.h"

namespace {

class FakeClipboard final : public app::ClipboardCalls {
 public:
  struct Block {
    std::vector<char> bytes;
    bool freed = false;
    unsigned takenAs = 0; // the clipboard format it was set as, 0 for none
  };

  // Which calls fail; allocations and locks are counted from 1. The first
  // heldFor opens fail, as while another program holds the clipboard.
  int heldFor = 0;
  int failAllocation = 0;
  int failLock = 0;
  unsigned failSetFormat = 0;

  bool Open() override {
    calls.push_back("Open");
    return ++opens > heldFor;
  }
  void Pause(unsigned milliseconds) override { pauses.push_back(milliseconds); }
  void Empty() override { calls.push_back("Empty"); }
  Memory Allocate(size_t bytes) override {
    calls.push_back("Allocate " + std::to_string(bytes));
    if (++allocations == failAllocation) return nullptr;
    blocks.push_back(std::make_unique<Block>());
    blocks.back()->bytes.assign(bytes, '\x55'); // not zero: the step must write its own terminator
    return blocks.back().get();
  }
  void* Lock(Memory memory) override {
    calls.push_back("Lock");
    if (++locks == failLock) return nullptr;
    return static_cast<Block*>(memory)->bytes.data();
  }
  void Unlock(Memory) override { calls.push_back("Unlock"); }
  void Free(Memory memory) override {
    calls.push_back("Free");
    Block* block = static_cast<Block*>(memory);
    EXPECT_EQ(block->takenAs, 0u) << "freed memory the clipboard owns";
    EXPECT_FALSE(block->freed) << "freed twice";
    block->freed = true;
  }
  bool SetData(unsigned format, Memory memory) override {
    calls.push_back("SetData " + std::to_string(format));
    if (format == failSetFormat) return false;
    static_cast<Block*>(memory)->takenAs = format;
    return true;
  }
  void Close() override { calls.push_back("Close"); }

  // Every block ends either on the clipboard or freed.
  bool NothingLeaked() const {
    for (const auto& block : blocks) {
      if (block->takenAs == 0 && !block->freed) return false;
    }
    return true;
  }
  const Block* Taken(unsigned format) const {
    for (const auto& block : blocks) {
      if (block->takenAs == format) return block.get();
    }
    return nullptr;
  }

  std::vector<std::string> calls;
  std::vector<unsigned> pauses;
  std::vector<std::unique_ptr<Block>> blocks;

 private:
  int opens = 0;
  int allocations = 0;
  int locks = 0;
};

const char kDone[] = "Portprobe finished, paste clipboard into an email.";

TEST(ClipboardReport, ReportGoesOnAsItsOwnBytesAndAsUtf16) {
  ConsoleCapture console;
  FakeClipboard clipboard;
  // "Über" as UTF-8 in a port name, and the report's mixed line ends.
  const std::string report =
      "MIM_OPEN\nMIDI device found: \xC3\x9C"
      "ber\n\r\n\r\n\"\xC3\x9C"
      "ber\"\r\n\r\n";
  EXPECT_TRUE(app::CopyReportToClipboard(report, clipboard));

  const size_t length = report.size();
  const std::u16string wide = u"MIM_OPEN\nMIDI device found: \u00DCber\n\r\n\r\n\"\u00DCber\"\r\n\r\n";
  const std::vector<std::string> expected = {"Open",
                                             "Empty",
                                             "Allocate " + std::to_string(2 * length + 2),
                                             "Lock",
                                             "Unlock",
                                             "SetData 1",
                                             "Allocate " + std::to_string(2 * (wide.size() + 1)),
                                             "Lock",
                                             "Unlock",
                                             "SetData 13",
                                             "Close"};
  EXPECT_EQ(clipboard.calls, expected);

  const FakeClipboard::Block* text = clipboard.Taken(app::kClipboardText);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text->bytes.data(), length + 1), report + '\0');
  // Only length + 1 of the 2 * length + 2 bytes are written.
  EXPECT_EQ(text->bytes[length + 1], '\x55');

  const FakeClipboard::Block* unicode = clipboard.Taken(app::kClipboardUnicodeText);
  ASSERT_NE(unicode, nullptr);
  std::u16string copied(wide.size() + 1, u'\0');
  std::memcpy(&copied[0], unicode->bytes.data(), copied.size() * sizeof(char16_t));
  EXPECT_EQ(copied, wide + u'\0');

  EXPECT_TRUE(clipboard.NothingLeaked());
  EXPECT_EQ(console.Text(), kDone);
}

TEST(ClipboardReport, EmptyReportStillGetsItsTerminator) {
  ConsoleCapture console;
  FakeClipboard clipboard;
  app::CopyReportToClipboard("", clipboard);
  EXPECT_EQ(clipboard.calls.at(2), "Allocate 2");
  const FakeClipboard::Block* text = clipboard.Taken(app::kClipboardText);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->bytes[0], '\0');
  EXPECT_EQ(console.Text(), kDone);
}

TEST(ClipboardReport, FailuresAreToldTruthfullyAndLeakNothing) {
  struct Case {
    const char* name;
    void (*arrange)(FakeClipboard&);
    std::vector<std::string> calls;
    std::string console;
    bool textOnClipboard;
  };
  const std::string report = "abc"; // 8 bytes of 8-bit text, 8 of UTF-16
  // Whenever the text is not on the clipboard, the caller is told so and
  // saves the report elsewhere; no success is claimed here.
  const Case cases[] = {
      {"no memory for the text",
       [](FakeClipboard& c) { c.failAllocation = 1; },
       {"Open", "Empty", "Allocate 8", "Close"},
       "",
       false},
      {"memory cannot be locked",
       [](FakeClipboard& c) { c.failLock = 1; },
       {"Open", "Empty", "Allocate 8", "Lock", "Free", "Close"},
       "",
       false},
      {"clipboard refuses the text: memory freed",
       [](FakeClipboard& c) { c.failSetFormat = app::kClipboardText; },
       {"Open", "Empty", "Allocate 8", "Lock", "Unlock", "SetData 1", "Free", "Close"},
       "",
       false},
      {"no memory for the UTF-16 copy: the text is still there",
       [](FakeClipboard& c) { c.failAllocation = 2; },
       {"Open", "Empty", "Allocate 8", "Lock", "Unlock", "SetData 1", "Allocate 8", "Close"},
       kDone,
       true},
      {"clipboard refuses the UTF-16 copy: that memory freed",
       [](FakeClipboard& c) { c.failSetFormat = app::kClipboardUnicodeText; },
       {"Open", "Empty", "Allocate 8", "Lock", "Unlock", "SetData 1", "Allocate 8", "Lock", "Unlock", "SetData 13",
        "Free", "Close"},
       kDone,
       true},
  };
  for (const Case& c : cases) {
    ConsoleCapture console;
    FakeClipboard clipboard;
    c.arrange(clipboard);
    EXPECT_EQ(app::CopyReportToClipboard(report, clipboard), c.textOnClipboard) << c.name;
    EXPECT_EQ(clipboard.calls, c.calls) << c.name;
    EXPECT_EQ(console.Text(), c.console) << c.name;
    EXPECT_EQ(clipboard.Taken(app::kClipboardText) != nullptr, c.textOnClipboard) << c.name;
    EXPECT_TRUE(clipboard.NothingLeaked()) << c.name;
    EXPECT_EQ(app::logsink::CaptureContents(), "") << c.name << ": closing messages stay out of the report";
  }
}

// Another program holds the clipboard for moments at a time: opening it is
// tried again, 50 ms apart, about a second in all.
TEST(ClipboardReport, AHeldClipboardIsTriedAgainForAboutASecond) {
  {
    ConsoleCapture console;
    FakeClipboard clipboard;
    clipboard.heldFor = 5;
    EXPECT_TRUE(app::CopyReportToClipboard("abc", clipboard));
    EXPECT_EQ(clipboard.pauses, std::vector<unsigned>(5, app::kClipboardOpenPauseMs));
    EXPECT_NE(clipboard.Taken(app::kClipboardText), nullptr);
    EXPECT_EQ(console.Text(), kDone);
  }
  ConsoleCapture console;
  FakeClipboard clipboard;
  clipboard.heldFor = app::kClipboardOpenAttempts;
  EXPECT_FALSE(app::CopyReportToClipboard("abc", clipboard));
  EXPECT_EQ(clipboard.calls, std::vector<std::string>(app::kClipboardOpenAttempts, "Open"));
  EXPECT_EQ(clipboard.pauses, std::vector<unsigned>(app::kClipboardOpenAttempts - 1, app::kClipboardOpenPauseMs));
  EXPECT_EQ(console.Text(), "Could not open clipboard.");
}

TEST(ClipboardReport, Utf8ToUtf16ReplacesEachBrokenByte) {
  struct Case {
    std::string utf8;
    std::u16string utf16;
  };
  const Case cases[] = {
      {"Port A", u"Port A"},
      {"\xC3\x9C", u"\u00DC"},             // two bytes
      {"\xE2\x82\xAC", u"\u20AC"},         // three bytes
      {"\xF0\x9F\x8E\xB9", u"\U0001F3B9"}, // four bytes: a surrogate pair
      {"a\xFF"
       "b",
       u"a\uFFFDb"},                                     // never a lead byte
      {"\xC0\x80", u"\uFFFD\uFFFD"},                     // overlong zero
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},           // an encoded surrogate
      {"x\xE2\x82", u"x\uFFFD\uFFFD"},                   // cut short at the end
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"}, // beyond U+10FFFF
      {"", u""},
  };
  for (const Case& c : cases) EXPECT_EQ(app::Utf8ToUtf16(c.utf8), c.utf16) << c.utf8;
}

} // namespace
