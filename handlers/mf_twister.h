// The Midi Fighter Twister: no dialogue. Having a handler gives its device a
// long-message buffer, so the System Exclusive it sends is logged.
//
// Threads: Start on the main thread with the manager's list lock held
// (StartDialogue), OnSysEx on the input thread; neither touches any state.
#pragma once

#include <cstdint>

#include "handlers/handler.h"

class CMFTwister : public CMIDIDeviceHandler {
 public:
  void Start() override;
  void OnSysEx(const uint8_t* bytes, uint16_t length) override;
  uint32_t GetSysExBufferSize() override;
};
