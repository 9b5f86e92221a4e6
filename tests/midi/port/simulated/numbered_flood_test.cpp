// The flood's message numbering, its pacing and the count of a log.
#include "midi/port/simulated/instruments/numbered_flood.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

namespace {

std::string Line(unsigned device, uint32_t sequence, const char* end = "\n") {
  const uint32_t word = flood::MessageWord(device, sequence);
  char line[48];
  std::snprintf(line, sizeof line, "got MIDI: %X %X %X%s", word & 0xFF, (word >> 8) & 0xFF, (word >> 16) & 0xFF, end);
  return line;
}

TEST(NumberedFlood, EveryDeviceAndNumberHasItsOwnMessageAndDecodesBack) {
  std::set<uint32_t> words;
  for (unsigned device = 0; device < flood::kMaxDevices; ++device) {
    for (const uint32_t sequence : {0u, 1u, 127u, 128u, 16383u, 16384u, 72000u, flood::kMaxSequence - 1}) {
      const uint32_t word = flood::MessageWord(device, sequence);
      EXPECT_TRUE(words.insert(word).second) << device << " " << sequence;
      unsigned decodedDevice = 99;
      uint32_t decodedSequence = 0;
      ASSERT_TRUE(
          flood::DecodeMessage(word & 0xFF, (word >> 8) & 0xFF, (word >> 16) & 0xFF, decodedDevice, decodedSequence));
      EXPECT_EQ(decodedDevice, device);
      EXPECT_EQ(decodedSequence, sequence);
      EXPECT_LE((word >> 8) & 0xFF, 0x7Fu) << "data bytes stay below 0x80";
      EXPECT_LE((word >> 16) & 0xFF, 0x7Fu);
      const uint32_t kind = word & 0xF0;
      EXPECT_TRUE(kind != 0xC0 && kind != 0xD0 && kind >= 0x80 && kind < 0xF0) << "three-byte channel messages only";
    }
  }
  unsigned device = 0;
  uint32_t sequence = 0;
  EXPECT_FALSE(flood::DecodeMessage(0xF0, 0, 0, device, sequence)) << "system messages are no flood's";
  EXPECT_FALSE(flood::DecodeMessage(0xC0, 0, 0, device, sequence)) << "nor one-data-byte messages";
  EXPECT_FALSE(flood::DecodeMessage(0x90, 0x80, 0, device, sequence));
}

TEST(NumberedFlood, PacerKeepsTheExactRateInWholeMicroseconds) {
  struct Case {
    double perSecond;
    int64_t shortest;
    int64_t longest;
  };
  for (const Case c : {Case{16000, 62, 63}, Case{1000, 1000, 1000}, Case{3, 333333, 333334}}) {
    flood::Pacer pacer(c.perSecond);
    int64_t total = 0;
    for (int i = 0; i < static_cast<int>(c.perSecond); ++i) {
      const int64_t delay = pacer.Next().count();
      EXPECT_GE(delay, c.shortest);
      EXPECT_LE(delay, c.longest);
      total += delay;
    }
    EXPECT_EQ(total, 1000000) << c.perSecond << " a second take exactly a second";
  }
}

TEST(NumberedFlood, CheckCountsLostRepeatedLateAndForeignMessages) {
  struct Case {
    const char* what;
    std::string log;
    uint64_t logged;
    uint64_t lost;
    uint64_t repeated;
    uint64_t late;
    uint64_t beyond;
  };
  const std::string whole = Line(0, 0) + Line(1, 0) + Line(0, 1) + Line(1, 1) + Line(0, 2) + Line(1, 2);
  const Case cases[] = {
      {"complete, with other lines between", "MIM_OPEN\n" + whole + "Run Time: 0.1  Interval Time: 0.1\r\n", 6, 0, 0, 0,
       0},
      {"report line ends",
       Line(0, 0, "\r\n") + Line(0, 1, "\r\n") + Line(0, 2, "\r\n") + Line(1, 0) + Line(1, 1) + Line(1, 2), 6, 0, 0, 0,
       0},
      {"one missing in the middle", Line(0, 0) + Line(0, 2) + Line(1, 0) + Line(1, 1) + Line(1, 2), 5, 1, 0, 0, 0},
      {"the last ones missing", Line(0, 0) + Line(1, 0), 2, 4, 0, 0, 0},
      {"the last one twice", whole + Line(1, 2), 6, 0, 1, 0, 0},
      {"an early one again after later ones", whole + Line(0, 0), 6, 0, 1, 0, 0},
      {"one late, after the next", Line(0, 0) + Line(0, 2) + Line(0, 1) + Line(1, 0) + Line(1, 1) + Line(1, 2), 6, 0, 0,
       1, 0},
      {"a number the device never sent", whole + Line(0, 3), 6, 0, 0, 0, 1},
      {"a device beyond the flood's", whole + Line(2, 0), 6, 0, 0, 0, 0},
      {"jack_midi_dump's lines",
       "   0: 80 00 00 note off (channel  0): pitch   0, velocity   0\n"
       "   0: 81 00 00 note off (channel  1): pitch   0, velocity   0\n"
       "  17: 80 00 01 note off (channel  0): pitch   0, velocity   1\n"
       "Error: ringbuffer was full, skipping event.\n"
       " 255: 80 00 02 note off (channel  0): pitch   0, velocity   2\n",
       4, 2, 0, 0, 0},
      {"text after the bytes is not a message",
       Line(0, 0) + Line(0, 1, " x\n") + Line(0, 2) + Line(1, 0) + Line(1, 1) + Line(1, 2), 5, 1, 0, 0, 0},
  };
  for (const Case& c : cases) {
    std::istringstream log(c.log);
    const flood::Tally tally = flood::CheckLog(log, 2, 3);
    EXPECT_EQ(tally.expected, 6u) << c.what;
    EXPECT_EQ(tally.logged, c.logged) << c.what;
    EXPECT_EQ(tally.lost, c.lost) << c.what;
    EXPECT_EQ(tally.repeated, c.repeated) << c.what;
    EXPECT_EQ(tally.late, c.late) << c.what;
    EXPECT_EQ(tally.beyond, c.beyond) << c.what;
    EXPECT_EQ(tally.Exact(), c.lost == 0 && c.repeated == 0 && c.late == 0 && c.beyond == 0) << c.what;
  }
}

// Messages missing from a device count as accounted for only when the
// report says that device lost exactly that many.
TEST(NumberedFlood, MissingMessagesAreAccountedForOnlyByTheReportsOwnCount) {
  struct Case {
    const char* what;
    std::string log;
    bool accounted;
  };
  const std::string someMissing = Line(0, 0) + Line(0, 2) + Line(1, 0) + Line(1, 1) + Line(1, 2);
  const Case cases[] = {
      {"one missing, one said lost", someMissing + "1 MIDI events lost on \"Flood 01\".\n", true},
      {"one missing, nothing said", someMissing, false},
      {"said of the wrong device", someMissing + "1 MIDI events lost on \"Flood 02\".\n", false},
      {"said lost more than are missing", someMissing + "2 MIDI events lost on \"Flood 01\".\n", false},
      {"one missing and one twice, one said lost", someMissing + Line(1, 2) + "1 MIDI events lost on \"Flood 01\".\n",
       false},
  };
  for (const Case& c : cases) {
    std::istringstream log(c.log);
    const flood::Tally tally = flood::CheckLog(log, 2, 3);
    EXPECT_FALSE(tally.Exact()) << c.what;
    EXPECT_EQ(tally.Accounted(), c.accounted) << c.what;
  }
}

} // namespace
