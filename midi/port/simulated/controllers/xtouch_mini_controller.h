// An X-TOUCH MINI in its standard mode: two layers of eight knobs
// and sixteen buttons, sending on channel 11. Program changes select the
// layer (0 is layer A, 1 layer B); layer A's knobs send controllers 1 to 8
// and its buttons notes 8 to 23, layer B's controllers 11 to 18 and notes
// 32 to 47.
#pragma once

#include "midi/port/simulated/controllers/surface_controller.h"

namespace port::sim {

class XTouchMiniController final : public SurfaceController {
 public:
  using SurfaceController::SurfaceController;

  // A knob (1 to 8) of a layer turned to value.
  static ControllerEvent Knob(int layer, int knob, uint8_t value, std::chrono::microseconds delay = {});
  // A button (1 to 16) of a layer pressed and released.
  static std::vector<ControllerEvent> Button(int layer, int button, std::chrono::microseconds delay = {});

  // The layer the last program change selected; -1 before any.
  int Layer() const;
  // Short messages taken from the long messages received.
  int ShortMessagesReceived() const;

 protected:
  void OnShortMessage(const uint8_t* message, size_t length) override;

 private:
  int layer = -1;
  int shortMessages = 0;
};

} // namespace port::sim
