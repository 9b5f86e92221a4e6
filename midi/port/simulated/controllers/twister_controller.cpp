#include "midi/port/simulated/controllers/twister_controller.h"

namespace port::sim {

ControllerEvent TwisterController::Encoder(int encoder, uint8_t value, std::chrono::microseconds delay) {
  return ControllerEvent::ShortMessage(0xB0, static_cast<uint8_t>(encoder), value, delay);
}

std::vector<ControllerEvent> TwisterController::Push(int encoder, std::chrono::microseconds delay) {
  const auto controller = static_cast<uint8_t>(encoder);
  return {ControllerEvent::ShortMessage(0xB1, controller, 0x7F, delay),
          ControllerEvent::ShortMessage(0xB1, controller, 0x00, std::chrono::milliseconds(120))};
}

} // namespace port::sim
