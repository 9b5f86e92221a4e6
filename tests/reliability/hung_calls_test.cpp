// Calls that never return: an open, a start and a send, each in a run with
// a deadline. The watchdog exports what was captured until then, a line
// saying why, and the devices that can be read, once; the run, released
// later, exports nothing more.
#include <gtest/gtest.h>

#include <atomic>
#include <regex>

#include "app/run.h"
#include "testkit/misbehaving_scenes.h"
#include "testkit/scenarios.h"
#include "tests/support/probe_harness.h"

namespace {

using std::chrono::milliseconds;

std::string MaskStopwatch(const std::string& text) {
  static const std::regex kStopwatch("Run Time: [0-9]+\\.[0-9]{6}  Interval Time: [0-9]+\\.[0-9]{6}");
  return std::regex_replace(text, kStopwatch, "Run Time: T  Interval Time: T");
}

struct HungRun {
  std::string report;
  int exports = 0;
  bool gaveUp = false;
  std::string console;
};

HungRun RunStuck(const std::string& scenario) {
  HungRun run;
  port::sim::SimulatedService service;
  EXPECT_TRUE(testkit::BuildScenario(scenario, service));
  ConsoleCapture console;
  CMIDIManagerWin manager(service);
  std::atomic<bool> gaveUp{false};
  // The process would end here; the test lets the stuck call go instead,
  // so that the run can be seen to export nothing more.
  const app::RunDeadline deadline{milliseconds(2000), [&] {
                                    gaveUp = true;
                                    service.ReleaseHungCalls();
                                  }};
  app::RunProbe(
      manager, [&] { WaitForQuiet(service, manager); },
      [&](const app::ReportText& report) {
        ++run.exports;
        run.report = MaskStopwatch(report.Joined());
      },
      &deadline);
  run.gaveUp = gaveUp;
  EXPECT_EQ(service.HungCalls(), 1);
  run.console = console.Text();
  return run;
}

const std::string kGaveUp = "Portprobe stopped waiting after 2 seconds: a call to the MIDI service did not return.\n";

TEST(HungCall, TheWatchdogExportsWhatWasCapturedAndTheDevicesOnce) {
  struct Case {
    const char* scenario;
    std::string report;
  };
  const Case cases[] = {
      // The open of the second port never returns; the BCF2000 before it
      // had its whole dialogue.
      {"hung-open",
       "MIM_OPEN\nMIDI device found: BCF2000\nSend identiy request\r\nSysEx message received:\r\n"
       "{ 0xF0, 0x00, 0x20, 0x32, 0x00, 0x14, 0x02, 0x42, 0x43, 0x46, 0x32, 0x30, 0x30, 0x30, 0x20, 0x53, 0x74, "
       "0x61, 0x67, 0x65, 0xF7,};\r\nGot identity response\r\nRun Time: T  Interval Time: T\r\n"
       "Updated device name: BCF2000 Stage" +
           kGaveUp + "\r\n\r\n\"BCF2000 Stage\" Supported by Veltrakon.\r\n\r\n"},
      // midiInStart never returns: the device is listed, its dialogue never
      // began.
      {"hung-start", "MIM_OPEN\nMIDI device found: nanoKONTROL2\n" + kGaveUp +
                         "\r\n\r\n\"nanoKONTROL2\" Supported by Veltrakon.\r\n\r\n"},
      // The request's send never returns, with the list lock held: the
      // devices are read from the attach record instead.
      {"hung-send", "MIM_OPEN\nMIDI device found: BCF2000\nSend identiy request\r\n" + kGaveUp +
                        "\r\n\r\n\"BCF2000\" Supported by Veltrakon.\r\n\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    const HungRun run = RunStuck(c.scenario);
    EXPECT_TRUE(run.gaveUp);
    EXPECT_EQ(run.exports, 1);
    EXPECT_EQ(run.report, c.report);
    EXPECT_NE(run.console.find(kGaveUp), std::string::npos);
  }
}

// midiInStop never returns, after the report was built: the watchdog
// exports the report the run built, whole, and nothing is said about a
// stuck call the report never met.
TEST(HungCall, AStopThatNeverReturnsStillGetsTheRunsOwnReportOut) {
  port::sim::SimulatedService service;
  port::sim::InputFaults stuck;
  stuck.stop = port::sim::ResultScript::FirstN(1, port::sim::kNeverReturns);
  service.AddInput("Keyboard", std::move(stuck));
  ConsoleCapture console;
  CMIDIManagerWin manager(service);
  int exports = 0;
  std::string report;
  const app::RunDeadline deadline{milliseconds(2000), [&] { service.ReleaseHungCalls(); }};
  app::RunProbe(
      manager, [&] { WaitForQuiet(service, manager); },
      [&](const app::ReportText& text) {
        ++exports;
        report = text.Joined();
      },
      &deadline);
  EXPECT_EQ(exports, 1);
  EXPECT_EQ(report, "MIM_OPEN\nMIDI device found: Keyboard\n\r\n\r\n\"Keyboard\"\r\n\r\n");
  EXPECT_EQ(service.HungCalls(), 1);
}

TEST(HungCall, ARunThatEndsInTimeIsLeftAlone) {
  port::sim::SimulatedService service;
  ASSERT_TRUE(testkit::BuildScenario("bcf2000-rename", service));
  ConsoleCapture console;
  CMIDIManagerWin manager(service);
  bool gaveUp = false;
  int exports = 0;
  const app::RunDeadline deadline{milliseconds(60000), [&] { gaveUp = true; }};
  app::RunProbe(
      manager, [&] { WaitForQuiet(service, manager); }, [&](const app::ReportText&) { ++exports; }, &deadline);
  EXPECT_EQ(exports, 1);
  EXPECT_FALSE(gaveUp);
}

} // namespace
