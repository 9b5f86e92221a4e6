// The scenarios whose report, console and wire bytes tests/wine/expected/
// holds, run in-process under both models of the simulated service: the
// classic driver stack, and the current Windows service whose controllers
// answer within a millisecond and which reports no broken input. Each gives
// the bytes of its files (those of tests/wine/expected/current/ where the
// current service differs), the same that portprobe.exe gives under Wine,
// and no request reaches a controller before its input can answer.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "testkit/scenarios.h"
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
    const std::string name = service.OutputLabel(index);
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

// A scenario's file for one service: tests/wine/expected/SERVICE/ holds
// those that differ from the rest.
std::string ExpectedFile(const std::string& scenario, const char* service, const std::string& extension) {
  const std::string folder = std::string(PORTPROBE_SOURCE_DIR) + "/tests/wine/expected/";
  const std::string own = folder + service + "/" + scenario + extension;
  return std::ifstream(own).good() ? own : folder + scenario + extension;
}

// The services a scenario runs as: those its .services file names, or both
// the classic stack and the current service.
std::vector<std::string> ServicesOf(const std::string& scenario) {
  std::istringstream named(ReadFile(ExpectedFile(scenario, "", ".services")));
  std::vector<std::string> services;
  for (std::string service; named >> service;) services.push_back(service);
  if (services.empty()) services = {"classic", "current"};
  return services;
}

port::sim::ServiceModel ModelOf(const std::string& service) {
  if (service == "current") return port::sim::ServiceModel::CurrentWindows();
  if (service == "current-before-november") return port::sim::ServiceModel::CurrentWindowsBeforeNovember2026();
  EXPECT_EQ(service, "classic");
  return port::sim::ServiceModel::Classic();
}

TEST_P(ExpectedScenario, SameBytesUnderEveryService) {
  for (const std::string& service : ServicesOf(GetParam())) {
    SCOPED_TRACE(service);
    const auto wire = WireByPort(ReadFile(ExpectedFile(GetParam(), service.c_str(), ".wire")));
    const std::string report = Decode(ReadFile(ExpectedFile(GetParam(), service.c_str(), ".report")));
    std::string console = Decode(ReadFile(ExpectedFile(GetParam(), service.c_str(), ".console")));
    ASSERT_FALSE(report.empty());
    ASSERT_GE(console.size(), std::string(kClosingMessage).size());
    console.erase(console.size() - std::string(kClosingMessage).size()); // written after the export

    port::sim::SimulatedService simulated(ModelOf(service));
    ASSERT_TRUE(testkit::BuildScenario(GetParam(), simulated));
    ConsoleCapture capture;
    CMIDIManagerWin manager(simulated);
    const ProbeRun run = RunOver(simulated, manager, capture);
    EXPECT_EQ(MaskStopwatch(run.report), report);
    EXPECT_EQ(MaskStopwatch(run.console), console);
    EXPECT_EQ(WireOf(simulated), wire);
  }
}

INSTANTIATE_TEST_SUITE_P(WineExpectations, ExpectedScenario,
                         testing::Values("bcf2000-rename", "busy-output", "nano-bad-scene", "nano-named-jacks",
                                         "stalled-send", "sysex-on-the-wire", "unknown-port", "unplugged",
                                         "unusable-ports", "xtouch-mini", "two-nanokontrol2", "two-bcf2000"),
                         [](const testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           for (char& c : name) {
                             if (c == '-') c = '_';
                           }
                           return name;
                         });

} // namespace
