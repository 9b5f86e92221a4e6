#include "midi/port/shared/queued_input_service.h"

namespace port::shared {

port::Result QueuedInputService::NameIn(const std::vector<Listed>& list, unsigned index, std::string& name) {
  std::lock_guard<std::mutex> guard(lock);
  if (index >= list.size()) return port::kBadDeviceId;
  name = list[index].name;
  return port::kNoError;
}

port::Result QueuedInputService::InputName(unsigned index, std::string& name) {
  return NameIn(inputList, index, name);
}

port::Result QueuedInputService::OutputName(unsigned index, std::string& name) {
  return NameIn(outputList, index, name);
}

port::Result QueuedInputService::DeviceOf(port::Direction direction, unsigned index, std::string& device) {
  std::lock_guard<std::mutex> guard(lock);
  const std::vector<Listed>& list = direction == port::Direction::Input ? inputList : outputList;
  if (index >= list.size()) return port::kBadDeviceId;
  if (list[index].device.empty()) return port::kNotSupported;
  device = list[index].device;
  return port::kNoError;
}

void QueuedInputService::AddOpenInput(InputPort* input) {
  openInputs.push_back(input);
}

InputPort* QueuedInputService::FindInput(port::InputHandle handle) {
  std::lock_guard<std::mutex> guard(lock);
  if (PortsGone()) return nullptr;
  for (InputPort* input : openInputs) {
    if (input->Handle() == handle) return input;
  }
  return nullptr;
}

port::Result QueuedInputService::StartInput(port::InputHandle handle) {
  InputPort* input = FindInput(handle);
  return input != nullptr ? input->Start() : port::kInvalidHandle;
}

port::Result QueuedInputService::StopInput(port::InputHandle handle) {
  InputPort* input = FindInput(handle);
  return input != nullptr ? input->Stop() : port::kInvalidHandle;
}

port::Result QueuedInputService::PrepareInputBuffer(port::InputHandle handle, port::MidiHeader& header) {
  InputPort* input = FindInput(handle);
  return input != nullptr ? input->PrepareBuffer(header) : port::kInvalidHandle;
}

port::Result QueuedInputService::AddInputBuffer(port::InputHandle handle, port::MidiHeader& header) {
  InputPort* input = FindInput(handle);
  return input != nullptr ? input->AddBuffer(header) : port::kInvalidHandle;
}

port::Result QueuedInputService::UnprepareInputBuffer(port::InputHandle handle, port::MidiHeader& header) {
  InputPort* input = FindInput(handle);
  return input != nullptr ? input->UnprepareBuffer(header) : port::kInvalidHandle;
}

void QueuedInputService::DetachInput(port::InputHandle handle) {
  InputPort* input = FindInput(handle);
  if (input != nullptr) input->Detach();
}

uint64_t QueuedInputService::LostInputEvents(port::InputHandle handle) {
  InputPort* input = FindInput(handle);
  return input != nullptr ? input->DroppedInQueue() : 0;
}

uint64_t QueuedInputService::DroppedInputMessages() {
  std::lock_guard<std::mutex> guard(lock);
  uint64_t dropped = 0;
  for (InputPort* input : openInputs) dropped += input->DroppedInQueue();
  return dropped;
}

port::Result QueuedInputService::PrepareOutput(port::OutputHandle handle, port::MidiHeader& header) {
  if (!HasOutput(handle)) return port::kInvalidHandle;
  if (header.lpData == nullptr || header.dwBufferLength == 0) return port::kInvalParam;
  header.dwFlags |= port::kHeaderPrepared;
  return port::kNoError;
}

port::Result QueuedInputService::UnprepareOutput(port::OutputHandle handle, port::MidiHeader& header) {
  if (!HasOutput(handle)) return port::kInvalidHandle;
  header.dwFlags &= ~(port::kHeaderPrepared | port::kHeaderInQueue);
  return port::kNoError;
}

} // namespace port::shared
