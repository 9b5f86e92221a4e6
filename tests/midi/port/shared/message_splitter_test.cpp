// Cutting byte streams into single MIDI messages: what a long send becomes
// on a JACK port, and how an incoming event is read.
#include "midi/port/shared/message_splitter.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using port::shared::MidiPiece;
using Bytes = std::vector<uint8_t>;

// "S:90 3C 64" short, "X:F0 01 F7" SysEx, "!:01 02" invalid.
std::string Describe(const std::vector<MidiPiece>& pieces) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (const MidiPiece& piece : pieces) {
    if (!text.empty()) text += " | ";
    text += piece.kind == MidiPiece::Kind::Short ? "S:" : piece.kind == MidiPiece::Kind::SysEx ? "X:" : "!:";
    for (size_t at = 0; at < piece.bytes.size(); ++at) {
      if (at > 0) text += ' ';
      text += kDigits[piece.bytes[at] >> 4];
      text += kDigits[piece.bytes[at] & 0xF];
    }
  }
  return text;
}

struct SplitCase {
  const char* what;
  Bytes stream;
  const char* pieces;
};

TEST(MessageSplitter, EachMessageComesOutAloneWithItsStatus) {
  const SplitCase cases[] = {
      {"one note", {0x90, 0x3C, 0x64}, "S:90 3C 64"},
      {"two data bytes for program change and channel pressure", {0xC0, 0x01, 0xD5, 0x40}, "S:C0 01 | S:D5 40"},
      {"running status expanded", {0x90, 0x3C, 0x64, 0x3E, 0x64, 0x40, 0x00}, "S:90 3C 64 | S:90 3E 64 | S:90 40 00"},
      {"running status of a two-byte message", {0xC3, 0x01, 0x02}, "S:C3 01 | S:C3 02"},
      {"SysEx whole between short messages",
       {0xB0, 0x7F, 0x00, 0xF0, 0x00, 0x20, 0x32, 0xF7, 0x80, 0x3C, 0x00},
       "S:B0 7F 00 | X:F0 00 20 32 F7 | S:80 3C 00"},
      {"SysEx ends running status",
       {0x90, 0x3C, 0x64, 0xF0, 0x01, 0xF7, 0x3C, 0x00},
       "S:90 3C 64 | X:F0 01 F7 | !:3C 00"},
      {"real-time byte inside a SysEx comes out before it", {0xF0, 0x01, 0xF8, 0x02, 0xF7}, "S:F8 | X:F0 01 02 F7"},
      {"real-time byte inside a note keeps running status",
       {0x90, 0xFE, 0x3C, 0x64, 0x3D, 0x64},
       "S:FE | S:90 3C 64 | S:90 3D 64"},
      {"system common messages and the end of running status",
       {0x90, 0x3C, 0x64, 0xF2, 0x10, 0x20, 0xF1, 0x05, 0xF6, 0x3C},
       "S:90 3C 64 | S:F2 10 20 | S:F1 05 | S:F6 | !:3C"},
      {"timing clock and active sensing alone", {0xF8, 0xFE, 0xFA}, "S:F8 | S:FE | S:FA"},
      {"data bytes without status", {0x3C, 0x64, 0x90, 0x3C, 0x64}, "!:3C 64 | S:90 3C 64"},
      {"message cut short by the next status", {0x90, 0x3C, 0xB0, 0x07, 0x64}, "!:90 3C | S:B0 07 64"},
      {"message cut short by the end", {0xB0, 0x07}, "!:B0 07"},
      {"SysEx interrupted by a status byte", {0xF0, 0x01, 0x02, 0x90, 0x3C, 0x64}, "!:F0 01 02 | S:90 3C 64"},
      {"SysEx that never ends", {0xF0, 0x7E, 0x7F}, "!:F0 7E 7F"},
      {"lone end byte and undefined status", {0xF7, 0xF4, 0xF5, 0xF9}, "!:F7 | !:F4 | !:F5 | S:F9"},
      {"nothing", {}, ""},
  };
  for (const SplitCase& test : cases) {
    EXPECT_EQ(Describe(port::shared::SplitMidiStream(test.stream.data(), test.stream.size())), test.pieces)
        << test.what;
  }
}

TEST(MessageSplitter, OnlyCompleteMessagesCountAsComplete) {
  const Bytes good = {0x90, 0x3C, 0x64, 0xF0, 0x01, 0xF7};
  const Bytes cut = {0x90, 0x3C, 0x64, 0xF0, 0x01};
  EXPECT_TRUE(port::shared::AllComplete(port::shared::SplitMidiStream(good.data(), good.size())));
  EXPECT_FALSE(port::shared::AllComplete(port::shared::SplitMidiStream(cut.data(), cut.size())));
}

TEST(MessageSplitter, LongSysExStaysOnePiece) {
  Bytes image(16379, 0x11);
  image.front() = 0xF0;
  image.back() = 0xF7;
  const auto pieces = port::shared::SplitMidiStream(image.data(), image.size());
  ASSERT_EQ(pieces.size(), 1u);
  EXPECT_EQ(pieces[0].kind, MidiPiece::Kind::SysEx);
  EXPECT_EQ(pieces[0].bytes, image);
}

} // namespace

namespace {

// The shortcut for one short message must say yes exactly where the splitter
// gives back one Short piece holding all the bytes: every status byte with
// every length up to four, data bytes and statuses in every place.
TEST(MessageSplitter, TheSingleMessageShortcutAgreesWithTheSplitter) {
  const uint8_t fillers[] = {0x00, 0x3C, 0x7F, 0x80, 0xF7, 0xF8};
  int agreedYes = 0;
  for (int status = 0x00; status <= 0xFF; ++status) {
    for (size_t length = 1; length <= 4; ++length) {
      for (uint8_t filler : fillers) {
        Bytes bytes(length, filler);
        bytes[0] = static_cast<uint8_t>(status);
        const std::vector<MidiPiece> pieces = port::shared::SplitMidiStream(bytes.data(), bytes.size());
        const bool splitterSaysOne =
            pieces.size() == 1 && pieces[0].kind == MidiPiece::Kind::Short && pieces[0].bytes == bytes;
        ASSERT_EQ(port::shared::IsSingleShortMessage(bytes.data(), bytes.size()), splitterSaysOne)
            << Describe(pieces) << " from status " << status << ", length " << length;
        if (splitterSaysOne) ++agreedYes;
      }
    }
  }
  EXPECT_GT(agreedYes, 128); // the shortcut is taken, not just refused
  EXPECT_FALSE(port::shared::IsSingleShortMessage(nullptr, 0));
}

} // namespace
