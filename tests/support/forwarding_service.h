// Test support: a port layer that passes every call to another one, for
// tests that watch or change a few calls and leave the rest as they are.
#pragma once

#include "midi/port/port.h"

class ForwardingService : public port::MidiService {
 public:
  explicit ForwardingService(port::MidiService& inner) : inner(inner) {}

  unsigned InputCount() override { return inner.InputCount(); }
  [[nodiscard]] port::Result InputName(unsigned index, std::string& name) override {
    return inner.InputName(index, name);
  }
  [[nodiscard]] port::Result OpenInput(unsigned index, port::InputCallback callback, uintptr_t context,
                                       port::InputHandle& handle) override {
    return inner.OpenInput(index, callback, context, handle);
  }
  [[nodiscard]] port::Result StartInput(port::InputHandle handle) override { return inner.StartInput(handle); }
  [[nodiscard]] port::Result StopInput(port::InputHandle handle) override { return inner.StopInput(handle); }
  [[nodiscard]] port::Result PrepareInputBuffer(port::InputHandle handle, port::MidiHeader& header) override {
    return inner.PrepareInputBuffer(handle, header);
  }
  [[nodiscard]] port::Result AddInputBuffer(port::InputHandle handle, port::MidiHeader& header) override {
    return inner.AddInputBuffer(handle, header);
  }
  [[nodiscard]] port::Result UnprepareInputBuffer(port::InputHandle handle, port::MidiHeader& header) override {
    return inner.UnprepareInputBuffer(handle, header);
  }
  void DetachInput(port::InputHandle handle) override { inner.DetachInput(handle); }
  uint64_t LostInputEvents(port::InputHandle handle) override { return inner.LostInputEvents(handle); }

  unsigned OutputCount() override { return inner.OutputCount(); }
  [[nodiscard]] port::Result OutputName(unsigned index, std::string& name) override {
    return inner.OutputName(index, name);
  }
  [[nodiscard]] port::Result OpenOutput(unsigned index, port::OutputHandle& handle) override {
    return inner.OpenOutput(index, handle);
  }
  [[nodiscard]] port::Result PrepareOutput(port::OutputHandle handle, port::MidiHeader& header) override {
    return inner.PrepareOutput(handle, header);
  }
  [[nodiscard]] port::Result SendLong(port::OutputHandle handle, port::MidiHeader& header) override {
    return inner.SendLong(handle, header);
  }
  [[nodiscard]] port::Result UnprepareOutput(port::OutputHandle handle, port::MidiHeader& header) override {
    return inner.UnprepareOutput(handle, header);
  }
  void KeepAwake() override { inner.KeepAwake(); }
  void Pause(unsigned milliseconds) override { inner.Pause(milliseconds); }
  void Shutdown() override { inner.Shutdown(); }

 protected:
  port::MidiService& inner;
};
