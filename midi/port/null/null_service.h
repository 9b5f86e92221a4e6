// A MIDI service without ports: the tool then runs and reports that no
// device was found.
#pragma once

#include "midi/port/port.h"

namespace port::null {

class NullService final : public port::MidiService {
 public:
  unsigned InputCount() override { return 0; }
  [[nodiscard]] Result InputName(unsigned, std::string&) override { return kBadDeviceId; }
  [[nodiscard]] Result OpenInput(unsigned, InputCallback, uintptr_t, InputHandle&) override { return kBadDeviceId; }
  [[nodiscard]] Result StartInput(InputHandle) override { return kInvalidHandle; }
  [[nodiscard]] Result StopInput(InputHandle) override { return kInvalidHandle; }
  [[nodiscard]] Result PrepareInputBuffer(InputHandle, MidiHeader&) override { return kInvalidHandle; }
  [[nodiscard]] Result AddInputBuffer(InputHandle, MidiHeader&) override { return kInvalidHandle; }
  [[nodiscard]] Result UnprepareInputBuffer(InputHandle, MidiHeader&) override { return kInvalidHandle; }
  void DetachInput(InputHandle) override {}
  unsigned OutputCount() override { return 0; }
  [[nodiscard]] Result OutputName(unsigned, std::string&) override { return kBadDeviceId; }
  [[nodiscard]] Result OpenOutput(unsigned, OutputHandle&) override { return kBadDeviceId; }
  [[nodiscard]] Result PrepareOutput(OutputHandle, MidiHeader&) override { return kInvalidHandle; }
  [[nodiscard]] Result SendLong(OutputHandle, MidiHeader&) override { return kInvalidHandle; }
  [[nodiscard]] Result UnprepareOutput(OutputHandle, MidiHeader&) override { return kInvalidHandle; }
  void Shutdown() override {}
};

} // namespace port::null
