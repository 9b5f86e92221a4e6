// The X-TOUCH MINI: a reset stream on start, then a note of which half of
// its controls the user touched last, for MapEvents.
//
// Threads: Start runs on the main thread with the manager's list lock held
// (StartDialogue);
// OnNote and OnControlChange run on the thread that delivers the device's
// input; MapEvents runs on its caller's thread. lowerRangeActive is the only
// state they share: one atomic byte, so a reader on another thread sees
// either the old or the new value.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#include "handlers/handler.h"

class CXTouchMini : public CMIDIDeviceHandler {
 public:
  ~CXTouchMini() override;
  void Start() override;
  void OnSysEx(const uint8_t* bytes, uint16_t length) override;
  uint32_t GetSysExBufferSize() override;
  // Keeps the lower-range events (controllers 0 to 8, notes 8 to 23 rebased
  // to 0 to 15) and the upper-range ones (controllers 11 and up, notes 32 to
  // 47 rebased to 0 to 15), each behind its seed event, and puts the range
  // the user touched last first.
  void MapEvents(std::vector<MIDIEvent>& events) override;
  void OnNote(uint8_t note) override;
  void OnControlChange(uint8_t controller, uint8_t value) override;

  // The last note was below 24, or the last controller below 10.
  std::atomic<bool> lowerRangeActive{true};
};

// Short messages only, each with its own status byte, sent as one buffer:
// select program 1 and centre its knobs (controllers 11 to 18 on channel 11)
// and clear its button lights (notes 0 to 15), then the same for program 0,
// so that program 0 is the one left selected.
inline constexpr std::array<uint8_t, 151> kXTouchMiniReset = {
    0xB0, 0x7F, 0x00,                                                       // controller 127 = 0
    0xC0, 0x01,                                                             // program 1
    0xBA, 0x0B, 0x40, 0xBA, 0x0C, 0x40, 0xBA, 0x0D, 0x40, 0xBA, 0x0E, 0x40, // controllers 11 to 14 = 64
    0xBA, 0x0F, 0x40, 0xBA, 0x10, 0x40, 0xBA, 0x11, 0x40, 0xBA, 0x12, 0x40, // controllers 15 to 18 = 64
    0x90, 0x00, 0x00, 0x90, 0x01, 0x00, 0x90, 0x02, 0x00, 0x90, 0x03, 0x00, // notes 0 to 3 off
    0x90, 0x04, 0x00, 0x90, 0x05, 0x00, 0x90, 0x06, 0x00, 0x90, 0x07, 0x00, // notes 4 to 7 off
    0x90, 0x08, 0x00, 0x90, 0x09, 0x00, 0x90, 0x0A, 0x00, 0x90, 0x0B, 0x00, // notes 8 to 11 off
    0x90, 0x0C, 0x00, 0x90, 0x0D, 0x00, 0x90, 0x0E, 0x00, 0x90, 0x0F, 0x00, // notes 12 to 15 off
    0xC0, 0x00,                                                             // program 0
    0xBA, 0x01, 0x40, 0xBA, 0x02, 0x40, 0xBA, 0x03, 0x40, 0xBA, 0x04, 0x40, // controllers 1 to 4 = 64
    0xBA, 0x05, 0x40, 0xBA, 0x06, 0x40, 0xBA, 0x07, 0x40, 0xBA, 0x08, 0x40, // controllers 5 to 8 = 64
    0x90, 0x00, 0x00, 0x90, 0x01, 0x00, 0x90, 0x02, 0x00, 0x90, 0x03, 0x00, // notes 0 to 3 off
    0x90, 0x04, 0x00, 0x90, 0x05, 0x00, 0x90, 0x06, 0x00, 0x90, 0x07, 0x00, // notes 4 to 7 off
    0x90, 0x08, 0x00, 0x90, 0x09, 0x00, 0x90, 0x0A, 0x00, 0x90, 0x0B, 0x00, // notes 8 to 11 off
    0x90, 0x0C, 0x00, 0x90, 0x0D, 0x00, 0x90, 0x0E, 0x00, 0x90, 0x0F, 0x00, // notes 12 to 15 off
};
static_assert(kXTouchMiniReset.size() == 3 + 2 + 24 + 48 + 2 + 24 + 48, "51 short messages");
static_assert(kXTouchMiniReset.front() == 0xB0, "begins with controller 127 on channel 1");
static_assert(kXTouchMiniReset[148] == 0x90 && kXTouchMiniReset[149] == 0x0F && kXTouchMiniReset.back() == 0x00,
              "ends with note 15 off");
