// The dialogue of one controller family with its device.
//
// The manager's attach step creates a handler for each device whose model
// code has one and links the two. Once the device's input runs, with its
// buffer queued, the manager calls Start on the main thread, with its list
// lock held. OnSysEx, OnNote and OnControlChange come from the thread that
// delivers the device's input, one at a time, and may come while Start is
// still running: the state they share with Start is atomic. A handler
// stores its next state before it sends, so that a reply that comes at once
// finds the state that expects it.
//
// A handler and its device live until the manager is destroyed; the device
// does not own its handler.
#pragma once

#include <cstdint>
#include <vector>

#include "handlers/midi_event.h"

class CMIDIDeviceWin;

class CMIDIDeviceHandler {
 public:
  CMIDIDeviceHandler() = default;
  CMIDIDeviceHandler(const CMIDIDeviceHandler&) = delete;
  CMIDIDeviceHandler& operator=(const CMIDIDeviceHandler&) = delete;

  virtual ~CMIDIDeviceHandler();
  // Sends the controller its first request, if the dialogue has one.
  virtual void Start() = 0;
  // One complete System Exclusive message from the device, F0 first.
  virtual void OnSysEx(const uint8_t* bytes, uint16_t length) = 0;
  // Sends bytes to the device's output port through its manager.
  virtual void SendSysEx(const uint8_t* bytes, uint16_t length);
  // Size of the device's long-message input buffer; 0 for none.
  virtual uint32_t GetSysExBufferSize();
  virtual void MapEvents(std::vector<MIDIEvent>& events);
  virtual void OnNote(uint8_t note);
  virtual void OnControlChange(uint8_t controller, uint8_t value);
  virtual void UploadPreset();

  // The device this handler serves; set once at attach.
  CMIDIDeviceWin* device = nullptr;
};
