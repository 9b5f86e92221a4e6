// A control surface without a dialogue of its own: plays what its user does
// (a script of events once the host listens, or events sent later) and keeps
// every long message it is sent.
//
// Threads: the host calls OnInputStarted and OnReceive one call at a time;
// Send and the accessors may be called from any thread. The link kept from
// OnInputStarted belongs to the host and is used only while the host lives.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "midi/port/simulated/virtual_controller.h"

namespace port::sim {

class SurfaceController : public VirtualController {
 public:
  explicit SurfaceController(std::vector<ControllerEvent> script = {}) : script(std::move(script)) {}

  void OnInputStarted(ControllerLink& link) override;
  void OnReceive(const uint8_t* bytes, size_t length, ControllerLink& link) override;

  // Sends as if the user had moved a control; lost while nobody listens.
  void Send(ControllerEvent event);
  // Every long message received, in order.
  std::vector<std::vector<uint8_t>> Received() const;

 protected:
  // The short messages of a received long message, one at a time, under the
  // controller's lock: status byte and its data bytes.
  virtual void OnShortMessage(const uint8_t* message, size_t length) {
    (void)message;
    (void)length;
  }

  mutable std::mutex lock;

 private:
  std::vector<ControllerEvent> script;
  std::vector<std::vector<uint8_t>> received;
  ControllerLink* link = nullptr;
};

} // namespace port::sim
