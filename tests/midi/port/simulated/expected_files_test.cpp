// The expected files of the Wine and JACK end-to-end runs hold protocol
// messages on the wire: each is checked here against the protocol tables
// (midi/port/simulated/protocol_tables.h), line by line, so that a file
// that was once taken from the program's own output cannot hold a wrong
// byte unseen. How every other line of those files follows from the
// tool's rules is written beside them (README.md in each folder).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "midi/port/simulated/protocol_tables.h"

namespace {

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream file(path);
  EXPECT_TRUE(file.good()) << path;
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

template <size_t N>
std::string Hex(const std::array<uint8_t, N>& bytes, size_t from = 0, size_t count = N) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (size_t at = from; at < from + count; ++at) {
    if (!text.empty()) text += ' ';
    text += kHex[bytes[at] >> 4];
    text += kHex[bytes[at] & 0x0F];
  }
  return text;
}

template <size_t N>
std::string EditedScene(const std::array<uint8_t, N>& scene) {
  std::array<uint8_t, N> edited = scene;
  edited[17] = 0x11; // the control the user reassigned, as the scenes have it
  return Hex(edited);
}

// The reset stream as the controller receives it over JACK: one message an
// event, each with its own status byte.
std::vector<std::string> ResetStreamMessages() {
  const auto& stream = port::sim::protocol::kXTouchResetStream;
  std::vector<std::string> messages;
  for (size_t at = 0; at < stream.size();) {
    const size_t length = (stream[at] & 0xF0) == 0xC0 ? 2 : 3;
    messages.push_back(Hex(stream, at, length));
    at += length;
  }
  return messages;
}

const std::string kWine = std::string(PORTPROBE_SOURCE_DIR) + "/tests/wine/expected/";
const std::string kJack = std::string(PORTPROBE_SOURCE_DIR) + "/tests/jack/expected/controllers/";

TEST(ExpectedFiles, WireBytesOfTheWineRunsAreTheProtocolsMessages) {
  using namespace port::sim::protocol;
  const std::string identity = "BCF2000: " + Hex(kBCIdentityQuery);
  EXPECT_EQ(Lines(kWine + "bcf2000-rename.wire"), std::vector<std::string>{identity});
  EXPECT_EQ(Lines(kWine + "busy-output.wire"), std::vector<std::string>{identity});
  EXPECT_EQ(Lines(kWine + "hung-open.wire"), std::vector<std::string>{identity});
  const std::vector<std::string> rewrite = {"nanoKONTROL2: " + Hex(kNanoKontrolDumpRequest),
                                            "nanoKONTROL2: " + Hex(kNanoKontrolScene),
                                            "nanoKONTROL2: " + Hex(kNanoKontrolWriteRequest)};
  EXPECT_EQ(Lines(kWine + "nano-bad-scene.wire"), rewrite);
  // Unplugged after the upload: the write request never left.
  EXPECT_EQ(Lines(kWine + "unplugged.wire"), std::vector<std::string>(rewrite.begin(), rewrite.begin() + 2));
  EXPECT_EQ(Lines(kWine + "xtouch-mini.wire"), std::vector<std::string>{"X-TOUCH MINI: " + Hex(kXTouchResetStream)});
  // Two units: each its own request, the first's dialogue before the second's.
  EXPECT_EQ(Lines(kWine + "two-bcf2000.wire"),
            (std::vector<std::string>{identity, "BCF2000 #2: " + Hex(kBCIdentityQuery)}));
  EXPECT_EQ(Lines(kWine + "two-nanokontrol2.wire"),
            (std::vector<std::string>{rewrite[0], "nanoKONTROL2 #2: " + Hex(kNanoKontrolDumpRequest), rewrite[1],
                                      rewrite[2], "nanoKONTROL2 #2: " + Hex(kNanoKontrolScene),
                                      "nanoKONTROL2 #2: " + Hex(kNanoKontrolWriteRequest)}));
  for (const char* silent : {"hung-send", "hung-start", "sysex-on-the-wire", "unknown-port", "unusable-ports"}) {
    EXPECT_TRUE(Lines(kWine + silent + ".wire").empty()) << silent;
  }
}

TEST(ExpectedFiles, WhatTheJackControllersGotAndSentIsTheProtocolsMessages) {
  using namespace port::sim::protocol;
  EXPECT_EQ(Lines(kJack + "bcf2000.received"), std::vector<std::string>{Hex(kBCIdentityQuery)});
  EXPECT_EQ(
      Lines(kJack + "nanokontrol2.received"),
      (std::vector<std::string>{Hex(kNanoKontrolDumpRequest), Hex(kNanoKontrolScene), Hex(kNanoKontrolWriteRequest)}));
  // Its dump is the scene with the reassigned control; then the upload and
  // write acknowledgements, 5F with their code in byte 8.
  EXPECT_EQ(Lines(kJack + "nanokontrol2.sent"),
            (std::vector<std::string>{EditedScene(kNanoKontrolScene), "F0 42 40 00 01 13 00 5F 23 00 F7",
                                      "F0 42 40 00 01 13 00 5F 21 00 F7"}));
  EXPECT_EQ(Lines(kJack + "xtouch.received"), ResetStreamMessages());
}

} // namespace
