// The device manager and its records over the simulated service: opening,
// identification, pairing, attach, summary, stop and the send policy.
#include "midi/manager.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "handlers/nano_kontrol.h"
#include "midi/device.h"
#include "midi/held_buffers.h"
#include "midi/port/simulated/controllers/nano_kontrol_controller.h"
#include "midi/port/simulated/protocol_tables.h"
#include "midi/port/simulated/simulated_service.h"
#include "tests/support/console_capture.h"

namespace {

using port::sim::InputFaults;
using port::sim::OutputFaults;
using port::sim::ResultScript;

CMIDIDeviceWin* Listed(CMIDIManager& manager, size_t index) {
  return static_cast<CMIDIDeviceWin*>(manager.devices.at(index));
}

TEST(Manager, NoPortsLogsNothingAndSummaryReportsNoDevices) {
  ConsoleCapture console;
  port::sim::SimulatedService service;
  CMIDIManagerWin manager(service);
  manager.Start();
  EXPECT_FALSE(manager.started);
  std::string summary = "left over";
  manager.DescribeDevices(summary);
  EXPECT_EQ(summary, "No midi devices found.\r\n");
  manager.Stop();
  EXPECT_EQ(console.Text(), "");
  EXPECT_EQ(app::logsink::CaptureContents(), "");
}

TEST(Manager, OpenFailuresAreLoggedWithTheCodesText) {
  struct Case {
    port::Result code;
    const char* text;
  };
  const Case cases[] = {
      {2, "MMSYSERR_BADDEVICEID\n"},
      {4, "MMSYSERR_ALLOCATED: The device is already in use.\n"},
      {7, "MMSYSERR_NOMEM: Memory allocation error, or device already in use.\n"},
      {10, "MMSYSERR_INVALFLAG\n"},
      {11, "MMSYSERR_INVALPARAM\n"},
      {5, "Unknown error code: 5\n"},
      {67, "Unknown error code: 67\n"},
  };
  for (const Case& c : cases) {
    ConsoleCapture console;
    port::sim::SimulatedService service;
    InputFaults faults;
    faults.open = ResultScript::Always(c.code);
    service.AddInput("Port A", std::move(faults));
    CMIDIManagerWin manager(service);
    manager.Start();
    EXPECT_EQ(app::logsink::CaptureContents(), std::string("Error opening midi\n") + c.text) << c.code;
    EXPECT_FALSE(manager.started);
    EXPECT_TRUE(manager.devices.empty());
  }
}

TEST(Manager, UnreadablePortIsRefusedWithConsoleTextPerCode) {
  struct Case {
    port::Result code;
    const char* console;
  };
  const Case cases[] = {{11, "MMSYSERR_INVALPARAM"}, {2, "MMSYSERR_BADDEVICEID"}, {7, ""}, {1, ""}};
  for (const Case& c : cases) {
    ConsoleCapture console;
    port::sim::SimulatedService service;
    InputFaults faults;
    faults.name = ResultScript::Always(c.code);
    // Its events reach the callback although the port is never started:
    // only the detach keeps them from the record that is gone.
    faults.deliversWhileStopped = true;
    const unsigned input = service.AddInput("Hidden", std::move(faults));
    service.AddOutput("Hidden");
    CMIDIManagerWin manager(service);
    manager.Start();
    EXPECT_EQ(app::logsink::CaptureContents(), "MIM_OPEN\nMIDI device found: \n") << c.code;
    EXPECT_EQ(console.Text(), std::string("MIM_OPEN\n") + c.console + "MIDI device found: \n") << c.code;
    EXPECT_FALSE(manager.started);
    std::string summary;
    manager.DescribeDevices(summary);
    EXPECT_EQ(summary, "No midi devices found.\r\n");
    // The refused record is gone; events on its port must never reach it.
    service.Inject(input, port::sim::ControllerEvent::ShortMessage(0x90, 60, 100));
    service.WaitUntilIdle();
    EXPECT_EQ(service.Input(input).delivered, 1); // the open only
  }
}

TEST(Manager, OutputIsPairedByExactNameFirstThatOpens) {
  ConsoleCapture console;
  port::sim::SimulatedService service;
  service.AddInput("Twin");
  service.AddInput("Blank");
  service.AddInput("Lonely");
  service.AddOutput("Blank "); // one trailing blank: another port
  OutputFaults busy;
  busy.open = ResultScript::Always(port::kAllocated);
  service.AddOutput("Twin", std::move(busy));
  const unsigned twin = service.AddOutput("Twin");
  service.AddOutput("Twin");
  CMIDIManagerWin manager(service);
  manager.Start();
  ASSERT_EQ(manager.devices.size(), 3u);
  EXPECT_TRUE(Listed(manager, 0)->outputOpen);
  EXPECT_FALSE(Listed(manager, 1)->outputOpen);
  EXPECT_FALSE(Listed(manager, 2)->outputOpen);

  const uint8_t bytes[] = {0xF0, 0x01, 0xF7};
  for (size_t i = 0; i < 3; ++i) manager.SendSysEx(bytes, sizeof bytes, Listed(manager, i));
  for (unsigned output = 0; output < 4; ++output) {
    EXPECT_EQ(service.Output(output).messages.size(), output == twin ? 1u : 0u) << output;
  }
  EXPECT_EQ(app::logsink::CaptureContents(),
            "MIM_OPEN\nMIDI device found: Twin\nMIM_OPEN\nMIDI device found: Blank\n"
            "MIM_OPEN\nMIDI device found: Lonely\n");
}

TEST(Manager, UnknownDeviceIsListedUnsupportedWithoutBuffer) {
  ConsoleCapture console;
  port::sim::SimulatedService service;
  service.AddDevice("Port A", nullptr);
  service.AddDevice("MIDI Mix", nullptr);
  CMIDIManagerWin manager(service);
  manager.Start();
  EXPECT_TRUE(manager.started);
  ASSERT_EQ(manager.devices.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    const CMIDIDeviceWin* device = Listed(manager, i);
    EXPECT_EQ(device->handler, nullptr);
    EXPECT_EQ(device->inputHeader.lpData, nullptr);
    EXPECT_EQ(device->inputHeader.dwBufferLength, 0u);
    EXPECT_EQ(device->inputHeader.dwFlags, 0u);
  }
  EXPECT_EQ(Listed(manager, 0)->modelCode, 'X');
  EXPECT_EQ(Listed(manager, 1)->modelCode, 'B');
  std::string summary;
  manager.DescribeDevices(summary);
  EXPECT_EQ(summary, "\"Port A\"\r\n\"MIDI Mix\" Supported by Veltrakon.\r\n\r\n");
}

TEST(Manager, StartTwiceDoesNothingAndStopForgetsDevices) {
  ConsoleCapture console;
  port::sim::SimulatedService service;
  service.AddDevice("Port A", nullptr);
  CMIDIManagerWin manager(service);
  manager.Start();
  manager.Start();
  EXPECT_EQ(manager.devices.size(), 1u);
  manager.Stop();
  EXPECT_FALSE(manager.started);
  manager.Stop();
  EXPECT_FALSE(manager.started);
  std::string summary;
  manager.DescribeDevices(summary);
  EXPECT_EQ(summary, "No midi devices found.\r\n");
  EXPECT_EQ(app::logsink::CaptureContents(), "MIM_OPEN\nMIDI device found: Port A\n");
}

TEST(Manager, StopErrorsGoToTheConsoleOnly) {
  ConsoleCapture console;
  port::sim::SimulatedService service;
  InputFaults faults;
  faults.stop = ResultScript::Always(port::kInvalidHandle);
  service.AddInput("Port A", std::move(faults));
  CMIDIManagerWin manager(service);
  manager.Start();
  const std::string captured = app::logsink::CaptureContents();
  manager.Stop();
  EXPECT_EQ(app::logsink::CaptureContents(), captured);
  EXPECT_NE(console.Text().find("midiInStop MMSYSERR 5"), std::string::npos);
}

TEST(Manager, StartFailureIsPrintedAndDeviceStaysListed) {
  ConsoleCapture console;
  port::sim::SimulatedService service;
  InputFaults faults;
  faults.start = ResultScript::Always(port::kNoMem);
  service.AddInput("Port A", std::move(faults));
  CMIDIManagerWin manager(service);
  manager.Start();
  EXPECT_EQ(manager.devices.size(), 1u);
  EXPECT_TRUE(manager.started);
  EXPECT_EQ(console.Text(), "MIM_OPEN\nMIDI device found: Port A\nmidiInStart MMSYSERR 7");
}

// A listed device over a port with the given output faults, for sends.
struct SendBench {
  explicit SendBench(OutputFaults faults) {
    service.SetPausesSleep(false);
    service.AddInput("Port A");
    service.AddOutput("Port A", std::move(faults));
    manager.Start();
  }
  ConsoleCapture console;
  port::sim::SimulatedService service;
  CMIDIManagerWin manager{service};
};

// What a send becomes by what the port answers: tried again 20 times 10 ms
// apart while busy, reported when it failed, dropped without a word when
// it could not even be prepared.
TEST(ManagerSend, TheOutcomeFollowsWhatThePortAnswers) {
  const auto answering = [](ResultScript prepare, ResultScript send) {
    OutputFaults faults;
    faults.prepare = std::move(prepare);
    faults.send = std::move(send);
    return faults;
  };
  const struct {
    const char* what;
    OutputFaults faults;
    int sendCalls;
    int releaseCalls;
    bool delivered;
    size_t pauses;
    bool reported;
  } cases[] = {
      {"always busy", answering({}, ResultScript::Always(port::kNotReady)), 21, 1, false, 20, true},
      {"busy 20 times", answering({}, ResultScript::FirstN(20, port::kNotReady)), 21, 1, true, 20, false},
      {"failing otherwise", answering({}, ResultScript::Always(port::kError)), 1, 1, false, 0, true},
      {"prepare failing", answering(ResultScript::Always(port::kNoMem), {}), 0, 0, false, 0, false},
  };
  const uint8_t bytes[] = {0xF0, 0x01, 0xF7};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SendBench bench(c.faults);
    bench.manager.SendSysEx(bytes, sizeof bytes, Listed(bench.manager, 0));
    const port::sim::OutputRecord record = bench.service.Output(0);
    EXPECT_EQ(record.sendCalls, c.sendCalls);
    EXPECT_EQ(record.releaseCalls, c.releaseCalls);
    const std::vector<std::vector<uint8_t>> sent = {{bytes, bytes + 3}};
    EXPECT_EQ(record.messages, c.delivered ? sent : std::vector<std::vector<uint8_t>>{});
    EXPECT_EQ(bench.service.Pauses(), std::vector<unsigned>(c.pauses, 10));
    EXPECT_EQ(app::logsink::CaptureContents(),
              std::string("MIM_OPEN\nMIDI device found: Port A\n") + (c.reported ? "midi send failed!\n" : ""));
  }
}

