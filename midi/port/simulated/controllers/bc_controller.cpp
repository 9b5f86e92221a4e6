#include "midi/port/simulated/controllers/bc_controller.h"

#include <algorithm>
#include <array>

namespace port::sim {

namespace {

// F0, manufacturer 00 20 32, any device number, model 7F or its own, command 01.
bool IsIdentityRequest(const uint8_t* bytes, size_t length, uint8_t modelByte) {
  if (length < 8) return false;
  static constexpr std::array<uint8_t, 4> kHeader = {0xF0, 0x00, 0x20, 0x32};
  if (!std::equal(kHeader.begin(), kHeader.end(), bytes)) return false;
  return (bytes[5] == 0x7F || bytes[5] == modelByte) && bytes[6] == 0x01 && bytes[length - 1] == 0xF7;
}

} // namespace

std::vector<uint8_t> BCController::IdentityReply() const {
  std::vector<uint8_t> reply = {0xF0, 0x00, 0x20, 0x32, identity.deviceNumber, identity.modelByte, 0x02};
  // Byte by byte: GCC 12 misjudges a range insert here (-Warray-bounds).
  if (identity.reply == Reply::Identity) {
    for (char character : identity.text) reply.push_back(static_cast<uint8_t>(character));
  }
  reply.push_back(0xF7);
  return reply;
}

void BCController::OnReceive(const uint8_t* bytes, size_t length, ControllerLink& link) {
  if (IsIdentityRequest(bytes, length, identity.modelByte)) {
    if (identity.reply != Reply::None) link.Send(ControllerEvent::SysExMessage(IdentityReply(), identity.replyDelay));
    return;
  }
  received.emplace_back(bytes, bytes + length);
}

std::vector<std::string> BCController::PresetLines() const {
  // F0 00 20 32 dd mm 20, two index bytes, the text, F7.
  std::vector<std::string> lines;
  for (const std::vector<uint8_t>& message : received) {
    if (message.size() < 10 || message[5] != identity.modelByte || message[6] != 0x20) continue;
    lines.emplace_back(message.begin() + 9, message.end() - 1);
  }
  return lines;
}

} // namespace port::sim
