// The nanoKONTROL2 scene check: the controller must hold the one scene the
// tool needs. Start asks for the current scene; a scene that differs from the
// stored image is uploaded, acknowledged, written and confirmed. A failed
// upload or write starts over with a new upload, ten failures in all at most.
//
// Threads: Start runs on the main thread inside the manager's list lock;
// OnSysEx and the steps it calls run on the thread that delivers the
// device's input, which may already run while Start does. There is no lock:
// state is atomic, every step stores its next state before it sends, so a
// reply that comes at once finds the state that expects it, and retryCount
// is touched by the input thread alone.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "handlers/handler.h"
#include "handlers/nano_kontrol_protocol.h"

class CKorgNanoControl : public CMIDIDeviceHandler {
 public:
  // Dialogue states; the values are the ones a report or a debugger shows.
  enum State : int32_t {
    Idle = 0,              // not in a dialogue: new, scene was good, or write confirmed
    AwaitingScene = 1,     // dump request sent
    AwaitingUploadAck = 2, // scene image sent
    AwaitingWriteAck = 3,  // write request sent
    Failed = 4,            // given up after the tenth failure
  };

  ~CKorgNanoControl() override;
  void Start() override;
  void OnSysEx(const uint8_t* bytes, uint16_t length) override;
  uint32_t GetSysExBufferSize() override;

  std::atomic<int32_t> state{Idle};
  // Failed acknowledgements of uploads and writes together; never reset.
  int32_t retryCount = 0;

 private:
  void CheckScene(const uint8_t* bytes, uint16_t length);
  void OnUploadAck(const uint8_t* bytes, uint16_t length);
  void OnWriteAck(const uint8_t* bytes, uint16_t length);
  void CountFailure();
  void SendSceneImage();
};