TEST(ManagerSend, RefusedReleaseIsTriedTenTimesAndBytesOutliveTheCall) {
  OutputFaults faults;
  faults.release = ResultScript::Always(port::kStillPlaying);
  SendBench bench(std::move(faults));
  const size_t retainedBefore = RetainedBlockCount();
  {
    // The caller's bytes go out of scope at once; the port must not care.
    auto bytes = std::make_unique<uint8_t[]>(4);
    const uint8_t message[] = {0xF0, 0x7E, 0x01, 0xF7};
    std::copy(message, message + 4, bytes.get());
    bench.manager.SendSysEx(bytes.get(), 4, Listed(bench.manager, 0));
    std::fill(bytes.get(), bytes.get() + 4, 0);
  }
  const port::sim::OutputRecord record = bench.service.Output(0);
  EXPECT_EQ(record.releaseCalls, 10);
  EXPECT_EQ(bench.service.Pauses(), std::vector<unsigned>(10, 10));
  EXPECT_EQ(RetainedBlockCount(), retainedBefore + 1);
  bench.service.Shutdown(); // the port reads the held bytes once more
  EXPECT_EQ(bench.service.CorruptedHeldSends(), 0);
  EXPECT_EQ(app::logsink::CaptureContents(), "MIM_OPEN\nMIDI device found: Port A\n");
}

