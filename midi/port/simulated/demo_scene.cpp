#include "midi/port/simulated/demo_scene.h"

#include <memory>
#include <vector>

#include "midi/port/simulated/controllers/bc_controller.h"
#include "midi/port/simulated/controllers/scripted_controller.h"
#include "midi/port/simulated/controllers/twister_controller.h"
#include "midi/port/simulated/controllers/xtouch_mini_controller.h"

namespace port::sim {

namespace {

using std::chrono::milliseconds;

// A keyboard nobody has a dialogue with: its notes and controls are
// logged; its System Exclusive is dropped by the port (no buffer without a
// handler). A driver of the classic stack that passes the same bytes on cut
// into short-message packets gets them assembled; Windows MIDI Services
// reads packets like any bytes and drops them too.
std::vector<ControllerEvent> KeyboardScript() {
  std::vector<ControllerEvent> script = {
      ControllerEvent::ShortMessage(0x90, 0x3C, 0x64, milliseconds(200)),
      ControllerEvent::ShortMessage(0x80, 0x3C, 0x00, milliseconds(150)),
      ControllerEvent::ShortMessage(0xB0, 0x07, 0x64, milliseconds(100)),
      ControllerEvent::ShortMessage(0xE0, 0x00, 0x40, milliseconds(100)),
      ControllerEvent::SysExMessage({0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}, milliseconds(100)),
  };
  std::vector<ControllerEvent> packets = ScriptedController::SysExAsPackets({0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7});
  packets.front().delay = milliseconds(100);
  script.insert(script.end(), packets.begin(), packets.end());
  return script;
}

void AddUnreadablePort(SimulatedService& service) {
  InputFaults faults;
  faults.name = ResultScript::Always(port::kInvalParam);
  service.AddInput("Broken Port", std::move(faults));
}

} // namespace

UsbDevice NanoKontrolJacks() {
  return {"nanoKONTROL2", {"nanoKONTROL2 _ SLIDER/KNOB"}, {"nanoKONTROL2 _ CTRL"}};
}

// A port pair named nanoKONTROL2 with the controller behind it.
void AddNanoKontrol(SimulatedService& service, NanoKontrolController::Settings settings) {
  service.AddDevice("nanoKONTROL2", std::make_shared<NanoKontrolController>(std::move(settings)));
}

void AddXTouchMini(SimulatedService& service) {
  std::vector<ControllerEvent> script = {XTouchMiniController::Knob(0, 1, 70, milliseconds(250)),
                                         XTouchMiniController::Knob(0, 1, 72, milliseconds(20))};
  // The button comes well after the activity worker's second line (100 ms
  // after the first knob), so the report's order does not hang on timing.
  for (const ControllerEvent& event : XTouchMiniController::Button(0, 16, milliseconds(300))) script.push_back(event);
  service.AddDevice("X-TOUCH MINI", std::make_shared<XTouchMiniController>(std::move(script)));
}

void AddTwister(SimulatedService& service) {
  std::vector<ControllerEvent> script = {TwisterController::Encoder(4, 65, milliseconds(350))};
  for (const ControllerEvent& event : TwisterController::Push(4, milliseconds(100))) script.push_back(event);
  service.AddDevice("Midi Fighter Twister", std::make_shared<TwisterController>(std::move(script)));
}

void BuildDemoScene(SimulatedService& service) {
  service.AddDevice("BCF2000", std::make_shared<BCController>(BCController::BCF2000("BCF2000 Stage")));
  NanoKontrolController::Settings nano = NanoKontrolController::HoldingAnEditedScene();
  // Answers after the other ports are found, so its dialogue reads as one.
  nano.replyDelay = milliseconds(40);
  // It names its USB jacks: on the current Windows its ports are named
  // after them, each direction differently.
  service.AddUsbDevice(NanoKontrolJacks(), std::make_shared<NanoKontrolController>(std::move(nano)));
  AddXTouchMini(service);
  AddTwister(service);
  service.AddDevice("USB Keyboard", std::make_shared<ScriptedController>(KeyboardScript()));
  AddUnreadablePort(service);
}

} // namespace port::sim
