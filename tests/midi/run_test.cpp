// The whole run over the simulated service: the exact report and console.
#include "app/run.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>

#include <map>
#include <memory>

#include "app/console_queue.h"
#include "midi/port/simulated/controllers/bc_controller.h"
#include "tests/support/forwarding_service.h"

#include "midi/port/simulated/simulated_service.h"
#include "tests/support/probe_harness.h"

namespace {

using port::sim::InputFaults;
using port::sim::OutputFaults;
using port::sim::ResultScript;

TEST(Run, NoPortsGivesTheEmptyReport) {
  ConsoleCapture console;
  port::sim::SimulatedService service;
  CMIDIManagerWin manager(service);
  const ProbeRun run = RunOver(service, manager, console);
  EXPECT_EQ(run.report, "\r\n\r\nNo midi devices found.\r\n");
  EXPECT_EQ(run.console, "");
}

TEST(Run, MixedPortsGiveTheExactReport) {
  ConsoleCapture console;
  port::sim::SimulatedService service;
  service.AddDevice("Unknown Synth", nullptr);
  InputFaults unreadable;
  unreadable.name = ResultScript::Always(port::kInvalParam);
  service.AddInput("Hidden", std::move(unreadable));
  InputFaults inUse;
  inUse.open = ResultScript::Always(port::kAllocated);
  service.AddInput("In Use", std::move(inUse));
  InputFaults odd;
  odd.open = ResultScript::Always(port::kInvalidHandle);
  service.AddInput("Odd", std::move(odd));
  service.AddInput("Twin");
  OutputFaults twinBusy;
  twinBusy.open = ResultScript::Always(port::kAllocated);
  service.AddOutput("Twin", std::move(twinBusy));
  service.AddOutput("Twin");
  service.AddInput("Blank");
  service.AddOutput("Blank ");
  service.AddDevice("X-TOUCH COMPACT", nullptr);

  CMIDIManagerWin manager(service);
  const ProbeRun run = RunOver(service, manager, console);
  const std::string log =
      "MIM_OPEN\nMIDI device found: Unknown Synth\n"
      "MIM_OPEN\nMIDI device found: \n"
      "Error opening midi\nMMSYSERR_ALLOCATED: The device is already in use.\n"
      "Error opening midi\nUnknown error code: 5\n"
      "MIM_OPEN\nMIDI device found: Twin\n"
      "MIM_OPEN\nMIDI device found: Blank\n"
      "MIM_OPEN\nMIDI device found: X-TOUCH COMPACT\n";
  EXPECT_EQ(run.report, log +
                            "\r\n\r\n"
                            "\"Unknown Synth\"\r\n"
                            "\"Twin\"\r\n"
                            "\"Blank\"\r\n"
                            "\"X-TOUCH COMPACT\" Supported by Veltrakon.\r\n"
                            "\r\n");
  std::string consoleLog = log;
  consoleLog.insert(consoleLog.find("MIDI device found: \n"), "MMSYSERR_INVALPARAM");
  EXPECT_EQ(run.console, consoleLog);
}

// A busy run captures megabytes; the report still holds all of it, then the
// summary.
TEST(Run, ReportOfALargeCaptureHoldsAllOfItThenTheSummary) {
  ConsoleCapture console;
  port::sim::SimulatedService service;
  CMIDIManagerWin manager(service);
  std::string logged;
  std::string report;
  app::RunProbe(
      manager,
      [&] {
        for (int i = 0; logged.size() < 2u * 1024 * 1024; ++i) {
          app::LogPrintf("got MIDI: %X %X %X\n", 0x90 | (i & 0x0F), (i >> 4) & 0x7F, i & 0x7F);
          char line[32];
          std::snprintf(line, sizeof line, "got MIDI: %X %X %X\n", 0x90 | (i & 0x0F), (i >> 4) & 0x7F, i & 0x7F);
          logged += line;
        }
      },
      [&](const app::ReportText& text) { report = text.Joined(); });
  EXPECT_TRUE(report == logged + "\r\n\r\nNo midi devices found.\r\n");
}

TEST(Run, LoggingAfterTheWaitDoesNotReachTheReport) {
  ConsoleCapture console;
  port::sim::SimulatedService service;
  CMIDIManagerWin manager(service);
  std::string report;
  app::RunProbe(
      manager, [] { app::LogPrintf("during the run\n"); },
      [&](const app::ReportText& joined) {
        const std::string text = joined.Joined();
        app::LogPrintf("after the copy\n");
        report = text;
      });
  EXPECT_EQ(report, "during the run\n\r\n\r\nNo midi devices found.\r\n");
}

// A console that takes nothing, as a pipe nobody reads: the run still ends,
// its report holds everything, and the run gives the console no more than
// its patience before it returns.
class StuckConsole final : public app::logsink::ConsoleWriter {
 public:
  StuckConsole() { app::logsink::SetConsoleWriter(this); }
  ~StuckConsole() override {
    Release();
    app::logsink::SetConsoleWriter(nullptr);
  }
  void Write(const char*, size_t) override {
    std::unique_lock<std::mutex> guard(lock);
    released.wait(guard, [this] { return free; });
  }
  void Release() {
    std::lock_guard<std::mutex> guard(lock);
    free = true;
    released.notify_all();
  }

