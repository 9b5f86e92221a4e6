#include "midi/port/port.h"

#include <chrono>
#include <thread>

namespace port {

void MidiService::Pause(unsigned milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

} // namespace port
