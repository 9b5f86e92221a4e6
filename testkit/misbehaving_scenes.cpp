#include "testkit/misbehaving_scenes.h"

#include <deque>
#include <functional>
#include <map>
#include <memory>

#include "midi/port/simulated/controllers/bc_controller.h"
#include "midi/port/simulated/controllers/nano_kontrol_controller.h"
#include "midi/port/simulated/controllers/scripted_controller.h"
#include "midi/port/simulated/controllers/twister_controller.h"
#include "testkit/controllers/garbling_controller.h"
#include "testkit/controllers/reply_flood_controller.h"
#include "testkit/controllers/runaway_sysex_controller.h"
#include "testkit/flood.h"

namespace testkit {

using namespace port::sim;

const char kHostileBCPortName[] = "BCF2000 \x1B[2J\x1B]0;pwned\x07";
const char kHostileKeyboardPortName[] =
    "Keyboard \xC2\x9B"
    "31m\r\xFF\xFE";
namespace {
// Data bytes only: a byte from 80 up inside System Exclusive is a status byte
// that ends the message on the wire, so C1 controls can come only in names.
const char kHostileIdentityBytes[] =
    "Stage\x1B[31m\r\x08"
    "6n\x7F\x00hidden";
} // namespace
const std::string kHostileIdentityText(kHostileIdentityBytes, sizeof kHostileIdentityBytes - 1);

namespace {

using std::chrono::milliseconds;
using Garble = GarblingController::Garble;
using Transport = RunawaySysExController::Transport;

std::shared_ptr<BCController> BCF2000() {
  return std::make_shared<BCController>(BCController::BCF2000("BCF2000 Stage"));
}

std::shared_ptr<NanoKontrolController> NanoWithEditedScene() {
  return std::make_shared<NanoKontrolController>(NanoKontrolController::HoldingAnEditedScene());
}

void BuildRunawaySysEx(SimulatedService& service) {
  const std::vector<ControllerEvent> note = {ControllerEvent::ShortMessage(0x90, 0x3C, 0x64)};
  const std::vector<ControllerEvent> notes = {ControllerEvent::ShortMessage(0x90, 0x40, 0x7F),
                                              ControllerEvent::ShortMessage(0x80, 0x40, 0x00)};
  // Past the longest message that can be delivered: dropped once, and
  // everything after it skipped while the end is awaited.
  service.AddDevice("Runaway Keyboard", std::make_shared<RunawaySysExController>(RunawaySysExController::Settings{
                                            120000, false, Transport::Packets, note, notes}));
  // Short of it: still assembling at the end of the run, its notes swallowed.
  service.AddDevice("Unfinished Keyboard", std::make_shared<RunawaySysExController>(RunawaySysExController::Settings{
                                               3000, false, Transport::Packets, note, notes}));
}

void BuildOversizedSysEx(SimulatedService& service) {
  const std::vector<ControllerEvent> afterPackets = {ControllerEvent::ShortMessage(0x90, 0x3C, 0x64),
                                                     ControllerEvent::ShortMessage(0xF0, 0x01, 0xF7)};
  service.AddDevice("Oversized Keyboard", std::make_shared<RunawaySysExController>(RunawaySysExController::Settings{
                                              100000, true, Transport::Packets, {}, afterPackets}));
  // A device with a handler has a buffer: the port cuts the message into it.
  service.AddDevice("Midi Fighter Twister",
                    std::make_shared<RunawaySysExController>(RunawaySysExController::Settings{
                        100000, true, Transport::LongMessage, {}, {TwisterController::Encoder(4, 65)}}));
}

void BuildGarbageReplies(SimulatedService& service) {
  service.AddDevice("BCF2000", std::make_shared<GarblingController>(BCF2000(), Garble::Garbage, 7));
  service.AddDevice("nanoKONTROL2", std::make_shared<GarblingController>(NanoWithEditedScene(), Garble::Garbage, 11));
}

void BuildWrongLengthReplies(SimulatedService& service) {
  service.AddDevice("BCF2000", std::make_shared<GarblingController>(BCF2000(), Garble::Truncated));
  service.AddDevice("BCR2000",
                    std::make_shared<GarblingController>(
                        std::make_shared<BCController>(BCController::BCR2000("BCR2000 Stage")), Garble::Stretched));
  service.AddDevice("nanoKONTROL2 1", std::make_shared<GarblingController>(NanoWithEditedScene(), Garble::Truncated));
  service.AddDevice("nanoKONTROL2 2", std::make_shared<GarblingController>(NanoWithEditedScene(), Garble::Stretched));
}

void BuildReplyFlood(SimulatedService& service) {
  service.AddDevice("BCF2000", std::make_shared<ReplyFloodController>(BCF2000(), 1000));
  // Every send waits out two busy answers (two 10 ms pauses) while the
  // answers to the last one pile up.
  std::deque<port::Result> busyTwice;
  for (int send = 0; send < 20; ++send) busyTwice.insert(busyTwice.end(), {port::kNotReady, port::kNotReady, 0});
  OutputFaults slow;
  slow.send = ResultScript(std::move(busyTwice), port::kNoError);
  const unsigned input = service.AddInput("nanoKONTROL2");
  const unsigned output = service.AddOutput("nanoKONTROL2", std::move(slow));
  service.Connect(std::make_shared<ReplyFloodController>(NanoWithEditedScene(), 50), static_cast<int>(input),
                  static_cast<int>(output));
}

void BuildHostileNames(SimulatedService& service) {
  service.AddDevice(kHostileBCPortName, std::make_shared<BCController>(BCController::BCF2000(kHostileIdentityText)));
  service.AddDevice(kHostileKeyboardPortName, std::make_shared<ScriptedController>(std::vector<ControllerEvent>{
                                                  ControllerEvent::ShortMessage(0x90, 0x3C, 0x64)}));
}

// Calls that never return, as the current Windows service's known hangs do:
// the run must still end with a report.
void BuildHungOpen(SimulatedService& service) {
  service.AddDevice("BCF2000", BCF2000());
  InputFaults stuck;
  stuck.open = ResultScript::FirstN(1, kNeverReturns);
  service.AddInput("Stuck Port", std::move(stuck));
}

void BuildHungStart(SimulatedService& service) {
  InputFaults stuck;
  stuck.start = ResultScript::FirstN(1, kNeverReturns);
  const unsigned input = service.AddInput("nanoKONTROL2", std::move(stuck));
  const unsigned output = service.AddOutput("nanoKONTROL2");
  service.Connect(NanoWithEditedScene(), static_cast<int>(input), static_cast<int>(output));
}

void BuildHungSend(SimulatedService& service) {
  OutputFaults stuck;
  stuck.send = ResultScript::FirstN(1, kNeverReturns);
  const unsigned input = service.AddInput("BCF2000");
  const unsigned output = service.AddOutput("BCF2000", std::move(stuck));
  service.Connect(BCF2000(), static_cast<int>(input), static_cast<int>(output));
}

} // namespace

bool BuildMisbehavingScenario(const std::string& name, SimulatedService& service) {
  static const std::map<std::string, std::function<void(SimulatedService&)>> kScenarios = {
      {"flood", [](SimulatedService& service) { flood::Add(service, flood::FullSpeed(milliseconds(5000))); }},
      {"runaway-sysex", BuildRunawaySysEx},
      {"oversized-sysex", BuildOversizedSysEx},
      {"garbage-replies", BuildGarbageReplies},
      {"wrong-length-replies", BuildWrongLengthReplies},
      {"reply-flood", BuildReplyFlood},
      {"hostile-names", BuildHostileNames},
      {"hung-open", BuildHungOpen},
      {"hung-start", BuildHungStart},
      {"hung-send", BuildHungSend},
  };
  const auto scenario = kScenarios.find(name);
  if (scenario == kScenarios.end()) return false;
  scenario->second(service);
  return true;
}

std::vector<std::string> MisbehavingScenarioNames() {
  return {"flood",       "runaway-sysex", "oversized-sysex", "garbage-replies", "wrong-length-replies",
          "reply-flood", "hostile-names", "hung-open",       "hung-start",      "hung-send"};
}

} // namespace testkit