 private:
  std::mutex lock;
  std::condition_variable released;
  bool free = false;
};

TEST(Run, AConsoleThatTakesNothingHoldsUpNeitherTheRunNorItsReport) {
  app::logsink::BeginCapture();
  StuckConsole console;
  port::sim::SimulatedService service;
  CMIDIManagerWin manager(service);
  std::string logged;
  std::string report;
  const int code = app::RunProbe(
      manager,
      [&] {
        // Four times what the console may hold back.
        for (int i = 0; logged.size() < 4 * app::logsink::kConsoleQueueLimit; ++i) {
          char line[32];
          std::snprintf(line, sizeof line, "got MIDI: %X %X %X\n", 0x90 | (i & 0x0F), (i >> 4) & 0x7F, i & 0x7F);
          app::LogPrintf("%s", line);
          logged += line;
        }
      },
      [&](const app::ReportText& text) { report = text.Joined(); });
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(report == logged + "\r\n\r\nNo midi devices found.\r\n");
  EXPECT_TRUE(app::logsink::ConsoleStuck());
  EXPECT_GT(app::logsink::ConsoleLinesLeftOut(), 0u);
}

// A port layer that lost some events of the ports it names, as a full
// hand-over queue would.
class LosingLayer final : public ForwardingService {
 public:
  LosingLayer(port::MidiService& inner, std::map<std::string, uint64_t> losses)
      : ForwardingService(inner), losses(std::move(losses)) {}
  port::Result OpenInput(unsigned index, port::InputCallback callback, uintptr_t context,
                         port::InputHandle& handle) override {
    const port::Result result = inner.OpenInput(index, callback, context, handle);
    std::string name;
    if (result == port::kNoError && inner.InputName(index, name) == port::kNoError) names[handle] = name;
    return result;
  }
  uint64_t LostInputEvents(port::InputHandle handle) override {
    const auto lost = losses.find(names[handle]);
    return lost == losses.end() ? 0 : lost->second;
  }

 private:
  std::map<std::string, uint64_t> losses;
  std::map<port::InputHandle, std::string> names;
};

TEST(Run, EventsALayerLostAreSaidPerDeviceJustBeforeTheSummary) {
  ConsoleCapture console;
  port::sim::SimulatedService service;
  service.AddDevice("Keyboard", nullptr);
  service.AddDevice("BCF2000",
                    std::make_shared<port::sim::BCController>(port::sim::BCController::BCF2000("BCF2000 Stage")));
  service.AddDevice("Pad", nullptr);
  LosingLayer layer(service, {{"Keyboard", 3}, {"BCF2000", 18446744073709551615ull}});
  CMIDIManagerWin manager(layer);
  std::string report;
  app::RunProbe(
      manager, [&] { WaitForQuiet(service, manager); }, [&](const app::ReportText& text) { report = text.Joined(); });
  // Named as the summary names them: the BCF2000 by the name it gave itself.
  const std::string lines =
      "3 MIDI events lost on \"Keyboard\".\n"
      "18446744073709551615 MIDI events lost on \"BCF2000 Stage\".\n";
  const std::string summary = "\r\n\r\n\"Keyboard\"\r\n\"BCF2000 Stage\" Supported by Veltrakon.\r\n\"Pad\"\r\n\r\n";
  ASSERT_GE(report.size(), lines.size() + summary.size());
  EXPECT_EQ(report.substr(report.size() - lines.size() - summary.size()), lines + summary) << report;
  EXPECT_EQ(console.Text().find(lines), console.Text().size() - lines.size()) << "on the console too";
}

} // namespace
