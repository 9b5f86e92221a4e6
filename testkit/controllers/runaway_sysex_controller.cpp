#include "testkit/controllers/runaway_sysex_controller.h"

#include "midi/port/simulated/controllers/scripted_controller.h"

namespace testkit {

using namespace port::sim;

std::vector<uint8_t> RunawaySysExController::Message(size_t length, bool ends) {
  std::vector<uint8_t> bytes;
  bytes.reserve(length);
  if (length == 0) return bytes;
  bytes.push_back(0xF0);
  while (bytes.size() < length) bytes.push_back(static_cast<uint8_t>((bytes.size() - 1) & 0x7F));
  if (ends) bytes.back() = 0xF7;
  return bytes;
}

void RunawaySysExController::OnInputStarted(ControllerLink& link) {
  for (const ControllerEvent& event : settings.before) link.Send(event);
  std::vector<uint8_t> message = Message(settings.length, settings.ends);
  if (settings.transport == Transport::Packets) {
    for (ControllerEvent& packet : ScriptedController::SysExAsPackets(message)) link.Send(std::move(packet));
  } else {
    link.SendSysEx(std::move(message));
  }
  for (const ControllerEvent& event : settings.after) link.Send(event);
}

} // namespace testkit
