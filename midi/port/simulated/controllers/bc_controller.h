// A BCF2000 or BCR2000 controller: answers the identity request with its
// model byte, device number and identity text.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "midi/port/simulated/virtual_controller.h"

namespace port::sim {

class BCController : public VirtualController {
 public:
  enum class Reply {
    Identity, // header, identity text, F7
    TooShort, // the 8 bytes F0 00 20 32 dd mm 02 F7, no text
    None,     // never answers
  };
  struct Identity {
    uint8_t modelByte = 0x14; // 14 BCF2000, 15 BCR2000
    uint8_t deviceNumber = 0x00;
    std::string text = "BCF2000";
    Reply reply = Reply::Identity;
    // How long the answer takes after the request.
    std::chrono::microseconds replyDelay{0};
  };

  explicit BCController(Identity identity) : identity(std::move(identity)) {}
  static Identity BCF2000(std::string text = "BCF2000") { return {0x14, 0x00, std::move(text), Reply::Identity, {}}; }
  static Identity BCR2000(std::string text = "BCR2000") { return {0x15, 0x00, std::move(text), Reply::Identity, {}}; }

  void OnReceive(const uint8_t* bytes, size_t length, ControllerLink& link) override;

  // The reply this controller gives to an identity request.
  std::vector<uint8_t> IdentityReply() const;
  // Every message received that was not an identity request, in order
  // (a preset upload lands here line by line).
  std::vector<std::vector<uint8_t>> Received() const { return received; }
  // The text of every preset line received (command 20 for this model),
  // in the order the lines came.
  std::vector<std::string> PresetLines() const;

 private:
  Identity identity;
  std::vector<std::vector<uint8_t>> received;
};

} // namespace port::sim
