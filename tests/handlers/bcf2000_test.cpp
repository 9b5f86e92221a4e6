// The BCF2000 / BCR2000 identity dialogue, alone and over a whole run.
#include "handlers/bcf2000.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <regex>
#include <thread>

#include "midi/device.h"
#include "midi/port/simulated/controllers/bc_controller.h"
#include "tests/support/probe_harness.h"

namespace {

using port::sim::BCController;

// Stopwatch figures differ from run to run; everything else must not.
std::string WithoutTimes(const std::string& text) {
  static const std::regex kTimes("Run Time: [0-9]+\\.[0-9]{6}  Interval Time: [0-9]+\\.[0-9]{6}");
  return std::regex_replace(text, kTimes, "Run Time: T  Interval Time: T");
}

std::vector<uint8_t> Reply(uint8_t device, uint8_t model, const std::string& text, uint8_t command = 0x02) {
  std::vector<uint8_t> reply = {0xF0, 0x00, 0x20, 0x32, device, model, command};
  for (char c : text) reply.push_back(static_cast<uint8_t>(c));
  reply.push_back(0xF7);
  return reply;
}

// A started CBCF2000 on a record over a simulated port, fed by hand.
struct HandlerBench {
  HandlerBench() {
    service.AddDevice("BCF2000", nullptr);
    manager.Start(); // attaches a CBCF2000, which sends its request
    device = static_cast<CMIDIDeviceWin*>(manager.devices.at(0));
    handler = static_cast<CBCF2000*>(device->handler);
    app::logsink::BeginCapture();
  }
  void Feed(const std::vector<uint8_t>& bytes) { handler->OnSysEx(bytes.data(), static_cast<uint16_t>(bytes.size())); }

