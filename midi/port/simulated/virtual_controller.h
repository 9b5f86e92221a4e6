// A virtual MIDI controller: a small model of one controller family that
// reacts to what the host sends it the way the real device does.
//
// Controllers know nothing of the transport. The simulated service connects
// them to its virtual ports; other hosts (a stand-in winmm, a JACK client)
// connect the same classes to theirs. A controller talks back only through
// its ControllerLink.
//
// Threads: a host calls a controller from one thread at a time (the service
// serialises them); a controller needs no lock of its own.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace port::sim {

// One thing a controller sends to the host.
struct ControllerEvent {
  enum class Kind {
    Short,        // a short message, the 32-bit word of status and data bytes
    SysEx,        // bytes on the wire in one go, read as the service reads them: a
                  // System Exclusive message (or its rest) into the long-message
                  // buffers, anything else as short messages
    InvalidShort, // a short message the driver found broken
    InvalidLong,  // a long message the driver found broken (bytes as received)
    Close,        // the port reports itself closed
    RawEvent,     // any other event code, passed to the callback as it is
    Unplug,       // the device is unplugged as it sends this: its output fails at once,
                  // its input reports closed once what came before is in
  };
  Kind kind = Kind::Short;
  uint32_t word = 0;          // Short, InvalidShort; the event code for RawEvent
  std::vector<uint8_t> bytes; // SysEx, InvalidLong
  // Delay after the controller's previous event (or after now).
  std::chrono::microseconds delay{0};

  static ControllerEvent ShortMessage(uint8_t status, uint8_t data1 = 0, uint8_t data2 = 0,
                                      std::chrono::microseconds delay = {});
  static ControllerEvent SysExMessage(std::vector<uint8_t> bytes, std::chrono::microseconds delay = {});
};

// Packs status and data bytes into a short-message word, lowest byte first.
constexpr uint32_t ShortWord(uint8_t status, uint8_t data1 = 0, uint8_t data2 = 0) {
  return static_cast<uint32_t>(status) | (static_cast<uint32_t>(data1) << 8) | (static_cast<uint32_t>(data2) << 16);
}

// What a controller can do toward the host.
class ControllerLink {
 public:
  virtual ~ControllerLink() = default;
  virtual void Send(ControllerEvent event) = 0;

  void SendShort(uint8_t status, uint8_t data1 = 0, uint8_t data2 = 0) {
    Send(ControllerEvent::ShortMessage(status, data1, data2));
  }
  void SendSysEx(std::vector<uint8_t> bytes) { Send(ControllerEvent::SysExMessage(std::move(bytes))); }
};

class VirtualController {
 public:
  virtual ~VirtualController() = default;
  // The host has started listening on the controller's input port.
  virtual void OnInputStarted(ControllerLink& link) { (void)link; }
  // The host sent one long message to the controller's output port.
  virtual void OnReceive(const uint8_t* bytes, size_t length, ControllerLink& link) {
    (void)bytes;
    (void)length;
    (void)link;
  }
};

} // namespace port::sim
