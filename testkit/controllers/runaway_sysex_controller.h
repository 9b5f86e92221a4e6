// A controller whose System Exclusive goes wrong, as broken firmware or a
// flaky cable makes it: a message that never ends, or one longer than any
// buffer or count of the host can hold. Once the host listens it sends the
// message, in three-byte short-message packets (as some drivers deliver
// System Exclusive) or as one long message (which the host's port cuts
// into its buffers), between whatever comes before and after it, to show
// what the host still decodes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "midi/port/simulated/virtual_controller.h"

namespace testkit {

// The kit is built on the simulated service and speaks its language.
using namespace port::sim;

class RunawaySysExController final : public VirtualController {
 public:
  enum class Transport { Packets, LongMessage };
  struct Settings {
    size_t length = 100000; // bytes from the F0 on, the F7 included when it ends
    bool ends = true;       // false: the F7 never comes
    Transport transport = Transport::Packets;
    std::vector<ControllerEvent> before; // sent first
    std::vector<ControllerEvent> after;  // sent once the message is out
  };

  explicit RunawaySysExController(Settings settings) : settings(std::move(settings)) {}
  void OnInputStarted(ControllerLink& link) override;

  // The message: F0, data bytes counting 00 to 7F over and over, and F7 as
  // its last byte when it ends.
  static std::vector<uint8_t> Message(size_t length, bool ends);

 private:
  Settings settings;
};

} // namespace testkit
