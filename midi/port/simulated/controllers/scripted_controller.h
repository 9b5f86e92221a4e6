// A plain controller that plays a fixed sequence of events once the host
// starts listening, and ignores whatever it is sent.
#pragma once

#include <vector>

#include "midi/port/simulated/virtual_controller.h"

namespace port::sim {

class ScriptedController final : public VirtualController {
 public:
  explicit ScriptedController(std::vector<ControllerEvent> script) : script(std::move(script)) {}
  void OnInputStarted(ControllerLink& link) override;

  // System Exclusive bytes cut into three-byte short-message packets, the
  // way some drivers deliver them; the last packet is padded with zeros.
  static std::vector<ControllerEvent> SysExAsPackets(const std::vector<uint8_t>& bytes);

 private:
  std::vector<ControllerEvent> script;
};

} // namespace port::sim
