#include "handlers/xtouch_mini.h"

namespace {

constexpr uint8_t kFirstUpperNote = 24;
constexpr uint8_t kFirstUpperController = 10;

bool IsControlChange(const MIDIEvent& event) {
  return event.kind == 0;
}

} // namespace

CXTouchMini::~CXTouchMini() = default;

uint32_t CXTouchMini::GetSysExBufferSize() {
  return 512;
}

void CXTouchMini::Start() {
  // One buffer, so the controller gets the whole reset before anything else.
  SendSysEx(kXTouchMiniReset.data(), static_cast<uint16_t>(kXTouchMiniReset.size()));
}

void CXTouchMini::OnSysEx(const uint8_t*, uint16_t) {}

void CXTouchMini::OnNote(uint8_t note) {
  lowerRangeActive.store(note < kFirstUpperNote, std::memory_order_relaxed);
}

void CXTouchMini::OnControlChange(uint8_t controller, uint8_t) {
  lowerRangeActive.store(controller < kFirstUpperController, std::memory_order_relaxed);
}

void CXTouchMini::MapEvents(std::vector<MIDIEvent>& events) {
  std::vector<MIDIEvent> lower = {MIDIEvent{1, 0, 0, 0}};
  std::vector<MIDIEvent> upper = {MIDIEvent{1, 0, 1, 0}};
  for (MIDIEvent event : events) {
    if (IsControlChange(event)) {
      if (event.number <= 8) {
        lower.push_back(event);
      } else if (event.number >= 11) {
        upper.push_back(event);
      } // 9 and 10: dropped
    } else if (event.number >= 8 && event.number <= 23) {
      event.number -= 8;
      lower.push_back(event);
    } else if (event.number >= 32 && event.number <= 47) {
      event.number -= 32;
      upper.push_back(event);
    }
  }

  events.clear();
  if (lowerRangeActive.load(std::memory_order_relaxed)) {
    // An upper list with nothing but its seed is left out.
    if (upper.size() > 1) events.insert(events.end(), upper.begin(), upper.end());
    events.insert(events.end(), lower.begin(), lower.end());
  } else {
    events.insert(events.end(), lower.begin(), lower.end());
    events.insert(events.end(), upper.begin(), upper.end());
  }
}
