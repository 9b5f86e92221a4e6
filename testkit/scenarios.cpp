#include "testkit/scenarios.h"

#include <cstdio>
#include <functional>
#include <map>
#include <memory>

#include "midi/port/simulated/controllers/bc_controller.h"
#include "midi/port/simulated/controllers/nano_kontrol_controller.h"
#include "midi/port/simulated/controllers/scripted_controller.h"
#include "midi/port/simulated/controllers/twister_controller.h"
#include "midi/port/simulated/controllers/xtouch_mini_controller.h"
#include "midi/port/simulated/demo_scene.h"
#include "testkit/controllers/unplugging_controller.h"
#include "testkit/flood.h"
#include "testkit/misbehaving_scenes.h"

namespace testkit {

using namespace port::sim;

namespace {

using std::chrono::milliseconds;

using NanoAck = NanoKontrolController::Ack;

NanoKontrolController::Settings RequiredScene() {
  return NanoKontrolController::HoldingTheRequiredScene();
}

// One byte of the body differs, as after the user reassigned a control.
NanoKontrolController::Settings EditedScene() {
  return NanoKontrolController::HoldingAnEditedScene();
}

// Ten failures of both kinds, with accepted uploads between them; the
// dialogue gives up after the tenth.
NanoKontrolController::Settings FailingScene() {
  NanoKontrolController::Settings settings = EditedScene();
  // One row per upload: its answer and, once accepted, the write's.
  settings.acks = {
      NanoAck::Negative,                    // upload 1 refused: failure 1
      NanoAck::Good,     NanoAck::Negative, // upload 2, write refused: 2
      NanoAck::TooShort,                    // upload 3: 3
      NanoAck::Good,     NanoAck::TooShort, // upload 4, write: 4
      NanoAck::Negative,                    // upload 5: 5
      NanoAck::Good,     NanoAck::Negative, // upload 6, write: 6
      NanoAck::Negative,                    // upload 7: 7
      NanoAck::Good,     NanoAck::Negative, // upload 8, write: 8
      NanoAck::TooShort,                    // upload 9: 9
      NanoAck::Good,     NanoAck::Negative, // upload 10, write: 10, given up
  };
  return settings;
}

// A BCF2000 that answers its identity request with a name of its own.
void BuildRenamingBCF2000(SimulatedService& service) {
  service.AddDevice("BCF2000", std::make_shared<BCController>(BCController::BCF2000("BCF2000 Stage")));
}

// A controller of no known family, with a name beyond ASCII, that sends one
// event of every kind the input path knows, far enough apart that the
// activity worker's lines fall between them in a fixed order.
void BuildUnknownPort(SimulatedService& service) {
  std::vector<ControllerEvent> script = {
      ControllerEvent::ShortMessage(0x90, 0x3C, 0x64, milliseconds(300)),
      ControllerEvent::ShortMessage(0x80, 0x3C, 0x00, milliseconds(400)),
      ControllerEvent::ShortMessage(0xB0, 0x07, 0x64, milliseconds(250)),
      ControllerEvent::ShortMessage(0xE0, 0x00, 0x40, milliseconds(250)),
      // No handler, so no long-message buffer: the port drops this one.
      ControllerEvent::SysExMessage({0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}, milliseconds(250)),
  };
  std::vector<ControllerEvent> packets = ScriptedController::SysExAsPackets({0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7});
  packets.front().delay = milliseconds(250);
  script.insert(script.end(), packets.begin(), packets.end());
  ControllerEvent broken;
  broken.kind = ControllerEvent::Kind::InvalidShort;
  broken.word = ShortWord(0xF4);
  broken.delay = milliseconds(250);
  script.push_back(broken);
  ControllerEvent moreData;
  moreData.kind = ControllerEvent::Kind::RawEvent;
  moreData.word = port::kEventMoreData;
  moreData.delay = milliseconds(250);
  script.push_back(moreData);
  ControllerEvent close;
  close.kind = ControllerEvent::Kind::Close;
  close.delay = milliseconds(250);
  script.push_back(close);
  service.AddDevice(
      "\xC3\x9C"
      "ber Synth",
      std::make_shared<ScriptedController>(std::move(script)));
}

// Ports the tool cannot use: capabilities unreadable (two codes), and two
// that do not open.
void BuildUnusablePorts(SimulatedService& service) {
  InputFaults invalid;
  invalid.name = ResultScript::Always(port::kInvalParam);
  service.AddInput("Hidden", std::move(invalid));
  InputFaults gone;
  gone.name = ResultScript::Always(port::kBadDeviceId);
  service.AddInput("Gone", std::move(gone));
  InputFaults inUse;
  inUse.open = ResultScript::Always(port::kAllocated);
  service.AddInput("In Use", std::move(inUse));
  InputFaults odd;
  odd.open = ResultScript::Always(port::kInvalidHandle);
  service.AddInput("Odd", std::move(odd));
}

// A BCR2000 whose output stays busy, so its request is never sent, then a
// BCF2000 whose output is busy three times and then never gives the sent
// bytes back. The one that answers comes last, so that its reply cannot
// overtake the other port's lines.
void BuildBusyOutputs(SimulatedService& service) {
  OutputFaults alwaysBusy;
  alwaysBusy.send = ResultScript::Always(port::kNotReady);
  const unsigned bcrInput = service.AddInput("BCR2000");
  const unsigned bcrOutput = service.AddOutput("BCR2000", std::move(alwaysBusy));
  service.Connect(std::make_shared<BCController>(BCController::BCR2000("BCR2000 Desk")), static_cast<int>(bcrInput),
                  static_cast<int>(bcrOutput));
  OutputFaults busyThenHeld;
  busyThenHeld.send = ResultScript::FirstN(3, port::kNotReady);
  busyThenHeld.release = ResultScript::Always(port::kStillPlaying);
  const unsigned bcfInput = service.AddInput("BCF2000");
  const unsigned bcfOutput = service.AddOutput("BCF2000", std::move(busyThenHeld));
  service.Connect(std::make_shared<BCController>(BCController::BCF2000("BCF2000 Stage")), static_cast<int>(bcfInput),
                  static_cast<int>(bcfOutput));
}

// A Twister (a device with a handler, so with a long-message buffer that
// its handler ignores) whose System Exclusive shows how the Windows service
// reads the wire, 300 ms apart so the activity worker's line falls between
// them in a fixed place: a message longer than a buffer comes in pieces,
// one "received" each and never joined; a status byte that interrupts a
// message breaks it off; a real-time byte inside a message comes on its
// own, before it; and a message still unfinished when the run ends is
// handed back broken by the stop, after the report was taken.
void BuildSysExOnTheWire(SimulatedService& service) {
  std::vector<uint8_t> longMessage = {0xF0};
  while (longMessage.size() < 1199) longMessage.push_back(static_cast<uint8_t>(longMessage.size() & 0x7F));
  longMessage.push_back(0xF7);
  std::vector<ControllerEvent> script = {
      ControllerEvent::SysExMessage(std::move(longMessage), milliseconds(300)),
      ControllerEvent::SysExMessage({0xF0, 0x01, 0x02, 0x03, 0x90, 0x3C, 0x64}, milliseconds(300)),
      ControllerEvent::SysExMessage({0xF0, 0x01, 0xF8, 0x02, 0xF7}, milliseconds(300)),
      ControllerEvent::SysExMessage({0xF0, 0x7E, 0x00, 0x01}, milliseconds(300)),
  };
  service.AddDevice("Midi Fighter Twister", std::make_shared<ScriptedController>(std::move(script)));
}

// A keyboard that plays, and a nanoKONTROL2 whose cable is pulled right
// after it acknowledged the upload of the scene: the acknowledgement still
// comes in, the write request that answers it fails, its port reports
// itself closed, and at the end stopping it and taking its buffer back
// fail: the device is gone and keeps what it held.
void BuildUnplugged(SimulatedService& service) {
  service.AddDevice("USB Keyboard", std::make_shared<ScriptedController>(std::vector<ControllerEvent>{
                                        ControllerEvent::ShortMessage(0x90, 0x3C, 0x64, milliseconds(500)),
                                        ControllerEvent::ShortMessage(0x80, 0x3C, 0x00, milliseconds(300))}));
  service.AddDevice("nanoKONTROL2",
                    std::make_shared<UnpluggingController>(std::make_shared<NanoKontrolController>(EditedScene()), 2));
}

// A keyboard that plays a note two seconds in, and a nanoKONTROL2 whose scene
// differs and whose output takes the dump request and then stops taking
// data: the upload of the scene stalls until the service gives up on it.
// Meanwhile the keyboard's note comes in on its own port. The keyboard
// comes first, so that the found lines do not race the nanoKONTROL2's dump.
void BuildStalledSend(SimulatedService& service) {
  service.AddDevice("USB Keyboard", std::make_shared<ScriptedController>(std::vector<ControllerEvent>{
                                        ControllerEvent::ShortMessage(0x90, 0x3C, 0x64, milliseconds(2000)),
                                        ControllerEvent::ShortMessage(0x80, 0x3C, 0x00, milliseconds(500))}));
  OutputFaults stallsOnTheUpload;
  stallsOnTheUpload.send = ResultScript({port::kNoError, kStalls}, port::kNoError);
  const unsigned input = service.AddInput("nanoKONTROL2");
  const unsigned output = service.AddOutput("nanoKONTROL2", std::move(stallsOnTheUpload));
  service.Connect(std::make_shared<NanoKontrolController>(EditedScene()), static_cast<int>(input),
                  static_cast<int>(output));
}

// Two units of one model, each a USB device of its own. The second answers
// well after the first has finished, so that the report's order does not
// hang on which unit's port delivers first.
constexpr milliseconds kFirstUnitAnswers{200};
constexpr milliseconds kSecondUnitAnswers{1200};

void BuildTwoNanoKontrols(SimulatedService& service) {
  for (milliseconds delay : {kFirstUnitAnswers, kSecondUnitAnswers}) {
    NanoKontrolController::Settings settings = EditedScene();
    settings.replyDelay = delay;
    service.AddUsbDevice(NanoKontrolJacks(), std::make_shared<NanoKontrolController>(std::move(settings)));
  }
}

void BuildTwoBCs(SimulatedService& service, const std::string& model) {
  const std::pair<milliseconds, const char*> units[] = {{kFirstUnitAnswers, " Left"}, {kSecondUnitAnswers, " Right"}};
  for (const auto& unit : units) {
    BCController::Identity identity =
        model == "BCF2000" ? BCController::BCF2000(model + unit.second) : BCController::BCR2000(model + unit.second);
    identity.replyDelay = unit.first;
    service.AddUsbDevice({model, {""}, {""}}, std::make_shared<BCController>(std::move(identity)));
  }
}

// Nothing answers an X-TOUCH MINI's reset stream: each unit gets its own.
void BuildTwoXTouchMinis(SimulatedService& service) {
  for (int unit = 0; unit < 2; ++unit) {
    service.AddUsbDevice({"X-TOUCH MINI", {""}, {""}},
                         std::make_shared<XTouchMiniController>(std::vector<ControllerEvent>{}));
  }
}

} // namespace

bool BuildScenario(const std::string& name, SimulatedService& service) {
  // "numbered-flood DEVICES PER_SECOND SECONDS": the benchmarks' flood.
  static const std::string kNumberedFlood = "numbered-flood ";
  if (name.compare(0, kNumberedFlood.size(), kNumberedFlood) == 0) {
    unsigned devices = 0;
    double perSecond = 0;
    double seconds = 0;
    char rest = 0;
    if (std::sscanf(name.c_str() + kNumberedFlood.size(), "%u %lf %lf %c", &devices, &perSecond, &seconds, &rest) !=
        3) {
      return false;
    }
    const flood::Plan plan = flood::Numbered(devices, perSecond, seconds);
    if (plan.devices.empty()) return false;
    flood::Add(service, plan);
    return true;
  }
  static const std::map<std::string, std::function<void(SimulatedService&)>> kScenarios = {
      {"demo", BuildDemoScene},
      {"none", [](SimulatedService&) {}},
      {"nano-good-scene", [](SimulatedService& service) { AddNanoKontrol(service, RequiredScene()); }},
      {"nano-bad-scene", [](SimulatedService& service) { AddNanoKontrol(service, EditedScene()); }},
      {"nano-named-jacks",
       [](SimulatedService& service) {
         service.AddUsbDevice(NanoKontrolJacks(), std::make_shared<NanoKontrolController>(EditedScene()));
       }},
      {"stalled-send", BuildStalledSend},
      {"flood-through-stop", [](SimulatedService& service) { flood::Add(service, flood::ThroughTheStop()); }},
      {"nano-channel",
       [](SimulatedService& service) {
         NanoKontrolController::Settings settings = RequiredScene();
         settings.globalChannel = 3;
         AddNanoKontrol(service, std::move(settings));
       }},
      {"nano-failing", [](SimulatedService& service) { AddNanoKontrol(service, FailingScene()); }},
      {"xtouch-mini", AddXTouchMini},
      {"twister", AddTwister},
      {"bcf2000-rename", BuildRenamingBCF2000},
      {"unknown-port", BuildUnknownPort},
      {"unusable-ports", BuildUnusablePorts},
      {"busy-output", BuildBusyOutputs},
      {"sysex-on-the-wire", BuildSysExOnTheWire},
      {"unplugged", BuildUnplugged},
      {"two-nanokontrol2", BuildTwoNanoKontrols},
      {"two-bcf2000", [](SimulatedService& service) { BuildTwoBCs(service, "BCF2000"); }},
      {"two-bcr2000", [](SimulatedService& service) { BuildTwoBCs(service, "BCR2000"); }},
      {"two-xtouch-mini", BuildTwoXTouchMinis},
  };
  const auto scenario = kScenarios.find(name);
  if (scenario == kScenarios.end()) return BuildMisbehavingScenario(name, service);
  scenario->second(service);
  return true;
}

std::vector<std::string> ScenarioNames() {
  std::vector<std::string> names = {
      "demo",           "none",        "nano-good-scene",   "nano-bad-scene", "nano-channel",
      "nano-failing",   "xtouch-mini", "twister",           "bcf2000-rename", "unknown-port",
      "unusable-ports", "busy-output", "sysex-on-the-wire", "unplugged",      "two-nanokontrol2",
      "two-bcf2000",    "two-bcr2000", "two-xtouch-mini"};
  for (const std::string& name : MisbehavingScenarioNames()) names.push_back(name);
  return names;
}

} // namespace testkit
