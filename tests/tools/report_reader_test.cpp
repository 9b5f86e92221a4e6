// The report reader on the reports of the simulated scenarios, as they are
// and as a mail program mangles them, and on texts it must not misread.
//
// The reports are kept as the tool wrote them in tests/tools/reports/ (one
// run of each scenario over the classic simulated service), so that what
// the reader is given never depends on which thread logged first; the
// orderings a report can have are tested one by one where they matter
// (the glued rename line below).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/report_reader/findings.h"
#include "tools/report_reader/midi_text.h"
#include "tools/report_reader/render.h"

namespace {

std::string ReportOf(const std::string& scenario) {
  std::ifstream file(std::string(PORTPROBE_SOURCE_DIR) + "/tests/tools/reports/" + scenario + ".report",
                     std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  EXPECT_FALSE(text.str().empty()) << scenario;
  return text.str();
}

std::vector<std::string> Texts(const report_reader::Reading& reading) {
  std::vector<std::string> texts;
  for (const report_reader::Finding& finding : reading.findings) texts.push_back(finding.text);
  return texts;
}

// As a mail program sends it on: bare line feeds, lines longer than the
// width (72 to 78 columns) broken at their last blank (which goes) or,
// without one, at the width; quoted twice; a greeting before and a
// signature after.
std::string Mailed(const std::string& report, size_t width = 72) {
  std::string body;
  size_t at = 0;
  while (at < report.size()) {
    size_t end = report.find('\n', at);
    if (end == std::string::npos) end = report.size();
    std::string line = report.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    while (line.size() > width) {
      size_t cut = line.rfind(' ', width);
      const bool atBlank = cut != std::string::npos && cut > 0;
      if (!atBlank) cut = width;
      body += "> > " + line.substr(0, cut) + "\n";
      line = line.substr(atBlank ? cut + 1 : cut);
    }
    body += "> > " + line + "\n";
  }
  return "Hello support,\n\nthe tool said:\n\n" + body + "\nThanks,\n-- \nA user\n";
}

struct Expected {
  const char* scenario;
  std::vector<std::string> findings; // each among the reading's, in this order
};

// What each scenario proves, written from its definition (scenarios.cpp,
// misbehaving_scenes.cpp) and the tool's texts, not from the reader.
const std::vector<Expected>& Scenarios() {
  static const std::vector<Expected> kScenarios = {
      {"none", {"No MIDI device was found (\"No midi devices found.\")."}},
      {"nano-good-scene",
       {"Device \"nanoKONTROL2\": nanoKONTROL2, supported.",
        "nanoKONTROL2 \"nanoKONTROL2\": its scene is the one the tool needs (\"current settings are good!\").",
        "nanoKONTROL2 \"nanoKONTROL2\": a scene dump equal to the tool's stored image."}},
      {"nano-channel",
       {"nanoKONTROL2 \"nanoKONTROL2\": a scene dump with 1 byte of 402 different from the tool's stored image, at "
        "offset 2 (43, stored 40): the global MIDI channel only.",
        "nanoKONTROL2 \"nanoKONTROL2\": the scene was rewritten and the write confirmed (\"data upload success!\")."}},
      {"nano-failing",
       {"nanoKONTROL2 \"nanoKONTROL2\": the upload was not acknowledged as received 5 times (another answer came "
        "back; the tool logs no line for it).",
        "nanoKONTROL2 \"nanoKONTROL2\": writing the scene failed 5 times (\"data upload failed!!\").",
        "nanoKONTROL2 \"nanoKONTROL2\": the tool gave up after 10 failures; the controller keeps its own scene."}},
      {"bcf2000-rename",
       {"Device \"BCF2000 Stage\": BCF2000, supported; renamed by its identity reply from port name \"BCF2000\", the "
        "reply claiming a BCF2000.",
        "Identity request sent to 1 BC device (\"Send identiy request\").",
        "BC device \"BCF2000 Stage\" answered the identity request and was renamed by it."}},
      {"xtouch-mini",
       {"Device \"X-TOUCH MINI\": X-TOUCH MINI, supported.",
        "X-TOUCH MINI \"X-TOUCH MINI\": the tool sends its reset stream when the port has an output of the same name; "
        "the report does not log the stream and shows no answer.",
        "Device \"X-TOUCH MINI\" sent 1 note on, 1 note off, 2 control change; channel 11."}},
      {"unusable-ports",
       {"No MIDI device was found (\"No midi devices found.\").",
        "A port could not be opened (\"Error opening midi\"; the report does not say which): the port is in use by "
        "another program.",
        "A port could not be opened (\"Error opening midi\"; the report does not say which): error code 5."}},
      {"busy-output",
       {"Device \"BCR2000\": BCR2000, supported.", "1 BC device gave no accepted identity reply within the run.",
        "A message to a controller could not be sent (\"midi send failed!\") 1 time."}},
      {"sysex-on-the-wire",
       {"The driver reported a broken or unfinished System Exclusive message (\"MIM_LONGERROR\") 1 time."}},
      {"unplugged",
       {"nanoKONTROL2 \"nanoKONTROL2\": no confirmed write seen within the run.",
        "A message to a controller could not be sent (\"midi send failed!\") 1 time.",
        "A port reported itself closed, as an unplugged device does (\"MIM_CLOSE\") 1 time."}},
      {"runaway-sysex",
       {"A System Exclusive message longer than 65535 bytes was dropped as it came in; the device sent it, the tool "
        "kept none of it."}},
      {"wrong-length-replies",
       {"1 identity reply carried no device name (\"Bad response, no device name.\").",
        "2 nanoKONTROL2s sent no scene within the run (no answer seen)."}},
      {"reply-flood",
       {"nanoKONTROL2 \"nanoKONTROL2\": the tool gave up after 10 failures; the controller keeps its own scene."}},
      {"garbage-replies",
       {"BC device \"BCF2000\": no accepted identity reply within the run.",
        "nanoKONTROL2 \"nanoKONTROL2\": no scene came back within the run (no answer seen)."}},
  };
  return kScenarios;
}

TEST(ReportReader, EachScenarioGivesWhatItProvesAndTheSameWhenMailed) {
  for (const Expected& expected : Scenarios()) {
    const std::string report = ReportOf(expected.scenario);
    const report_reader::Reading reading = report_reader::Read(report);
    const std::vector<std::string> texts = Texts(reading);
    auto from = texts.begin();
    for (const std::string& finding : expected.findings) {
      const auto at = std::find(from, texts.end(), finding);
      EXPECT_NE(at, texts.end()) << expected.scenario << ": missing or out of order: " << finding << "\n"
                                 << report_reader::FindingsOnly(reading);
      if (at != texts.end()) from = at + 1;
    }
    EXPECT_TRUE(reading.notUnderstood.empty()) << expected.scenario << "\n" << report_reader::FindingsOnly(reading);

    const report_reader::Reading mailed = report_reader::Read(Mailed(report));
    EXPECT_EQ(report_reader::FindingsOnly(mailed), report_reader::FindingsOnly(reading)) << expected.scenario;
    // The quoted report starts after the four lines of greeting.
    EXPECT_EQ(mailed.firstLine, reading.firstLine + 4) << expected.scenario;
  }
}

// The report in the texts the tool logged, each with its own line end:
// a SysEx heading with its dump (logged in one piece), "Bad response, no
// device name." apart from what followed it; the summary last, whole.
std::vector<std::string> LoggedTexts(const std::string& report, std::string& summary) {
  const size_t end = report.find("\r\n\r\n\"");
  summary = report.substr(end);
  std::vector<std::string> texts;
  const auto lineFrom = [&report](size_t from) { return report.substr(from, report.find('\n', from) + 1 - from); };
  size_t at = 0;
  while (at < end) {
    std::string text = lineFrom(at);
    at += text.size();
    const std::string nameless = "Bad response, no device name.";
    if (text.compare(0, nameless.size(), nameless) == 0) {
      texts.push_back(nameless);
      text.erase(0, nameless.size());
    }
    if (text == "SysEx message received:\r\n") {
      const std::string dump = lineFrom(at);
      at += dump.size();
      text += dump;
    }
    texts.push_back(text);
  }
  return texts;
}

// "Updated device name: %s" ends no line: whatever another thread logs next
// goes on on its line. In wrong-length-replies the BCR2000's new name ends
// in eleven 0x01 bytes. Every text another thread can have logged next
// follows it in turn: each such ordering is built from the scenario's
// texts, and read as written and as mailed at 72, 76 and 78 columns; each
// reads as the scenario did.
TEST(ReportReader, TheRenameLineReadsTheSameWhateverFollowsItAndHoweverItIsWrapped) {
  const std::string report = ReportOf("wrong-length-replies");
  std::string summary;
  std::vector<std::string> texts = LoggedTexts(report, summary);
  const auto renameAt = std::find_if(texts.begin(), texts.end(), [](const std::string& text) {
    return text.compare(0, 21, "Updated device name: ") == 0;
  });
  ASSERT_NE(renameAt, texts.end());
  // The rename and, before it, its own texts: the reply, "Got identity
  // response", the stopwatch.
  const size_t rename = static_cast<size_t>(renameAt - texts.begin());
  ASSERT_GE(rename, 3u);
  std::string renamed = texts[rename];
  const size_t gluedAt = renamed.find("SysEx message received:");
  ASSERT_NE(gluedAt, std::string::npos) << "the scenario's own ordering glues it to a reply";
  texts[rename] = renamed.substr(gluedAt);
  const std::string dump = texts[rename + 1]; // the glued heading's dump
  texts[rename] += dump;
  texts.erase(texts.begin() + static_cast<std::ptrdiff_t>(rename) + 1);
  renamed.erase(gluedAt);
  ASSERT_EQ(renamed, "Updated device name: BCR2000 Stage" + std::string(11, '\x01'));

  const report_reader::Reading expected = report_reader::Read(report);
  const std::vector<std::string> found = Texts(expected);
  const std::string name = "BCR2000 Stage" + std::string(11, '\x01');
  for (const std::string& finding :
       {"Device \"" + name +
            "\": BCR2000, supported; renamed by its identity reply from port name \"BCR2000\", the "
            "reply claiming a BCR2000.",
        "BC device \"" + name + "\" answered the identity request and was renamed by it.",
        std::string("1 identity reply carried no device name (\"Bad response, no device name.\").")}) {
    EXPECT_NE(std::find(found.begin(), found.end(), finding), found.end()) << finding << "\n"
                                                                           << report_reader::FindingsOnly(expected);
  }

  // The reply answers the BCR2000's request: what the main thread logged
  // after that request may come after the reply and its rename instead.
  const auto request = std::find(texts.rbegin(), texts.rend(), "Send identiy request\r\n");
  ASSERT_NE(request, texts.rend());
  const size_t earliest = static_cast<size_t>(texts.rend() - request);
  const size_t reply = rename - 3;
  size_t orderings = 0;
  for (size_t follower = earliest; follower <= texts.size(); ++follower) {
    // The BCR2000's own texts cannot follow its rename.
    if (follower >= reply && follower < rename) continue;
    std::vector<std::string> ordered = texts;
    size_t at = follower;
    if (follower < reply) {
      // The reply, its texts and the rename all before that text.
      std::vector<std::string> block(ordered.begin() + static_cast<std::ptrdiff_t>(reply),
                                     ordered.begin() + static_cast<std::ptrdiff_t>(rename));
      ordered.erase(ordered.begin() + static_cast<std::ptrdiff_t>(reply),
                    ordered.begin() + static_cast<std::ptrdiff_t>(rename));
      ordered.insert(ordered.begin() + static_cast<std::ptrdiff_t>(follower), block.begin(), block.end());
      at = follower + block.size();
    }
    ordered.insert(ordered.begin() + static_cast<std::ptrdiff_t>(at), renamed);
    std::string written;
    for (const std::string& text : ordered) written += text;
    written += summary;
    const std::string what =
        "followed by: " + (at + 1 < ordered.size() ? ordered[at + 1].substr(0, 40) : std::string("the summary"));
    ++orderings;

    EXPECT_EQ(report_reader::FindingsOnly(report_reader::Read(written)), report_reader::FindingsOnly(expected))
        << what << "\n"
        << written;
    for (const size_t width : {72u, 76u, 78u}) {
      EXPECT_EQ(report_reader::FindingsOnly(report_reader::Read(Mailed(written, width))),
                report_reader::FindingsOnly(expected))
          << what << ", mailed at " << width;
    }
  }
  EXPECT_GE(orderings, 10u);
}

TEST(ReportReader, AFloodIsCountedWhateverTheMailDoesToIt) {
  // Sixteen devices at full speed for 100 ms, their dialogues going on.
  const std::string report = ReportOf("flood-100ms");
  const report_reader::Reading reading = report_reader::Read(report);
  EXPECT_TRUE(reading.notUnderstood.empty()) << report_reader::FindingsOnly(reading);
  const std::vector<std::string> texts = Texts(reading);
  EXPECT_NE(std::find(texts.begin(), texts.end(), "Device \"Flood Keyboard 15\": no known family, not supported."),
            texts.end());
  // 16 devices, 1600 events each: the counts are the report's, whatever
  // the mail program did to its lines.
  EXPECT_EQ(report_reader::FindingsOnly(report_reader::Read(Mailed(report))), report_reader::FindingsOnly(reading));
}

TEST(ReportReader, LinesItCannotPlaceAreShownAndTheRestIsRead) {
  const std::string report =
      "Some reply text\r\n"
      "MIM_OPEN\n"
      "MIDI device found: Keys\n"
      "got MIDI: 90 3C 64\n"
      "got MIDI: 90 3C\n" // a byte short
      "SysEx message received:\r\n"
      "{ 0xF0, 0x7E,};\r\n" // well-formed dump of an unfinished message
      "SysEx message received:\r\n"
      "{ 0xF0, 0xZZ,};\r\n" // not a dump
      "\r\n\r\n\"Keys\"\r\n"
      "-- \nsignature\n";
  const report_reader::Reading reading = report_reader::Read(report);
  ASSERT_TRUE(reading.found);
  EXPECT_EQ(reading.firstLine, 2u);
  EXPECT_EQ(reading.lastLine, 12u);
  ASSERT_EQ(reading.notUnderstood.size(), 3u) << report_reader::FindingsOnly(reading);
  EXPECT_EQ(reading.notUnderstood[0].lines[0], 5u);
  EXPECT_EQ(reading.notUnderstood[0].text, "got MIDI: 90 3C");
  EXPECT_EQ(reading.notUnderstood[1].lines[0], 8u);
  EXPECT_EQ(reading.notUnderstood[2].lines[0], 9u);
  const std::vector<std::string> texts = Texts(reading);
  EXPECT_NE(
      std::find(texts.begin(), texts.end(), "Device \"Keys\" sent 1 note on, 1 System Exclusive message; channel 1."),
      texts.end())
      << report_reader::FindingsOnly(reading);

  const report_reader::Reading nothing = report_reader::Read("Dear support,\nit does not work.\n");
  EXPECT_FALSE(nothing.found);
  EXPECT_EQ(Texts(nothing), std::vector<std::string>{"No Portprobe report found in this text."});
}

TEST(ReportReader, DeviceTextCannotDriveTheTerminalOrThePage) {
  const std::string report = ReportOf("hostile-names");
  const report_reader::Reading reading = report_reader::Read(report);
  const std::string text = report_reader::RenderText(reading);
  EXPECT_EQ(text.find('\x1B'), std::string::npos);
  EXPECT_NE(text.find("Stage\\x1B[31m\\x0D\\x086n\\x7F"), std::string::npos) << text;
  const std::string page =
      report_reader::RenderHtml(report_reader::Read("MIDI device found: <script>x</script>\n\r\n\r\n\"<b>\"\r\n"));
  EXPECT_EQ(page.find("<script>x"), std::string::npos);
  EXPECT_NE(page.find("&lt;script&gt;x&lt;/script&gt;"), std::string::npos);
}

TEST(ReportReader, MessagesReadAsAMusicianReadsThem) {
  struct Case {
    std::vector<uint8_t> bytes;
    const char* meaning;
  };
  const Case cases[] = {
      {{0x90, 0x3C, 0x64}, "Note On, channel 1, C4 (60), velocity 100"},
      {{0x9F, 0x15, 0x00}, "Note On with velocity 0 (a Note Off), channel 16, A0 (21)"},
      {{0x8A, 0x17, 0x00}, "Note Off, channel 11, B0 (23), velocity 0"},
      {{0xB0, 0x07, 0x64}, "Control Change, channel 1, controller 7, value 100"},
      {{0xE0, 0x00, 0x40}, "Pitch Bend, channel 1, 0"},
      {{0xE1, 0x7F, 0x7F}, "Pitch Bend, channel 2, 8191"},
      {{0xF8, 0x00, 0x00}, "Timing Clock"},
      {{0x06, 0x01, 0xF7}, "data bytes without a status (part of a System Exclusive sent in packets)"},
  };
  for (const Case& c : cases) EXPECT_EQ(report_reader::DescribeShortMessage(c.bytes), c.meaning);
  EXPECT_EQ(report_reader::DescribeSysEx({0xF0, 0x00, 0x20, 0x32, 0x00, 0x15, 0x02, 'B', 'C', 'R', 0xF7}),
            "System Exclusive, 11 bytes, Behringer: identity reply: BCR2000, 'BCR'");
  EXPECT_EQ(report_reader::DescribeSysEx({0xF0, 0x42, 0x40, 0x00, 0x01, 0x13, 0x00, 0x5F, 0x21, 0x00, 0xF7}),
            "System Exclusive, 11 bytes, Korg: nanoKONTROL2: scene written");
  EXPECT_EQ(report_reader::DescribeSysEx({0xF0, 0x7E}),
            "System Exclusive, 2 bytes, universal, non-real time (not one whole message)");
}

} // namespace
