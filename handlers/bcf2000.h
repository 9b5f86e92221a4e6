// The BCF2000 / BCR2000 dialogue: one identity request, and the first
// accepted reply names the device and tells which of the two models it is.
//
// Threads: Start on the main thread inside the manager's list lock; OnSysEx
// on the input thread, which may already run while Start does.
// awaitingIdentity is atomic and set before the request leaves, so the
// reply always finds it set.
//
// UploadPreset (bc_presets.cpp) holds whichever thread calls it for the
// whole upload; the tool's own run never calls it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>

#include "handlers/bc_protocol.h"
#include "handlers/handler.h"

class CBCF2000 : public CMIDIDeviceHandler {
 public:
  ~CBCF2000() override;
  void Start() override;
  void OnSysEx(const uint8_t* bytes, uint16_t length) override;
  uint32_t GetSysExBufferSize() override;
  // Sends the preset image of the model the device last said it is, one
  // line per message, pausing after every one.
  void UploadPreset() override;

  std::atomic<bool> awaitingIdentity{false};
  // Runs after every preset line; tests count the pauses instead of sleeping.
  std::function<void(unsigned milliseconds)> presetPause = SleepOnCallingThread;

 private:
  static void SleepOnCallingThread(unsigned milliseconds);
};
