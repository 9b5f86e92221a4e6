// The flood's message numbering, its pacing and the count of a log.
#include "testkit/flood_check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

namespace flood = testkit::flood;

std::string Line(unsigned device, uint32_t sequence, const char* end = "\n") {
  const uint32_t word = flood::MessageWord(device, sequence);
  char line[48];
  std::snprintf(line, sizeof line, "got MIDI: %X %X %X%s", word & 0xFF, (word >> 8) & 0xFF, (word >> 16) & 0xFF, end);
  return line;
}

TEST(NumberedFlood, EveryDeviceAndNumberHasItsOwnMessageAndDecodesBack) {
  std::set<uint32_t> words;
  for (unsigned device = 0; device < flood::kMaxDevices; ++device) {
    for (const uint32_t sequence : {0u, 1u, 127u, 128u, 16383u, 16384u, 72000u, flood::kShortMessageNumbers - 1}) {
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

TEST(NumberedFlood, DelaysKeepTheExactRateInWholeMicroseconds) {
  struct Case {
    double perSecond;
    int64_t shortest;
    int64_t longest;
  };
  for (const Case c : {Case{16000, 62, 63}, Case{1000, 1000, 1000}, Case{3, 333333, 333334}}) {
    int64_t total = 0;
    for (uint32_t i = 0; i < static_cast<uint32_t>(c.perSecond); ++i) {
      const int64_t delay = flood::DelayBefore(c.perSecond, i).count();
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
    const flood::Tally tally = flood::CheckText(c.log, flood::Numbered(2, 3, 1));
    EXPECT_EQ(tally.expected, 6u) << c.what;
    EXPECT_EQ(tally.logged, c.logged) << c.what;
    EXPECT_EQ(tally.lost, c.lost) << c.what;
    EXPECT_EQ(tally.repeated, c.repeated) << c.what;
    EXPECT_EQ(tally.late, c.late) << c.what;
    EXPECT_EQ(tally.beyond, c.beyond) << c.what;
    EXPECT_EQ(tally.Exact(), c.lost == 0 && c.repeated == 0 && c.late == 0 && c.beyond == 0) << c.what;
    EXPECT_EQ(tally.Unbroken(), tally.gaps == 0 && c.repeated == 0 && c.late == 0 && c.beyond == 0) << c.what;
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
    const flood::Tally tally = flood::CheckText(c.log, flood::Numbered(2, 3, 1));
    EXPECT_FALSE(tally.Exact()) << c.what;
    EXPECT_EQ(tally.Accounted(), c.accounted) << c.what;
  }
}

// What portprobe logs for the plan's events: each short message as a line,
// a long message as its dump, and after the last of three packets the
// message they make.
class LogWriter {
 public:
  explicit LogWriter(const flood::Plan& plan) : plan(plan), packets(plan.devices.size()) {}

  std::string Event(uint8_t device, uint32_t index) {
    const port::sim::ControllerEvent event = flood::Event(plan, device, index);
    if (event.kind == port::sim::ControllerEvent::Kind::SysEx) return Dump(event.bytes);
    const uint8_t bytes[3] = {static_cast<uint8_t>(event.word), static_cast<uint8_t>(event.word >> 8),
                              static_cast<uint8_t>(event.word >> 16)};
    char line[32];
    std::snprintf(line, sizeof line, "got MIDI: %X %X %X\n", bytes[0], bytes[1], bytes[2]);
    std::vector<uint8_t>& message = packets[device];
    if (bytes[0] == 0xF0) message.clear();
    if (bytes[0] != 0xF0 && message.empty()) return line;
    message.insert(message.end(), bytes, bytes + 3);
    if (bytes[0] != 0xF7) return line;
    const std::string dump = Dump(message);
    message.clear();
    return line + dump;
  }

  static std::string Dump(const std::vector<uint8_t>& bytes) {
    std::string text = "SysEx message received:\r\n{";
    char item[8];
    for (const uint8_t byte : bytes) {
      std::snprintf(item, sizeof item, " 0x%02X,", byte);
      text += item;
    }
    return text + "};\r\n";
  }

 private:
  const flood::Plan& plan;
  std::vector<std::vector<uint8_t>> packets;
};

// One device: packets at 0-2 and 5-7 (their message after 2 and 7), a long
// message at 3, short messages elsewhere.
flood::Plan PacketsAndLongMessages() {
  flood::Plan plan;
  plan.devices.push_back({"Pad", 5, 4, nullptr});
  plan.eventsPerDevice = 10;
  return plan;
}

TEST(FloodCheck, PacketsAndLongMessagesAreUnitsOfTheirEvents) {
  const flood::Plan plan = PacketsAndLongMessages();
  LogWriter writer(plan);
  std::vector<std::string> events;
  for (uint32_t index = 0; index < plan.eventsPerDevice; ++index) events.push_back(writer.Event(0, index));
  ASSERT_EQ(events[2].substr(0, 17), "got MIDI: F7 0 0\n");
  ASSERT_NE(events[2].find("{ 0xF0, 0x7D, 0x00, 0x00, 0x00, 0x01, 0xF7, 0x00, 0x00,};"), std::string::npos);
  ASSERT_EQ(events[3], LogWriter::Dump({0xF0, 0x7D, 0x00, 0x00, 0x00, 0x03, 0xF7}));
  const auto join = [](const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts) text += part;
    return text;
  };
  const std::string withoutMessage = events[2].substr(0, events[2].find("SysEx"));

  struct Case {
    const char* what;
    std::vector<std::string> log;
    bool exact;
    bool accounted;
    uint64_t lost;
    uint64_t gaps;
    uint64_t late;
    uint64_t unassembled;
  };
  std::vector<std::string> swapped = events;
  std::swap(swapped[3], swapped[4]);
  std::vector<std::string> noLong = events;
  noLong.erase(noLong.begin() + 3);
  std::vector<std::string> noMessage = events;
  noMessage[2] = withoutMessage;
  std::vector<std::string> noLastMessage = events;
  noLastMessage[7] = noLastMessage[7].substr(0, noLastMessage[7].find("SysEx"));
  std::vector<std::string> noMiddle = events;
  noMiddle[6].clear();
  std::vector<std::string> saidLost = noLong;
  saidLost.push_back("1 MIDI events lost on \"Pad\".\r\n");
  const Case cases[] = {
      {"whole", events, true, true, 0, 0, 0, 0},
      {"a long message missing", noLong, false, false, 1, 1, 0, 0},
      {"a long message missing, said lost", saidLost, false, true, 1, 1, 0, 0},
      {"a long message after the next event", swapped, false, false, 0, 1, 1, 0},
      {"packets without their message", noMessage, false, false, 0, 0, 0, 1},
      {"the last packets without their message", noLastMessage, false, false, 0, 0, 0, 1},
      {"a middle packet missing", noMiddle, false, false, 1, 1, 0, 0},
  };
  for (const Case& c : cases) {
    const flood::Tally tally = flood::CheckText(join(c.log), plan);
    EXPECT_EQ(tally.expected, 10u) << c.what;
    EXPECT_EQ(tally.Exact(), c.exact) << c.what << ": " << flood::Describe(tally);
    EXPECT_EQ(tally.Accounted(), c.accounted) << c.what << ": " << flood::Describe(tally);
    EXPECT_EQ(tally.lost, c.lost) << c.what;
    EXPECT_EQ(tally.gaps, c.gaps) << c.what;
    EXPECT_EQ(tally.late, c.late) << c.what;
    EXPECT_EQ(tally.unassembled, c.unassembled) << c.what;
  }
}

// Packets carry 14 bits of their number and short messages count 81,920
// before they repeat: a long stream is still placed event by event, and a
// device's units among another's are still its own.
TEST(FloodCheck, LongStreamsArePlacedPastTheirNumbersWrap) {
  flood::Plan plan;
  plan.devices.push_back({"Keys", 50, 0, nullptr});
  plan.devices.push_back({"Knobs", 0, 40, nullptr});
  plan.eventsPerDevice = 90000;
  LogWriter writer(plan);
  std::string log;
  for (uint32_t index = 0; index < plan.eventsPerDevice; ++index) {
    log += writer.Event(0, index);
    log += writer.Event(1, index);
  }
  flood::Tally tally = flood::CheckText(log, plan);
  EXPECT_TRUE(tally.Exact()) << flood::Describe(tally);
  EXPECT_EQ(tally.logged, 180000u);

  // Endless streams: every unit so far, in order, is an unbroken beginning.
  plan.eventsPerDevice = 0;
  tally = flood::CheckText(log, plan);
  EXPECT_TRUE(tally.Unbroken()) << flood::Describe(tally);
  EXPECT_EQ(tally.devices[0].logged, 90000u);
  // One line missing near the end is a gap, not a wrap.
  const size_t cut = log.rfind("got MIDI: ", log.size() - 200);
  log.erase(cut, log.find('\n', cut) + 1 - cut);
  tally = flood::CheckText(log, plan);
  EXPECT_FALSE(tally.Unbroken());
  EXPECT_EQ(tally.gaps, 1u) << flood::Describe(tally);
}

} // namespace
