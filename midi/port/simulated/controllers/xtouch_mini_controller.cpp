#include "midi/port/simulated/controllers/xtouch_mini_controller.h"

namespace port::sim {

namespace {

constexpr uint8_t kChannel = 10; // channel 11

} // namespace

ControllerEvent XTouchMiniController::Knob(int layer, int knob, uint8_t value, std::chrono::microseconds delay) {
  const int controller = layer == 0 ? knob : knob + 10;
  return ControllerEvent::ShortMessage(0xB0 | kChannel, static_cast<uint8_t>(controller), value, delay);
}

std::vector<ControllerEvent> XTouchMiniController::Button(int layer, int button, std::chrono::microseconds delay) {
  const auto note = static_cast<uint8_t>(layer == 0 ? button + 7 : button + 31);
  return {ControllerEvent::ShortMessage(0x90 | kChannel, note, 0x7F, delay),
          ControllerEvent::ShortMessage(0x80 | kChannel, note, 0x00, std::chrono::milliseconds(80))};
}

int XTouchMiniController::Layer() const {
  std::lock_guard<std::mutex> guard(lock);
  return layer;
}

int XTouchMiniController::ShortMessagesReceived() const {
  std::lock_guard<std::mutex> guard(lock);
  return shortMessages;
}

void XTouchMiniController::OnShortMessage(const uint8_t* message, size_t) {
  ++shortMessages;
  if (message[0] == 0xC0) layer = message[1];
}

} // namespace port::sim
