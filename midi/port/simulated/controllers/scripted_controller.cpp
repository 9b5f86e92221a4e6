#include "midi/port/simulated/controllers/scripted_controller.h"

namespace port::sim {

void ScriptedController::OnInputStarted(ControllerLink& link) {
  for (const ControllerEvent& event : script) link.Send(event);
}

std::vector<ControllerEvent> ScriptedController::SysExAsPackets(const std::vector<uint8_t>& bytes) {
  std::vector<ControllerEvent> packets;
  for (size_t at = 0; at < bytes.size(); at += 3) {
    uint8_t packet[3] = {0, 0, 0};
    for (size_t i = 0; i < 3 && at + i < bytes.size(); ++i) packet[i] = bytes[at + i];
    ControllerEvent event;
    event.kind = ControllerEvent::Kind::Short;
    event.word = ShortWord(packet[0], packet[1], packet[2]);
    packets.push_back(event);
  }
  return packets;
}

} // namespace port::sim
