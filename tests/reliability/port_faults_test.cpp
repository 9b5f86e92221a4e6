// Port faults: every call of the port layer fails in turn, with each code
// the Windows service documents for it, during a whole run with a BCF2000,
// a nanoKONTROL2, an X-TOUCH MINI and a keyboard of no known family. The run
// always completes, the report holds what the tool says about that fault
// and nothing of what the fault prevented, port errors stay on the console,
// and (under AddressSanitizer) nothing leaks and no buffer is touched after
// it was given up.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>

#include "handlers/nano_kontrol.h"
#include "midi/held_buffers.h"
#include "midi/port/simulated/controllers/bc_controller.h"
#include "midi/port/simulated/controllers/nano_kontrol_controller.h"
#include "midi/port/simulated/controllers/scripted_controller.h"
#include "midi/port/simulated/controllers/xtouch_mini_controller.h"
#include "tests/support/holds_in_order.h"
#include "tests/support/probe_harness.h"

namespace {

using port::sim::ControllerEvent;
using port::sim::ResultScript;
using std::chrono::milliseconds;

constexpr int kHandledDevices = 3; // all but the keyboard have a handler
constexpr int kDevices = 4;
const char* const kPortNames[kDevices] = {"BCF2000", "nanoKONTROL2", "X-TOUCH MINI", "USB Keyboard"};

struct Faults {
  port::sim::InputFaults input;
  port::sim::OutputFaults output;
  bool outputs = true; // false: no output port of any device's name
};

void AddDevice(port::sim::SimulatedService& service, const std::string& name,
               std::shared_ptr<port::sim::VirtualController> model, const Faults& faults) {
  const unsigned input = service.AddInput(name, faults.input);
  int output = -1;
  if (faults.outputs) output = static_cast<int>(service.AddOutput(name, faults.output));
  service.Connect(std::move(model), static_cast<int>(input), output);
}

// The four devices in port order, each with its own faults.
void BuildScene(port::sim::SimulatedService& service, const std::array<Faults, kDevices>& faults) {
  AddDevice(service, kPortNames[0],
            std::make_shared<port::sim::BCController>(port::sim::BCController::BCF2000("BCF2000 Stage")), faults[0]);
  AddDevice(
      service, kPortNames[1],
      std::make_shared<port::sim::NanoKontrolController>(port::sim::NanoKontrolController::HoldingAnEditedScene()),
      faults[1]);
  AddDevice(service, kPortNames[2],
            std::make_shared<port::sim::XTouchMiniController>(
                std::vector<ControllerEvent>{port::sim::XTouchMiniController::Knob(0, 1, 70, milliseconds(1))}),
            faults[2]);
  std::vector<ControllerEvent> keyboard = {ControllerEvent::ShortMessage(0x90, 0x3C, 0x64, milliseconds(1))};
  for (const ControllerEvent& packet :
       port::sim::ScriptedController::SysExAsPackets({0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7})) {
    keyboard.push_back(packet);
  }
  AddDevice(service, kPortNames[3], std::make_shared<port::sim::ScriptedController>(std::move(keyboard)), faults[3]);
}

struct FaultyRun {
  ProbeRun run;
  int corruptedHeldSends = 0;
  // What reached a controller whose input could not answer yet.
  std::vector<std::string> earlyRequests;
};

FaultyRun RunWith(const std::array<Faults, kDevices>& faults) {
  FaultyRun result;
  port::sim::SimulatedService service;
  service.SetPausesSleep(false); // the retries are counted, not waited for
  BuildScene(service, faults);
  {
    ConsoleCapture console;
    CMIDIManagerWin manager(service);
    // A port that does not start, or takes no buffer, leaves its device's
    // first request early; each test says for which devices.
    result.run = RunOver(service, manager, console, EarlyRequests::Allowed);
  }
  service.Shutdown(); // a port holding sent bytes reads them once more
  result.corruptedHeldSends = service.CorruptedHeldSends();
  result.earlyRequests = service.EarlyRequests();
  return result;
}

using Lines = std::vector<std::string>;

// Each device's own lines, in the order that device causes them.
const Lines kBCRenamed = {"MIDI device found: BCF2000\n", "Send identiy request\r\n", "Got identity response\r\n",
                          "Updated device name: BCF2000 Stage"};
const Lines kSceneRewritten = {"MIDI device found: nanoKONTROL2\n", "current settings are bad!\n",
                               "data upload success!\n"};
const Lines kKnobTurned = {"MIDI device found: X-TOUCH MINI\n", "got MIDI: BA 1 46\n"};
const Lines kKeyboardPlayed = {"MIDI device found: USB Keyboard\n", "got MIDI: 90 3C 64\n",
                               "SysEx message received:\r\n{ 0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7,};\r\n"};
const Lines kSummary = {"\r\n\r\n\"BCF2000 Stage\" Supported by Veltrakon.\r\n",
                        "\"nanoKONTROL2\" Supported by Veltrakon.\r\n", "\"X-TOUCH MINI\" Supported by Veltrakon.\r\n",
                        "\"USB Keyboard\"\r\n\r\n"};
// The summary when no reply reached the BCF2000's handler.
const Lines kSummaryUnrenamed = {"\r\n\r\n\"BCF2000\" Supported by Veltrakon.\r\n",
                                 "\"nanoKONTROL2\" Supported by Veltrakon.\r\n",
                                 "\"X-TOUCH MINI\" Supported by Veltrakon.\r\n", "\"USB Keyboard\"\r\n\r\n"};

struct Expected {
  std::string exactReport;    // when the fault leaves nothing to chance
  std::vector<Lines> inOrder; // each list in order in the report
  Lines absent;               // in the report nowhere
  std::string console;        // console-only text, and how often
  int consoleCount = 0;
  int sendFailures = 0;      // "midi send failed!\n" lines
  size_t keptForThePort = 0; // buffers the port never gave back, kept for good
  size_t earlyRequests = 0;  // requests sent to a device whose input could not answer
};

// The run without faults, or with faults the tool rides out unseen.
Expected Unharmed() {
  return {"", {kBCRenamed, kSceneRewritten, kKnobTurned, kKeyboardPlayed, kSummary}, {}, "", 0, 0};
}

Expected UnharmedWithConsole(const std::string& console, int count) {
  Expected expected = Unharmed();
  expected.console = console;
  expected.consoleCount = count;
  return expected;
}

// Nothing the tool sends reaches a controller, so no dialogue has a reply.
Expected NothingSent(int sendFailures) {
  return {
      "",
      {{"MIDI device found: BCF2000\n", "Send identiy request\r\n"}, kKnobTurned, kKeyboardPlayed, kSummaryUnrenamed},
      {"Got identity response", "current settings are", "SysEx message received:\r\n{ 0xF0, 0x00"},
      "",
      0,
      sendFailures};
}

// Input without a long-message buffer: the replies are dropped by the port;
// System Exclusive in packets is still assembled. The first requests go out
// all the same, to input that cannot take their answers.
Expected NoLongMessages(port::Result code) {
  return {
      "",
      {{"MIDI device found: BCF2000\n", "Send identiy request\r\n"}, kKnobTurned, kKeyboardPlayed, kSummaryUnrenamed},
      {"Got identity response", "current settings are"},
      "MMSYSERR " + std::to_string(code),
      kHandledDevices,
      0,
      0,
      kHandledDevices};
}

std::string FoundUnnamed() {
  std::string report;
  for (int device = 0; device < kDevices; ++device) report += "MIM_OPEN\nMIDI device found: \n";
  return report + "\r\n\r\nNo midi devices found.\r\n";
}

struct PortFault {
  std::string name;
  std::function<void(Faults&)> apply;
  Expected expected;
};

void PrintTo(const PortFault& fault, std::ostream* out) {
  *out << fault.name;
}

std::vector<PortFault> Table() {
  std::vector<PortFault> rows;
  // Capabilities unreadable: every port is 'Z', found without a name and refused.
  for (port::Result code : {port::kBadDeviceId, port::kNoDriver, port::kNoMem, port::kInvalParam}) {
    const char* console = code == port::kBadDeviceId  ? "MMSYSERR_BADDEVICEID"
                          : code == port::kInvalParam ? "MMSYSERR_INVALPARAM"
                                                      : "MMSYSERR";
    rows.push_back(
        {"InputNameFailsWith" + std::to_string(code),
         [code](Faults& f) { f.input.name = ResultScript::Always(code); },
         {FoundUnnamed(), {}, {}, console, code == port::kBadDeviceId || code == port::kInvalParam ? kDevices : 0, 0}});
  }
  // Open refused: the code's line for every port, nothing listed.
  const std::pair<port::Result, const char*> openTexts[] = {
      {port::kBadDeviceId, "MMSYSERR_BADDEVICEID\n"},
      {port::kAllocated, "MMSYSERR_ALLOCATED: The device is already in use.\n"},
      {port::kNoMem, "MMSYSERR_NOMEM: Memory allocation error, or device already in use.\n"},
      {port::kInvalFlag, "MMSYSERR_INVALFLAG\n"},
      {port::kInvalParam, "MMSYSERR_INVALPARAM\n"},
      {port::kInvalidHandle, "Unknown error code: 5\n"},
  };
  for (const auto& [code, text] : openTexts) {
    std::string report;
    for (int device = 0; device < kDevices; ++device) report += std::string("Error opening midi\n") + text;
    rows.push_back({"OpenFailsWith" + std::to_string(code),
                    [code = code](Faults& f) { f.input.open = ResultScript::Always(code); },
                    {report + "\r\n\r\nNo midi devices found.\r\n", {}, {}, "", 0, 0}});
  }
  // Input never starts: the first requests go out, no reply comes in.
  rows.push_back({"StartFailsWith5",
                  [](Faults& f) { f.input.start = ResultScript::Always(port::kInvalidHandle); },
                  {"MIM_OPEN\nMIDI device found: BCF2000\nSend identiy request\r\n"
                   "MIM_OPEN\nMIDI device found: nanoKONTROL2\nMIM_OPEN\nMIDI device found: X-TOUCH MINI\n"
                   "MIM_OPEN\nMIDI device found: USB Keyboard\n\r\n\r\n"
                   "\"BCF2000\" Supported by Veltrakon.\r\n\"nanoKONTROL2\" Supported by Veltrakon.\r\n"
                   "\"X-TOUCH MINI\" Supported by Veltrakon.\r\n\"USB Keyboard\"\r\n\r\n",
                   {},
                   {},
                   "midiInStart MMSYSERR 5",
                   kDevices,
                   0,
                   0,
                   kHandledDevices}});
  // Stop refused after the report was taken: the running port keeps its
  // buffer, which is kept alive for it.
  Expected stopRefused = UnharmedWithConsole("midiInStop MMSYSERR 5", kDevices);
  stopRefused.keptForThePort = kHandledDevices;
  rows.push_back(
      {"StopFailsWith5", [](Faults& f) { f.input.stop = ResultScript::Always(port::kInvalidHandle); }, stopRefused});
  for (port::Result code : {port::kInvalidHandle, port::kNoMem, port::kInvalParam}) {
    rows.push_back({"PrepareInputFailsWith" + std::to_string(code),
                    [code](Faults& f) { f.input.prepare = ResultScript::Always(code); }, NoLongMessages(code)});
  }
  for (port::Result code : {port::kInvalidHandle, port::kInvalParam, port::kUnprepared, port::kStillPlaying}) {
    rows.push_back({"AddBufferFailsWith" + std::to_string(code),
                    [code](Faults& f) { f.input.addBuffer = ResultScript::Always(code); }, NoLongMessages(code)});
  }
  // The buffer is queued, but not given back after its first message: the
  // BCF2000's one reply arrives, the nanoKONTROL2's acknowledgement not.
  for (port::Result code : {port::kInvalidHandle, port::kInvalParam, port::kUnprepared, port::kStillPlaying}) {
    rows.push_back({"GiveBackFailsWith" + std::to_string(code),
                    [code](Faults& f) { f.input.addBuffer = ResultScript({port::kNoError}, code); },
                    {"",
                     {kBCRenamed,
                      {"MIDI device found: nanoKONTROL2\n", "current settings are bad!\n"},
                      kKnobTurned,
                      kKeyboardPlayed,
                      kSummary},
                     {"data upload"},
                     "midiInAddBuffer MMSYSERR " + std::to_string(code),
                     2,
                     0}});
  }
  for (port::Result code : {port::kInvalidHandle, port::kInvalParam, port::kStillPlaying}) {
    Expected refused = UnharmedWithConsole("midiInUnprepareHeader MMSYSERR " + std::to_string(code), kHandledDevices);
    refused.keptForThePort = kHandledDevices;
    rows.push_back({"UnprepareInputFailsWith" + std::to_string(code),
                    [code](Faults& f) { f.input.unprepare = ResultScript::Always(code); }, refused});
  }
  // No output of the input's name: sends are skipped without a word.
  for (port::Result code : {port::kBadDeviceId, port::kNoDriver, port::kNoMem, port::kInvalParam}) {
    rows.push_back({"OutputNameFailsWith" + std::to_string(code),
                    [code](Faults& f) { f.output.name = ResultScript::Always(code); }, NothingSent(0)});
  }
  for (port::Result code : {port::kBadDeviceId, port::kAllocated, port::kNoMem, port::kInvalParam}) {
    rows.push_back({"OutputOpenFailsWith" + std::to_string(code),
                    [code](Faults& f) { f.output.open = ResultScript::Always(code); }, NothingSent(0)});
  }
  rows.push_back({"OutputMissing", [](Faults& f) { f.outputs = false; }, NothingSent(0)});
  // A send whose header cannot be prepared is dropped without a word.
  for (port::Result code : {port::kInvalidHandle, port::kNoMem, port::kInvalParam}) {
    rows.push_back({"PrepareOutputFailsWith" + std::to_string(code),
                    [code](Faults& f) { f.output.prepare = ResultScript::Always(code); }, NothingSent(0)});
  }
  // Every first request fails: one line each for BCF2000, nanoKONTROL2 and X-TOUCH MINI.
  rows.push_back({"SendAlwaysBusy", [](Faults& f) { f.output.send = ResultScript::Always(port::kNotReady); },
                  NothingSent(kHandledDevices)});
  rows.push_back({"SendBusyTwentyTimesThenAccepted",
                  [](Faults& f) { f.output.send = ResultScript::FirstN(20, port::kNotReady); }, Unharmed()});
  for (port::Result code : {port::kInvalidHandle, port::kInvalParam, port::kUnprepared}) {
    rows.push_back({"SendFailsWith" + std::to_string(code),
                    [code](Faults& f) { f.output.send = ResultScript::Always(code); }, NothingSent(kHandledDevices)});
  }
  // The bytes went out; a port that keeps them only costs the sender time.
  // Each send's bytes are kept for good: the three first requests, the
  // nanoKONTROL2's image and its write request.
  Expected kept = Unharmed();
  kept.keptForThePort = 5;
  rows.push_back(
      {"ReleaseAlwaysRefused", [](Faults& f) { f.output.release = ResultScript::Always(port::kStillPlaying); }, kept});
  rows.push_back({"ReleaseRefusedNineTimes",
                  [](Faults& f) { f.output.release = ResultScript::FirstN(9, port::kStillPlaying); }, Unharmed()});
  for (port::Result code : {port::kInvalidHandle, port::kInvalParam}) {
    rows.push_back({"ReleaseFailsWith" + std::to_string(code),
                    [code](Faults& f) { f.output.release = ResultScript::Always(code); }, Unharmed()});
  }
  return rows;
}

int Count(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

class PortFaults : public testing::TestWithParam<PortFault> {};

TEST_P(PortFaults, RunCompletesAndReportsTheFault) {
  const PortFault& fault = GetParam();
  const Expected& expected = fault.expected;
  Faults faults;
  fault.apply(faults);
  const size_t retainedBefore = RetainedBlockCount();
  const FaultyRun result = RunWith({faults, faults, faults, faults});
  const ProbeRun& run = result.run;
  const int corruptedHeldSends = result.corruptedHeldSends;

  if (!expected.exactReport.empty()) {
    EXPECT_EQ(run.report, expected.exactReport);
  }
  for (const Lines& lines : expected.inOrder) EXPECT_TRUE(HoldsInOrder(run.report, lines)) << run.report;
  for (const std::string& line : expected.absent) EXPECT_EQ(run.report.find(line), std::string::npos) << line;
  EXPECT_EQ(Count(run.report, "midi send failed!\n"), expected.sendFailures);
  // Port errors are console text; the report never shows them.
  EXPECT_EQ(run.report.find("MMSYSERR "), std::string::npos);
  if (!expected.console.empty()) {
    EXPECT_EQ(Count(run.console, expected.console), expected.consoleCount) << run.console;
  }
  EXPECT_EQ(corruptedHeldSends, 0) << "bytes held by the port were changed or freed";
  EXPECT_EQ(RetainedBlockCount() - retainedBefore, expected.keptForThePort);
  EXPECT_EQ(result.earlyRequests.size(), expected.earlyRequests);
}

// A fault on one device's ports leaves the other devices' part of the
// report whole.
TEST(PortFaultsOnOneDevice, OtherDevicesAreUnharmed) {
  const std::vector<Lines> own = {kBCRenamed, kSceneRewritten, kKnobTurned, kKeyboardPlayed};
  const Lines summaryLines = {"\"BCF2000 Stage\" Supported by Veltrakon.\r\n",
                              "\"nanoKONTROL2\" Supported by Veltrakon.\r\n",
                              "\"X-TOUCH MINI\" Supported by Veltrakon.\r\n", "\"USB Keyboard\"\r\n"};
  const std::pair<const char*, std::function<void(Faults&)>> kinds[] = {
      {"open refused", [](Faults& f) { f.input.open = ResultScript::Always(port::kAllocated); }},
      {"name unreadable", [](Faults& f) { f.input.name = ResultScript::Always(port::kInvalParam); }},
      {"start refused", [](Faults& f) { f.input.start = ResultScript::Always(port::kInvalidHandle); }},
      {"no buffer", [](Faults& f) { f.input.prepare = ResultScript::Always(port::kNoMem); }},
      {"buffer not given back",
       [](Faults& f) { f.input.addBuffer = ResultScript({port::kNoError}, port::kStillPlaying); }},
      {"no output", [](Faults& f) { f.outputs = false; }},
      {"output always busy", [](Faults& f) { f.output.send = ResultScript::Always(port::kNotReady); }},
      {"bytes never released", [](Faults& f) { f.output.release = ResultScript::Always(port::kStillPlaying); }},
  };
  for (int faulty = 0; faulty < kDevices; ++faulty) {
    for (const auto& [kind, apply] : kinds) {
      SCOPED_TRACE(std::string(kind) + " on device " + std::to_string(faulty));
      std::array<Faults, kDevices> faults;
      apply(faults[static_cast<size_t>(faulty)]);
      const FaultyRun result = RunWith(faults);
      for (int device = 0; device < kDevices; ++device) {
        if (device == faulty) continue;
        EXPECT_TRUE(HoldsInOrder(result.run.report, own[static_cast<size_t>(device)])) << result.run.report;
        EXPECT_TRUE(HoldsInOrder(result.run.report, {"\r\n\r\n", summaryLines[static_cast<size_t>(device)]}));
      }
      // Only the faulty device's requests may find its input unready.
      const std::string faultyPort = kPortNames[static_cast<size_t>(faulty)];
      for (const std::string& early : result.earlyRequests) EXPECT_EQ(early.rfind(faultyPort + ":", 0), 0u) << early;
      EXPECT_EQ(result.corruptedHeldSends, 0);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EveryCallEveryCode, PortFaults, testing::ValuesIn(Table()),
                         [](const testing::TestParamInfo<PortFault>& info) { return info.param.name; });

} // namespace
