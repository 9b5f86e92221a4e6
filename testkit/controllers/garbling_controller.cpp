#include "testkit/controllers/garbling_controller.h"

#include "midi/port/port.h"

namespace testkit {

using namespace port::sim;

uint32_t GarblingController::Random() {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return state;
}

ControllerEvent GarblingController::GarbageEvent() {
  ControllerEvent event;
  switch (Random() % 6) {
    case 0:
    case 1: // any status byte, data bytes of any value
      event.kind = ControllerEvent::Kind::Short;
      event.word = Random();
      break;
    case 2: // a long message of any bytes, often starting like System Exclusive
    case 3: {
      event.kind = ControllerEvent::Kind::SysEx;
      const size_t length = Random() % 700;
      for (size_t i = 0; i < length; ++i) event.bytes.push_back(static_cast<uint8_t>(Random()));
      if (!event.bytes.empty() && Random() % 2 == 0) event.bytes.front() = 0xF0;
      break;
    }
    case 4:
      event.kind = Random() % 2 == 0 ? ControllerEvent::Kind::InvalidShort : ControllerEvent::Kind::InvalidLong;
      event.word = Random();
      event.bytes.assign(Random() % 64, 0xF0);
      break;
    default: { // a stray port event: open, close, more data, or none known
      // Not "buffer filled": that one comes from the port with its buffer,
      // whatever the controller sends.
      static constexpr uint32_t kStray[] = {
          port::kEventOpen, port::kEventClose, port::kEventMoreData, 0x3C7, 0x3C9, 0x3CB};
      event.kind = ControllerEvent::Kind::RawEvent;
      event.word = kStray[Random() % (sizeof kStray / sizeof kStray[0])];
      break;
    }
  }
  return event;
}

void GarblingController::Rewrite(ControllerEvent event, ControllerLink& link) {
  if (garble == Garble::Garbage) {
    for (int i = 0; i < kGarbageBurst; ++i) {
      ControllerEvent garbage = GarbageEvent();
      if (i == 0) garbage.delay = event.delay;
      link.Send(std::move(garbage));
    }
    return;
  }
  if (event.kind == ControllerEvent::Kind::SysEx && !event.bytes.empty()) {
    std::vector<uint8_t>& bytes = event.bytes;
    if (garble == Garble::Truncated) {
      // Still a whole message: one without its F7 would sit in the port's
      // buffer until input stops, and the handler would never judge it.
      const size_t kept = bytes.size() / 2 > 0 ? bytes.size() / 2 : 1;
      if (kept < bytes.size()) bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(kept) - 1, bytes.end() - 1);
    } else {
      bytes.insert(bytes.end() - 1, bytes.size() / 2 + 1, 0x01);
    }
  }
  link.Send(std::move(event));
}

} // namespace testkit