TEST(ManagerSend, ReleaseGrantedLateNeedsNoRetention) {
  OutputFaults faults;
  faults.release = ResultScript::FirstN(9, port::kStillPlaying);
  SendBench bench(std::move(faults));
  const size_t retainedBefore = RetainedBlockCount();
  const uint8_t bytes[] = {0xF0, 0x01, 0xF7};
  bench.manager.SendSysEx(bytes, sizeof bytes, Listed(bench.manager, 0));
  EXPECT_EQ(bench.service.Output(0).releaseCalls, 10);
  EXPECT_EQ(bench.service.Pauses().size(), 9u);
  EXPECT_EQ(RetainedBlockCount(), retainedBefore);
}

// The controller answers the first request at once, while the main thread
// is still waiting for the port to give that request's bytes back (nine
// refusals, 90 ms): the handler's answer to the reply waits for the first
// send to end instead of running beside it, and the dialogue completes.
TEST(ManagerSend, ADevicesSendsNeverOverlapWhenAReplyComesDuringTheFirst) {
  ConsoleCapture console;
  port::sim::SimulatedService service;
  OutputFaults slowRelease;
  slowRelease.release = ResultScript::FirstN(9, port::kStillPlaying);
  service.AddInput("nanoKONTROL2");
  service.AddOutput("nanoKONTROL2", std::move(slowRelease));
  auto nano =
      std::make_shared<port::sim::NanoKontrolController>(port::sim::NanoKontrolController::HoldingAnEditedScene());
  service.Connect(nano, 0, 0);
  CMIDIManagerWin manager(service);
  manager.Start();
  service.WaitUntilIdle();
  const port::sim::OutputRecord output = service.Output(0);
  EXPECT_EQ(output.overlappingSends, 0);
  ASSERT_EQ(output.messages.size(), 3u); // dump request, image, write request
  EXPECT_EQ(output.messages[2], std::vector<uint8_t>(port::sim::protocol::kNanoKontrolWriteRequest.begin(),
                                                     port::sim::protocol::kNanoKontrolWriteRequest.end()));
  EXPECT_EQ(nano->WriteRequests(), 1);
  EXPECT_EQ(static_cast<CKorgNanoControl*>(Listed(manager, 0)->handler)->state, CKorgNanoControl::Idle);
  EXPECT_TRUE(service.EarlyRequests().empty());
  manager.Stop();
}

