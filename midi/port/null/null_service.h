// A MIDI service without ports: the tool then runs and reports that no
// device was found.
#pragma once

#include "midi/port/port.h"

namespace port {

class NullService final : public MidiService {
 public:
  unsigned InputCount() override { return 0; }
  Result InputName(unsigned, std::string&) override { return kBadDeviceId; }
  Result OpenInput(unsigned, InputCallback, uintptr_t, InputHandle&) override { return kBadDeviceId; }
  Result StartInput(InputHandle) override { return kInvalidHandle; }
  Result StopInput(InputHandle) override { return kInvalidHandle; }
  Result PrepareInputBuffer(InputHandle, MidiHeader&) override { return kInvalidHandle; }
  Result AddInputBuffer(InputHandle, MidiHeader&) override { return kInvalidHandle; }
  Result UnprepareInputBuffer(InputHandle, MidiHeader&) override { return kInvalidHandle; }
  void DetachInput(InputHandle) override {}
  unsigned OutputCount() override { return 0; }
  Result OutputName(unsigned, std::string&) override { return kBadDeviceId; }
  Result OpenOutput(unsigned, OutputHandle&) override { return kBadDeviceId; }
  Result PrepareOutput(OutputHandle, MidiHeader&) override { return kInvalidHandle; }
  Result SendLong(OutputHandle, MidiHeader&) override { return kInvalidHandle; }
  Result UnprepareOutput(OutputHandle, MidiHeader&) override { return kInvalidHandle; }
  void Shutdown() override {}
};

} // namespace port