  ConsoleCapture console;
  port::sim::SimulatedService service;
  CMIDIManagerWin manager{service};
  CMIDIDeviceWin* device = nullptr;
  CBCF2000* handler = nullptr;
};

TEST(BCIdentity, RequestIsLoggedThenSentExactly) {
  HandlerBench bench;
  ASSERT_NE(bench.handler, nullptr);
  EXPECT_TRUE(bench.handler->awaitingIdentity);
  EXPECT_EQ(bench.handler->GetSysExBufferSize(), 512u);
  const port::sim::OutputRecord output = bench.service.Output(0);
  ASSERT_EQ(output.messages.size(), 1u);
  EXPECT_EQ(output.messages[0], std::vector<uint8_t>({0xF0, 0x00, 0x20, 0x32, 0x00, 0x7F, 0x01, 0xF7}));
}

TEST(BCIdentity, BothModelsGetTheHandler) {
  ConsoleCapture console;
  port::sim::SimulatedService service;
  service.AddInput("USB BCR2000 port 1");
  service.AddInput("BCF2000 (2)");
  service.AddInput("MIDI Mix");
  CMIDIManagerWin manager(service);
  manager.Start();
  ASSERT_EQ(manager.devices.size(), 3u);
  EXPECT_NE(dynamic_cast<CBCF2000*>(manager.devices[0]->handler), nullptr);
  EXPECT_NE(dynamic_cast<CBCF2000*>(manager.devices[1]->handler), nullptr);
  EXPECT_EQ(manager.devices[2]->handler, nullptr);
  // Handled devices get a queued 512-byte buffer, the others none.
  EXPECT_EQ(static_cast<CMIDIDeviceWin*>(manager.devices[0])->inputHeader.dwBufferLength, 512u);
  EXPECT_EQ(static_cast<CMIDIDeviceWin*>(manager.devices[2])->inputHeader.dwBufferLength, 0u);
}

struct ReplyCase {
  const char* what;
  std::vector<uint8_t> reply;
  const char* log; // what the handler adds to the log
  const char* name;
  char modelCode;
  bool stillAwaiting;
};

TEST(BCIdentity, RepliesAreJudgedByHeaderAndLength) {
  const ReplyCase cases[] = {
      {"BCF2000 with a name", Reply(0x00, 0x14, "My BCF"),
       "Got identity response\r\nRun Time: T  Interval Time: T\r\nUpdated device name: My BCF", "My BCF", 'G', false},
      {"BCR2000 answers on a BCF2000 port", Reply(0x00, 0x15, "Studio BCR"),
       "Got identity response\r\nRun Time: T  Interval Time: T\r\nUpdated device name: Studio BCR", "Studio BCR", 'H',
       false},
      {"eight bytes: no text", Reply(0x00, 0x14, ""),
       "Got identity response\r\nRun Time: T  Interval Time: T\r\nBad response, no device name.", "BCF2000", 'G',
       false},
      {"ten bytes: still no name", Reply(0x00, 0x15, "ab"),
       "Got identity response\r\nRun Time: T  Interval Time: T\r\nBad response, no device name.", "BCF2000", 'H',
       false},
      {"eleven bytes: three characters", Reply(0x00, 0x14, "abc"),
       "Got identity response\r\nRun Time: T  Interval Time: T\r\nUpdated device name: abc", "abc", 'G', false},
      {"another device number", Reply(0x01, 0x14, "Other"),
       "Got identity response\r\nRun Time: T  Interval Time: T\r\n", "BCF2000", 'G', true},
      {"another model byte", Reply(0x00, 0x16, "Other"), "Got identity response\r\nRun Time: T  Interval Time: T\r\n",
       "BCF2000", 'G', true},
      {"a request, not a reply", Reply(0x00, 0x14, "Other", 0x01),
       "Got identity response\r\nRun Time: T  Interval Time: T\r\n", "BCF2000", 'G', true},
      {"seven bytes leave no trace", {0xF0, 0x00, 0x20, 0x32, 0x00, 0x14, 0xF7}, "", "BCF2000", 'G', true},
  };
  for (const ReplyCase& c : cases) {
    HandlerBench bench;
    app::LogStopwatch(); // the request's mark, as in a run
    bench.Feed(c.reply);
    EXPECT_EQ(WithoutTimes(app::logsink::CaptureContents()), c.log) << c.what;
    EXPECT_EQ(bench.device->name.Get(), c.name) << c.what;
    EXPECT_EQ(bench.device->modelCode, c.modelCode) << c.what;
    EXPECT_EQ(bench.handler->awaitingIdentity, c.stillAwaiting) << c.what;
  }
}

TEST(BCIdentity, OnlyTheFirstAcceptedReplyCounts) {
  HandlerBench bench;
  bench.Feed(Reply(0x00, 0x14, ""));
  const std::string afterFirst = app::logsink::CaptureContents();
  bench.Feed(Reply(0x00, 0x15, "Second"));
  EXPECT_EQ(app::logsink::CaptureContents(), afterFirst);
  EXPECT_EQ(bench.device->name.Get(), "BCF2000");
  EXPECT_EQ(bench.device->modelCode, 'G');
}

TEST(BCIdentity, IdentityTextIsStoredAsItIs) {
  HandlerBench bench;
  bench.Feed(Reply(0x00, 0x14, std::string("ab\0cd", 5)));
  EXPECT_EQ(bench.device->name.Get(), std::string("ab\0cd", 5));
  // The log line and the summary show the name up to its zero byte.
  EXPECT_EQ(WithoutTimes(app::logsink::CaptureContents()), "Got identity response\r\nUpdated device name: ab");
  std::string summary;
  bench.manager.DescribeDevices(summary);
  EXPECT_EQ(summary, "\"ab\" Supported by Veltrakon.\r\n\r\n");
}

TEST(BCIdentityRun, PortNamedBCF2000AnsweringAsBCR2000EndsRenamed) {
  ConsoleCapture console;
  port::sim::SimulatedService service;
  service.AddDevice("BCF2000", std::make_shared<BCController>(BCController::BCR2000("BCR Desk")));
  CMIDIManagerWin manager(service);
  const ProbeRun run = RunOver(service, manager, console);
  EXPECT_EQ(WithoutTimes(run.report),
            "MIM_OPEN\n"
            "MIDI device found: BCF2000\n"
            "Send identiy request\r\n"
            "SysEx message received:\r\n"
            "{ 0xF0, 0x00, 0x20, 0x32, 0x00, 0x15, 0x02, 0x42, 0x43, 0x52, 0x20, 0x44, 0x65, 0x73, 0x6B, 0xF7,};\r\n"
            "Got identity response\r\n"
            "Run Time: T  Interval Time: T\r\n"
            "Updated device name: BCR Desk"
            "\r\n\r\n"
            "\"BCR Desk\" Supported by Veltrakon.\r\n"
            "\r\n");
  // The request armed the stopwatch, so the reply's line shows run time
  // equal to its interval.
  const std::regex equalTimes("Run Time: ([0-9.]+)  Interval Time: \\1\r\n");
  EXPECT_TRUE(std::regex_search(run.report, equalTimes)) << run.report;
  EXPECT_EQ(manager.devices.size(), 0u); // stopped
  EXPECT_EQ(service.Output(0).messages.size(), 1u);
}

TEST(BCIdentityRun, SilentControllerLeavesPortName) {
  ConsoleCapture console;
  port::sim::SimulatedService service;
  BCController::Identity silent = BCController::BCF2000();
  silent.reply = BCController::Reply::None;
  service.AddDevice("BCF2000", std::make_shared<BCController>(silent));
  CMIDIManagerWin manager(service);
  const ProbeRun run = RunOver(service, manager, console);
  EXPECT_EQ(run.report,
            "MIM_OPEN\nMIDI device found: BCF2000\nSend identiy request\r\n\r\n\r\n"
            "\"BCF2000\" Supported by Veltrakon.\r\n\r\n");
}

TEST(BCIdentityRun, NextLogLineContinuesAfterTheRename) {
  ConsoleCapture console;
  port::sim::SimulatedService service;
  auto controller = std::make_shared<BCController>(BCController::BCF2000("Desk"));
  service.AddDevice("BCF2000", controller);
  CMIDIManagerWin manager(service);
  manager.Start();
  service.WaitUntilIdle();
  service.Inject(0, port::sim::ControllerEvent::ShortMessage(0x90, 0x01, 0x02));
  service.WaitUntilIdle();
  EXPECT_NE(app::logsink::CaptureContents().find("Updated device name: Deskgot MIDI: 90 1 2\n"), std::string::npos);
}

// The input thread renames devices while the main thread writes summaries;
// under ThreadSanitizer this proves the rename safe.
TEST(BCIdentityRun, RenameWhileSummaryIsWrittenIsRaceFree) {
  ConsoleCapture console;
  port::sim::SimulatedService service;
  constexpr int kDevices = 12;
  for (int i = 0; i < kDevices; ++i) {
    service.AddDevice("BCF2000 #" + std::to_string(i),
                      std::make_shared<BCController>(BCController::BCF2000("Renamed " + std::to_string(i))));
  }
  CMIDIManagerWin manager(service);
  manager.Start();
  int renamed = 0;
  while (renamed < kDevices) {
    std::string summary;
    manager.DescribeDevices(summary);
    renamed = 0;
    for (size_t at = summary.find("\"Renamed "); at != std::string::npos; at = summary.find("\"Renamed ", at + 1))
      ++renamed;
    std::this_thread::yield();
  }
  service.WaitUntilIdle();
  std::string summary;
  manager.DescribeDevices(summary);
  EXPECT_EQ(summary.find("\"BCF2000 #"), std::string::npos);
  manager.Stop();
}

} // namespace