// A manager that sends its own way: it keeps what it is asked to send.
class OwnSendManager final : public CMIDIManagerWin {
 public:
  using CMIDIManagerWin::CMIDIManagerWin;
  void SendSysEx(const uint8_t* bytes, uint16_t length, CMIDIDeviceWin* device) override {
    sent.emplace_back(bytes, bytes + length);
    to.push_back(device);
  }
  std::vector<std::vector<uint8_t>> sent;
  std::vector<CMIDIDeviceWin*> to;
};

// The forward is the send by another name, reached through the manager's
// own SendSysEx, whatever manager that is.
TEST(ManagerSend, ForwardGoesThroughTheManagersOwnSend) {
  ConsoleCapture console;
  port::sim::SimulatedService service;
  service.AddInput("Port A");
  service.AddOutput("Port A");
  OwnSendManager manager(service);
  manager.Start();
  CMIDIDeviceWin* device = Listed(manager, 0);
  const uint8_t bytes[] = {0xF0, 0x02, 0xF7};
  CMIDIManager& asTheHandlersSeeIt = manager;
  asTheHandlersSeeIt.SendSysExForward(bytes, sizeof bytes, device);
  EXPECT_EQ(manager.sent, (std::vector<std::vector<uint8_t>>{{0xF0, 0x02, 0xF7}}));
  EXPECT_EQ(manager.to, std::vector<CMIDIDeviceWin*>{device});
  EXPECT_TRUE(service.Output(0).messages.empty()) << "the forward went round the manager's own send";
}

TEST(ManagerSend, ForwardOfTheServiceManagerReachesThePort) {
  SendBench bench{OutputFaults{}};
  const uint8_t bytes[] = {0xF0, 0x02, 0xF7};
  bench.manager.SendSysExForward(bytes, sizeof bytes, Listed(bench.manager, 0));
  EXPECT_EQ(bench.service.Output(0).messages, (std::vector<std::vector<uint8_t>>{{0xF0, 0x02, 0xF7}}));
}

} // namespace

namespace {

// Input stops before its buffer is asked back; a port still running would
// refuse a queued buffer and the console would say so.
TEST(ManagerStop, StopsInputThenReleasesBuffersWithoutComplaint) {
  ConsoleCapture console;
  port::sim::SimulatedService service;
  service.AddDevice("BCF2000", nullptr);
  service.AddDevice("Port A", nullptr);
  CMIDIManagerWin manager(service);
  manager.Start();
  CMIDIDeviceWin* bc = Listed(manager, 0);
  ASSERT_NE(bc->inputHeader.dwFlags & port::kHeaderInQueue, 0u);
  const std::string before = console.Text();
  manager.Stop();
  EXPECT_EQ(console.Text(), before);
  EXPECT_EQ(bc->inputHeader.dwFlags & (port::kHeaderInQueue | port::kHeaderPrepared), 0u);
  EXPECT_NE(bc->inputHeader.lpData, nullptr) << "the buffer stays allocated";
}

TEST(ManagerStop, ReleaseFailureIsPrintedOnTheConsoleOnly) {
  ConsoleCapture console;
  port::sim::SimulatedService service;
  InputFaults faults;
  faults.unprepare = ResultScript::Always(port::kInvalParam);
  service.AddInput("BCF2000", std::move(faults));
  CMIDIManagerWin manager(service);
  manager.Start();
  const std::string captured = app::logsink::CaptureContents();
  manager.Stop();
  EXPECT_EQ(app::logsink::CaptureContents(), captured);
  EXPECT_NE(console.Text().find("midiInUnprepareHeader MMSYSERR 11"), std::string::npos);
}

} // namespace
