// The scenarios whose report, console and wire bytes tests/wine/expected/
// holds, run in-process under both timings of the simulated service: the
// classic driver stack, and the current Windows service whose controllers
// answer within a millisecond. Each gives the same bytes either way, the
// same that portprobe.exe gives under Wine, and no request reaches a
// controller before its input can answer.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "midi/port/simulated/instruments/scenarios.h"
#include "tests/support/probe_harness.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// Expected files write \r, \n, \\ and \xHH for the bytes; their real line
// breaks only keep them readable.
std::string Decode(const std::string& text) {
  std::string bytes;
  for (size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (c == '\n') continue;
    if (c != '\\' || at + 1 >= text.size()) {
      bytes += c;
      continue;
    }
    const char next = text[++at];
    if (next == 'r') {
      bytes += '\r';
    } else if (next == 'n') {
      bytes += '\n';
    } else if (next == 'x' && at + 2 < text.size()) {
      bytes += static_cast<char>(std::stoi(text.substr(at + 1, 2), nullptr, 16));
      at += 2;
    } else {
      bytes += next;
    }
  }
  return bytes;
}

std::string MaskStopwatch(const std::string& text) {
  static const std::regex kStopwatch("Run Time: [0-9]+\\.[0-9]{6}  Interval Time: [0-9]+\\.[0-9]{6}");
  return std::regex_replace(text, kStopwatch, "Run Time: T  Interval Time: T");
}

// "PORT: HEX ..." per message, each port's messages in the order sent.
std::map<std::string, std::vector<std::string>> WireByPort(const std::string& lines) {
  std::map<std::string, std::vector<std::string>> wire;
  std::istringstream in(lines);
  for (std::string line; std::getline(in, line);) {
    const size_t colon = line.find(": ");
    if (colon != std::string::npos) wire[line.substr(0, colon)].push_back(line.substr(colon + 2));
  }
  return wire;
}

std::map<std::string, std::vector<std::string>> WireOf(port::sim::SimulatedService& service) {
  static const char kHex[] = "0123456789ABCDEF";
  std::map<std::string, std::vector<std::string>> wire;
  for (unsigned index = 0; index < service.OutputCount(); ++index) {
    std::string name;
    if (service.OutputName(index, name) != port::kNoError) continue;
    for (const std::vector<uint8_t>& message : service.Output(index).messages) {
      std::string hex;
      for (uint8_t byte : message) {
        if (!hex.empty()) hex += ' ';
        hex += kHex[byte >> 4];
        hex += kHex[byte & 0x0F];
      }
      wire[name].push_back(hex);
    }
  }
  return wire;
}

const char* const kClosingMessage = "Portprobe finished, paste clipboard into an email.";

class ExpectedScenario : public testing::TestWithParam<std::string> {};

TEST_P(ExpectedScenario, SameBytesUnderEitherTiming) {
  const std::string base = std::string(PORTPROBE_SOURCE_DIR) + "/tests/wine/expected/" + GetParam();
  const std::string report = Decode(ReadFile(base + ".report"));
  std::string console = Decode(ReadFile(base + ".console"));
  ASSERT_FALSE(report.empty());
  ASSERT_GE(console.size(), std::string(kClosingMessage).size());
  console.erase(console.size() - std::string(kClosingMessage).size()); // written after the export
  const auto wire = WireByPort(ReadFile(base + ".wire"));

  for (const port::sim::ServiceTiming& timing :
       {port::sim::ServiceTiming::Classic(), port::sim::ServiceTiming::CurrentWindows()}) {
    SCOPED_TRACE(timing.sendDoneInCall ? "current Windows" : "classic");
    port::sim::SimulatedService service(timing);
    ASSERT_TRUE(port::sim::BuildScenario(GetParam(), service));
    ConsoleCapture capture;
    CMIDIManagerWin manager(service);
    const ProbeRun run = RunOver(service, manager, capture);
    EXPECT_EQ(MaskStopwatch(run.report), report);
    EXPECT_EQ(MaskStopwatch(run.console), console);
    EXPECT_EQ(WireOf(service), wire);
  }
}

INSTANTIATE_TEST_SUITE_P(WineExpectations, ExpectedScenario,
                         testing::Values("bcf2000-rename", "busy-output", "nano-bad-scene", "sysex-on-the-wire",
                                         "unknown-port", "unplugged", "unusable-ports", "xtouch-mini"),
                         [](const testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           for (char& c : name) {
                             if (c == '-') c = '_';
                           }
                           return name;
                         });

} // namespace
