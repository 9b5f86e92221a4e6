// What the RtMidi and JACK layers do alike: the lists of ports the last
// count found (each port's name as the service knows it, as shown, and the
// device it tells), every input call after the open, each handed to the
// open port's shared::InputPort with its hand-over queue, and the output
// header calls: both layers copy a send's bytes during the send, so a
// header needs nothing but its flags.
//
// A layer derives from it, fills the lists in its InputCount and
// OutputCount, and hands each input port it opens to AddOpenInput.
//
// Threads: any. The lists and the open ports are used under `lock`, which
// the layer takes for its own state too. Ownership: the layer owns its open
// ports and keeps them until it is destroyed; this keeps pointers to them.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "midi/port/port.h"
#include "midi/port/shared/input_port.h"

namespace port::shared {

class QueuedInputService : public port::MidiService {
 public:
  [[nodiscard]] port::Result InputName(unsigned index, std::string& name) override;
  [[nodiscard]] port::Result OutputName(unsigned index, std::string& name) override;
  // The device the name or its service told at the count, if any.
  [[nodiscard]] port::Result DeviceOf(port::Direction direction, unsigned index, std::string& device) override;
  [[nodiscard]] port::Result StartInput(port::InputHandle handle) override;
  [[nodiscard]] port::Result StopInput(port::InputHandle handle) override;
  [[nodiscard]] port::Result PrepareInputBuffer(port::InputHandle handle, port::MidiHeader& header) override;
  [[nodiscard]] port::Result AddInputBuffer(port::InputHandle handle, port::MidiHeader& header) override;
  [[nodiscard]] port::Result UnprepareInputBuffer(port::InputHandle handle, port::MidiHeader& header) override;
  void DetachInput(port::InputHandle handle) override;
  // Messages of the port lost because its hand-over queue was full.
  uint64_t LostInputEvents(port::InputHandle handle) override;
  // The same, of all inputs.
  uint64_t DroppedInputMessages();
  [[nodiscard]] port::Result PrepareOutput(port::OutputHandle handle, port::MidiHeader& header) override;
  // Always succeeds on an open port: nothing holds the bytes after the send.
  [[nodiscard]] port::Result UnprepareOutput(port::OutputHandle handle, port::MidiHeader& header) override;

 protected:
  struct Listed {
    std::string rawName; // as the service knows the port
    std::string name;    // as the device layer sees it (port_names.h)
    std::string device;  // "" when nothing tells
  };

  // Under lock: an opened port, from now on found by its handle.
  void AddOpenInput(InputPort* input);
  // Whether the handle is an output port the layer opened.
  virtual bool HasOutput(port::OutputHandle handle) = 0;
  // Under lock: whether the layer has let go of its ports (handles given out
  // before then fail).
  virtual bool PortsGone() const { return false; }

  std::mutex lock;
  std::vector<Listed> inputList;  // the last InputCount's, under lock
  std::vector<Listed> outputList; // the last OutputCount's, under lock

 private:
  InputPort* FindInput(port::InputHandle handle);
  [[nodiscard]] port::Result NameIn(const std::vector<Listed>& list, unsigned index, std::string& name);

  std::vector<InputPort*> openInputs;
};

} // namespace port::shared
