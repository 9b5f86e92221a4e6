#include "midi/port/simulated/scenes.h"

#include <functional>
#include <map>
#include <memory>

#include "midi/port/simulated/controllers/bc_controller.h"
#include "midi/port/simulated/controllers/scripted_controller.h"

namespace sim {

namespace {

using std::chrono::milliseconds;

// A keyboard nobody has a dialogue with: its notes, controls and System
// Exclusive are logged, the long message is dropped (no buffer without a
// handler) but the same bytes cut into packets are assembled.
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

void BuildDemoScene(SimulatedService& service) {
  service.AddDevice("BCF2000", std::make_shared<BCController>(BCController::BCF2000("BCF2000 Stage")));
  service.AddDevice("USB Keyboard", std::make_shared<ScriptedController>(KeyboardScript()));
  AddUnreadablePort(service);
}

bool BuildScenario(const std::string& name, SimulatedService& service) {
  static const std::map<std::string, std::function<void(SimulatedService&)>> kScenarios = {
      {"demo", BuildDemoScene},
      {"none", [](SimulatedService&) {}},
  };
  const auto scenario = kScenarios.find(name);
  if (scenario == kScenarios.end()) return false;
  scenario->second(service);
  return true;
}

std::vector<std::string> ScenarioNames() {
  return {"demo", "none"};
}

} // namespace sim
