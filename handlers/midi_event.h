// An event record as CXTouchMini::MapEvents sorts them.
#pragma once

#include <cstdint>

struct MIDIEvent {
  int32_t kind = 0;    // 0: control change; any other value: any other event
  uint8_t channel = 0; // carried through unchanged
  uint32_t number = 0; // controller or note number
  int32_t value = 0;   // carried through unchanged
};

inline bool operator==(const MIDIEvent& a, const MIDIEvent& b) {
  return a.kind == b.kind && a.channel == b.channel && a.number == b.number && a.value == b.value;
}
