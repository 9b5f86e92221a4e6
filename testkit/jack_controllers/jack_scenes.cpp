#include "testkit/jack_controllers/jack_scenes.h"

#include <functional>
#include <map>

#include "midi/port/simulated/controllers/bc_controller.h"
#include "midi/port/simulated/controllers/nano_kontrol_controller.h"
#include "midi/port/simulated/controllers/scripted_controller.h"
#include "midi/port/simulated/controllers/xtouch_mini_controller.h"
#include "testkit/flood.h"

namespace jack_controllers {

namespace {

using port::sim::ControllerEvent;
using std::chrono::milliseconds;

JackDevice Device(std::string client, int id, std::string file,
                  std::shared_ptr<port::sim::VirtualController> controller) {
  JackDevice device;
  device.alsaClient = client;
  device.clientId = id;
  device.alsaPort = std::move(client) + " MIDI 1";
  device.controller = std::move(controller);
  device.file = std::move(file);
  return device;
}

// A keyboard nobody has a dialogue with: notes and a control change are
// logged; its System Exclusive message is dropped, since a device without
// a handler has no long-message buffer; timing clock and active sensing are
// logged like any short message. 300 ms apart, so that each activity
// worker's two lines come between the same messages every time.
std::vector<ControllerEvent> KeyboardScript() {
  return {
      ControllerEvent::ShortMessage(0x90, 0x3C, 0x64, milliseconds(1200)),
      ControllerEvent::ShortMessage(0x80, 0x3C, 0x00, milliseconds(300)),
      ControllerEvent::SysExMessage({0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}, milliseconds(300)),
      ControllerEvent::ShortMessage(0xB0, 0x07, 0x64, milliseconds(300)),
      ControllerEvent::ShortMessage(0xF8, 0x00, 0x00, milliseconds(300)),
      ControllerEvent::ShortMessage(0xFE, 0x00, 0x00, milliseconds(300)),
  };
}

// A nanoKONTROL2 whose scene differs from the stored one in one byte (the
// user reassigned a control), so the whole dialogue runs: dump, upload,
// write.
std::shared_ptr<port::sim::NanoKontrolController> EditedNanoKontrol() {
  return std::make_shared<port::sim::NanoKontrolController>(port::sim::NanoKontrolController::HoldingAnEditedScene());
}

// An X-TOUCH MINI played after the other devices are done: a knob of layer
// A turned twice, then its last button pressed and released. The second
// knob waits until the activity worker's two lines are out.
std::vector<ControllerEvent> XTouchMiniScript() {
  std::vector<ControllerEvent> script = {port::sim::XTouchMiniController::Knob(0, 1, 70, milliseconds(3400)),
                                         port::sim::XTouchMiniController::Knob(0, 1, 72, milliseconds(300))};
  for (const ControllerEvent& event : port::sim::XTouchMiniController::Button(0, 16, milliseconds(300))) {
    script.push_back(event);
  }
  return script;
}

// The controllers end to end, each in a time slot of its own so that the
// report's order does not hang on timing: the nanoKONTROL2's dialogue
// (answers 200 ms after each request), the BCF2000's identity answer after
// 900 ms, the keyboard above from 1.2 s, a foot controller at 3 s whose
// device has no playback port (so portprobe finds no output of its name),
// and the X-TOUCH MINI from 3.4 s, which has been sent its reset stream
// while attached.
void ControllersScene(std::vector<JackDevice>& devices) {
  JackDevice bcf = Device("BCF2000", 20, "bcf2000",
                          std::make_shared<port::sim::BCController>(port::sim::BCController::BCF2000("BCF2000 Stage")));
  bcf.answerDelay = milliseconds(900);
  devices.push_back(bcf);
  JackDevice nano = Device("nanoKONTROL2", 22, "nanokontrol2", EditedNanoKontrol());
  nano.answerDelay = milliseconds(200);
  devices.push_back(nano);
  devices.push_back(
      Device("X-TOUCH MINI", 23, "xtouch", std::make_shared<port::sim::XTouchMiniController>(XTouchMiniScript())));
  devices.push_back(
      Device("USB Keyboard", 24, "keyboard", std::make_shared<port::sim::ScriptedController>(KeyboardScript())));
  JackDevice foot = Device("Foot Controller", 28, "foot",
                           std::make_shared<port::sim::ScriptedController>(std::vector<ControllerEvent>{
                               ControllerEvent::ShortMessage(0xB0, 0x40, 0x7F, milliseconds(3000))}));
  foot.playback = false;
  devices.push_back(foot);
}

// One controller alone, answering as fast as the server lets it: in the
// very next process cycle. With one device the report's order is fixed
// however soon the answers come.
void BCF2000NextCycleScene(std::vector<JackDevice>& devices) {
  devices.push_back(
      Device("BCF2000", 20, "bcf2000",
             std::make_shared<port::sim::BCController>(port::sim::BCController::BCF2000("BCF2000 Stage"))));
}

void NanoKontrolNextCycleScene(std::vector<JackDevice>& devices) {
  devices.push_back(Device("nanoKONTROL2", 22, "nanokontrol2", EditedNanoKontrol()));
}

// The same nanoKONTROL2 behind the ALSA sequencer's bridge: its 402-byte
// scene dump reaches JACK as two events, of 256 and 146 bytes.
void NanoKontrolInPiecesScene(std::vector<JackDevice>& devices) {
  NanoKontrolNextCycleScene(devices);
  devices.back().sysExPieceBytes = 256;
}

// The numbered flood of four devices, each 2000 short messages 1 ms apart
// on its own channel (flood.h), so that flood-check can tell whether every
// message came, once and in order.
void FloodScene(std::vector<JackDevice>& devices) {
  const testkit::flood::Plan plan = testkit::flood::Numbered(4, 1000, 2);
  for (size_t pad = 0; pad < plan.devices.size(); ++pad) {
    std::vector<ControllerEvent> script;
    for (uint32_t n = 0; n < plan.eventsPerDevice; ++n) {
      script.push_back(testkit::flood::Event(plan, static_cast<uint8_t>(pad), n));
    }
    // The first after portprobe has opened all its ports: a new JACK client
    // makes the server miss cycles while the graph changes.
    script.front().delay = milliseconds(1500);
    JackDevice device = Device(plan.devices[pad].name, 40 + static_cast<int>(pad), "pad" + std::to_string(pad + 1),
                               std::make_shared<port::sim::ScriptedController>(std::move(script)));
    device.playback = false;
    devices.push_back(device);
  }
}

const std::map<std::string, std::function<void(std::vector<JackDevice>&)>>& Scenes() {
  static const std::map<std::string, std::function<void(std::vector<JackDevice>&)>> kScenes = {
      {"controllers", ControllersScene},
      {"bcf2000-next-cycle", BCF2000NextCycleScene},
      {"nanokontrol2-next-cycle", NanoKontrolNextCycleScene},
      {"nanokontrol2-in-pieces", NanoKontrolInPiecesScene},
      {"flood", FloodScene},
  };
  return kScenes;
}

} // namespace

std::string A2jPortName(const JackDevice& device, bool capture) {
  return device.alsaClient + " [" + std::to_string(device.clientId) + "] (" + (capture ? "capture" : "playback") +
         "): " + device.alsaPort;
}

bool BuildJackScene(const std::string& name, std::vector<JackDevice>& devices) {
  const auto scene = Scenes().find(name);
  if (scene == Scenes().end()) return false;
  scene->second(devices);
  return true;
}

std::vector<std::string> JackSceneNames() {
  std::vector<std::string> names;
  for (const auto& scene : Scenes()) names.push_back(scene.first);
  return names;
}

} // namespace jack_controllers
