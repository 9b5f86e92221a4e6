#include "midi/port/simulated/controllers/surface_controller.h"

namespace port::sim {

namespace {

// Data bytes that follow the status byte of a channel message.
size_t DataBytes(uint8_t status) {
  const uint8_t kind = status & 0xF0;
  return kind == 0xC0 || kind == 0xD0 ? 1 : 2;
}

} // namespace

void SurfaceController::OnInputStarted(ControllerLink& hostLink) {
  {
    std::lock_guard<std::mutex> guard(lock);
    link = &hostLink;
  }
  for (const ControllerEvent& event : script) hostLink.Send(event);
}

void SurfaceController::OnReceive(const uint8_t* bytes, size_t length, ControllerLink&) {
  std::lock_guard<std::mutex> guard(lock);
  received.emplace_back(bytes, bytes + length);
  // Status bytes start messages; a stray data byte is skipped, as a
  // receiver without running status would.
  size_t at = 0;
  while (at < length) {
    if ((bytes[at] & 0x80) == 0) {
      ++at;
      continue;
    }
    if ((bytes[at] & 0xF0) == 0xF0) break; // system messages are not taken apart
    const size_t size = 1 + DataBytes(bytes[at]);
    if (at + size > length) break;
    OnShortMessage(bytes + at, size);
    at += size;
  }
}

void SurfaceController::Send(ControllerEvent event) {
  ControllerLink* target;
  {
    std::lock_guard<std::mutex> guard(lock);
    target = link;
  }
  if (target != nullptr) target->Send(std::move(event));
}

std::vector<std::vector<uint8_t>> SurfaceController::Received() const {
  std::lock_guard<std::mutex> guard(lock);
  return received;
}

} // namespace port::sim
