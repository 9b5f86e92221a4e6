// A receiver of the controllers' notes, control changes and pitch bends, and
// of the device list shortly after a device first becomes active.
//
// Threads: the four message operations come from the input thread without any
// lock; OnDevicesChanged comes from an activity worker with the manager's
// listLock held, so it must not call the manager's locking operations. The
// tool itself registers no listener.
#pragma once

#include <cstdint>
#include <vector>

class CMIDIDevice;

class CMIDIListener {
 public:
  virtual ~CMIDIListener() = default;
  virtual void OnControlChange(CMIDIDevice* device, uint8_t channel, uint8_t controller, uint8_t value) = 0;
  virtual void OnNoteOn(CMIDIDevice* device, uint8_t channel, uint8_t note, uint8_t velocity) = 0;
  virtual void OnNoteOff(CMIDIDevice* device, uint8_t channel, uint8_t note, uint8_t velocity) = 0;
  virtual void OnPitchBend(CMIDIDevice* device, uint8_t channel, uint16_t value) = 0;
  // devices is the manager's own list, valid for the call.
  virtual void OnDevicesChanged(const std::vector<CMIDIDevice*>& devices) = 0;
};
