// The port layer over the Windows multimedia MIDI service (winmm).
//
// Each operation is the winmm call of the same meaning, with winmm's result
// code passed through: midiInGetNumDevs, midiInGetDevCapsW, midiInOpen
// (CALLBACK_FUNCTION), midiInStart, midiInStop, midiIn{Prepare,Unprepare}Header,
// midiInAddBuffer, midiInReset (to take buffers back from a stopped port); midiOutGetNumDevs, midiOutGetDevCapsW,
// midiOutOpen (CALLBACK_NULL), midiOut{Prepare,Unprepare}Header, midiOutLongMsg; midiInMessage and midiOutMessage ask
// which device a port belongs to (device_interface.h). Names come as UTF-16 and are handed on as UTF-8.
//
// What winmm does not do the way the device layer needs is kept inside:
//  - the driver callback may not call multimedia functions, so input events
//    go to the layer's own thread, which runs the device layer's callback
//    (see WinmmInput);
//  - the device layer's port::MidiHeader is not a MIDIHDR; the driver gets
//    MIDIHDRs of the layer's own that stay put while it may hold them (for
//    input a few per device-layer buffer, so that a reply that comes while
//    the device layer is busy still finds one; see WinmmInput).
//
// Threads: as port.h says. Ownership: see WinmmInput and WinmmOutput; the
// service leaves behind, on purpose, what a late driver callback may reach.
#pragma once

#include "midi/port/port.h"
#include "midi/port/winmm/device_interface.h"
#include "midi/port/winmm/winmm_input.h"
#include "midi/port/winmm/winmm_output.h"

namespace port::winmm {

class WinmmService final : public MidiService {
 public:
  unsigned InputCount() override { return input.Count(); }
  [[nodiscard]] Result InputName(unsigned index, std::string& name) override { return input.Name(index, name); }
  [[nodiscard]] Result OpenInput(unsigned index, InputCallback callback, uintptr_t context,
                                 InputHandle& handle) override {
    return input.Open(index, callback, context, handle);
  }
  [[nodiscard]] Result StartInput(InputHandle handle) override { return input.Start(handle); }
  [[nodiscard]] Result StopInput(InputHandle handle) override { return input.Stop(handle); }
  [[nodiscard]] Result PrepareInputBuffer(InputHandle handle, MidiHeader& header) override {
    return input.Prepare(handle, header);
  }
  [[nodiscard]] Result AddInputBuffer(InputHandle handle, MidiHeader& header) override {
    return input.Add(handle, header);
  }
  [[nodiscard]] Result UnprepareInputBuffer(InputHandle handle, MidiHeader& header) override {
    return input.Unprepare(handle, header);
  }
  void DetachInput(InputHandle handle) override { input.Detach(handle); }

  unsigned OutputCount() override { return output.Count(); }
  [[nodiscard]] Result OutputName(unsigned index, std::string& name) override { return output.Name(index, name); }
  [[nodiscard]] Result OpenOutput(unsigned index, OutputHandle& handle) override { return output.Open(index, handle); }
  [[nodiscard]] Result PrepareOutput(OutputHandle handle, MidiHeader& header) override {
    return output.Prepare(handle, header);
  }
  [[nodiscard]] Result SendLong(OutputHandle handle, MidiHeader& header) override {
    return output.Send(handle, header);
  }
  [[nodiscard]] Result UnprepareOutput(OutputHandle handle, MidiHeader& header) override {
    return output.Unprepare(handle, header);
  }
  [[nodiscard]] Result DeviceOf(Direction direction, unsigned index, std::string& device) override {
    return QueryDeviceInterface(direction, index, device);
  }

  // Resets the system and display idle timers once (no ES_CONTINUOUS), so a
  // controller in use keeps the computer and its screen awake.
  void KeepAwake() override;
  void Pause(unsigned milliseconds) override;
  void Shutdown() override { input.Shutdown(); }

  uint64_t LostInputEvents(InputHandle handle) override { return input.Lost(handle); }

 private:
  WinmmInput input;
  WinmmOutput output;
};

} // namespace port::winmm
