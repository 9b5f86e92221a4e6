// A Midi Fighter Twister as it comes configured: sixteen
// endless encoders sending controllers 0 to 15 on channel 1, each also a
// push switch sending the same controller on channel 2 (127 pressed, 0
// released). It takes no System Exclusive dialogue.
#pragma once

#include "midi/port/simulated/controllers/surface_controller.h"

namespace port::sim {

class TwisterController final : public SurfaceController {
 public:
  using SurfaceController::SurfaceController;

  // Encoder 0 to 15 turned to value.
  static ControllerEvent Encoder(int encoder, uint8_t value, std::chrono::microseconds delay = {});
  // Encoder 0 to 15 pushed and released.
  static std::vector<ControllerEvent> Push(int encoder, std::chrono::microseconds delay = {});
};

} // namespace port::sim
