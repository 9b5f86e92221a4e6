// The demo scene and the named scenarios, run whole: each shows what its
// description promises.
#include "testkit/scenarios.h"

#include <gtest/gtest.h>

#include "midi/port/simulated/protocol_tables.h"
#include "tests/support/holds_in_order.h"
#include "tests/support/probe_harness.h"

namespace {

ProbeRun RunScenario(const std::string& name, port::sim::SimulatedService& service) {
  ConsoleCapture console;
  EXPECT_TRUE(testkit::BuildScenario(name, service)) << name;
  CMIDIManagerWin manager(service);
  return RunOver(service, manager, console);
}

int Count(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(DemoScene, ReportShowsEveryFamilyWithAHandler) {
  port::sim::SimulatedService service;
  const ProbeRun run = RunScenario("demo", service);
  EXPECT_TRUE(HoldsInOrder(run.report, {"current settings are bad!\n", "data upload success!\n"}));
  EXPECT_TRUE(HoldsInOrder(run.report, {"Updated device name: BCF2000 Stage"}));
  EXPECT_TRUE(HoldsInOrder(run.report, {"got MIDI: BA 1 46\n"}));
  EXPECT_TRUE(HoldsInOrder(
      run.report, {"\r\n\r\n", "\"BCF2000 Stage\" Supported by Veltrakon.\r\n",
                   "\"nanoKONTROL2\" Supported by Veltrakon.\r\n", "\"X-TOUCH MINI\" Supported by Veltrakon.\r\n",
                   "\"Midi Fighter Twister\" Supported by Veltrakon.\r\n", "\"USB Keyboard\"\r\n"}));
  // The X-TOUCH MINI got its reset stream; the Twister nothing.
  for (unsigned index = 0; index < service.OutputCount(); ++index) {
    std::string name;
    ASSERT_EQ(service.OutputName(index, name), port::kNoError);
    const port::sim::OutputRecord output = service.Output(index);
    if (name == "X-TOUCH MINI") {
      ASSERT_EQ(output.messages.size(), 1u);
      EXPECT_EQ(output.messages[0], std::vector<uint8_t>(port::sim::protocol::kXTouchResetStream.begin(),
                                                         port::sim::protocol::kXTouchResetStream.end()));
    }
    if (name == "Midi Fighter Twister") {
      EXPECT_EQ(output.sendCalls, 0);
    }
  }
}

TEST(DemoScene, NamedScenariosPlayWhatTheirNamesSay) {
  struct Case {
    const char* name;
    std::vector<std::string> inOrder;
    const char* absent;
  };
  const Case cases[] = {
      {"nano-good-scene", {"current settings are good!\n"}, "current settings are bad!"},
      {"nano-bad-scene", {"current settings are bad!\n", "data upload success!\n"}, "failed"},
      {"nano-channel",
       {"{ 0xF0, 0x42, 0x43, 0x00, 0x01, 0x13, 0x00, 0x7F", "current settings are bad!\n", "data upload success!\n"},
       "failed"},
      {"nano-failing", {"current settings are bad!\n", "data upload failed!!\n"}, "data upload success!"},
      {"xtouch-mini", {"MIDI device found: X-TOUCH MINI\n", "got MIDI: BA 1 46\n", "got MIDI: 8A 17 0\n"}, "SysEx"},
      {"twister", {"MIDI device found: Midi Fighter Twister\n", "got MIDI: B0 4 41\n", "got MIDI: B1 4 0\n"}, "SysEx"},
      {"bcf2000-rename", {"Send identiy request\r\n", "Updated device name: BCF2000 Stage"}, "failed"},
      {"busy-output",
       {"MIDI device found: BCR2000\n", "midi send failed!\n", "Updated device name: BCF2000 Stage"},
       "BCR2000 Desk"},
      {"unusable-ports", {"MIDI device found: \n", "Unknown error code: 5\n", "No midi devices found."}, "Supported"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    port::sim::SimulatedService service;
    const ProbeRun run = RunScenario(c.name, service);
    EXPECT_TRUE(HoldsInOrder(run.report, c.inOrder)) << run.report;
    EXPECT_EQ(run.report.find(c.absent), std::string::npos);
  }
  port::sim::SimulatedService service;
  EXPECT_EQ(Count(RunScenario("nano-failing", service).report, "data upload failed!!\n"), 5);
}

TEST(DemoScene, EveryListedScenarioExists) {
  for (const std::string& name : testkit::ScenarioNames()) {
    port::sim::SimulatedService service;
    EXPECT_TRUE(testkit::BuildScenario(name, service)) << name;
  }
  port::sim::SimulatedService service;
  EXPECT_FALSE(testkit::BuildScenario("no-such-scenario", service));
}

} // namespace
