// A Korg nanoKONTROL2: holds a scene, sends it back when asked for a dump,
// takes an uploaded scene and writes it when asked, and answers each upload
// and write request as its script says.
//
// Threads: the host calls OnReceive one call at a time; the accessors may be
// called from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "midi/port/simulated/virtual_controller.h"

namespace port::sim {

class NanoKontrolController final : public VirtualController {
 public:
  // How the controller answers an upload or a write request.
  enum class Ack {
    Good,     // F0 42 4g 00 01 13 00 5F 23 00 F7 (upload) or 5F 21 (write)
    Negative, // 5F 24 (upload refused) or 5F 22 (write failed)
    TooShort, // F0 42 4g 00 01 13 00 F7: the answer byte is missing
    Never,    // no answer at all
  };
  struct Settings {
    // The scene it holds, as its dump sends it, whatever its length; byte 2
    // is replaced by the controller's own global channel.
    std::vector<uint8_t> scene;
    uint8_t globalChannel = 0; // 0 to 15: byte 2 of everything it sends is 0x40 + this
    // Answers to uploads and write requests in the order they come, then
    // thereafter for the rest.
    std::deque<Ack> acks;
    Ack thereafter = Ack::Good;
    // How long each answer takes after the message it answers.
    std::chrono::microseconds replyDelay{0};
  };

  // Holding the scene the tool requires, as the device's protocol table
  // gives it (protocol_tables.h), or that scene with byte 17 changed, as
  // after the user reassigned a control: the tool then rewrites it.
  static Settings HoldingTheRequiredScene();
  static Settings HoldingAnEditedScene();

  explicit NanoKontrolController(Settings settings);
  void OnReceive(const uint8_t* bytes, size_t length, ControllerLink& link) override;

  std::vector<uint8_t> Scene() const; // the scene it holds now, as it would dump it
  int DumpRequests() const;
  int Uploads() const;
  int WriteRequests() const;

 private:
  std::vector<uint8_t> Respond(const uint8_t* bytes, size_t length);
  Ack NextAck();
  std::vector<uint8_t> Acknowledge(Ack ack, uint8_t done, uint8_t failed) const;
  uint8_t ChannelByte() const;
  std::vector<uint8_t> Answer(uint8_t code) const;
  std::vector<uint8_t> Dump() const;

  mutable std::mutex lock;
  Settings settings;
  std::vector<uint8_t> stored;
  int dumpRequests = 0;
  int uploads = 0;
  int writeRequests = 0;
};

} // namespace port::sim
