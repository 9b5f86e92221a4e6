// Test support: a port layer between the device layer and a real one (RtMidi,
// JACK) that records every message sent to a device while the input of the
// same name could not take an answer yet: not started, or with no
// long-message buffer queued. A message sent from inside that input's own
// callback counts as ready: the device layer gives its buffer back as the
// callback returns, before any answer can come.
//
// The simulated service sees its controllers and checks this itself; a
// controller on a real MIDI server runs elsewhere and cannot, so the check
// watches the program's side of the seam instead.
//
// Threads: every call may come from any thread; the state is under one lock,
// never held while the wrapped layer or the device layer's callback runs.
#pragma once

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "midi/port/port.h"
#include "tests/support/forwarding_service.h"

class EarlyRequestCheck final : public ForwardingService {
 public:
  explicit EarlyRequestCheck(port::MidiService& inner) : ForwardingService(inner) {}

  std::vector<std::string> EarlyRequests() {
    std::lock_guard<std::mutex> guard(lock);
    return early;
  }

  [[nodiscard]] port::Result OpenInput(unsigned index, port::InputCallback callback, uintptr_t context,
                                       port::InputHandle& handle) override {
    auto input = std::make_unique<Input>();
    input->check = this;
    input->callback = callback;
    input->context = context;
    inner.InputName(index, input->name);
    Input* watched = input.get();
    {
      std::lock_guard<std::mutex> guard(lock);
      inputs.push_back(std::move(input));
    }
    const port::Result result = inner.OpenInput(index, Relay, reinterpret_cast<uintptr_t>(watched), handle);
    std::lock_guard<std::mutex> guard(lock);
    if (result == port::kNoError) watched->handle = handle;
    return result;
  }
  [[nodiscard]] port::Result StartInput(port::InputHandle handle) override {
    const port::Result result = inner.StartInput(handle);
    std::lock_guard<std::mutex> guard(lock);
    if (Input* input = Find(handle); input != nullptr && result == port::kNoError) input->started = true;
    return result;
  }
  [[nodiscard]] port::Result StopInput(port::InputHandle handle) override {
    {
      std::lock_guard<std::mutex> guard(lock);
      if (Input* input = Find(handle); input != nullptr) input->started = false;
    }
    return inner.StopInput(handle);
  }
  [[nodiscard]] port::Result AddInputBuffer(port::InputHandle handle, port::MidiHeader& header) override {
    // Counted before the layer has it: a message may fill it at once.
    {
      std::lock_guard<std::mutex> guard(lock);
      if (Input* input = Find(handle); input != nullptr) ++input->queued;
    }
    const port::Result result = inner.AddInputBuffer(handle, header);
    if (result != port::kNoError) {
      std::lock_guard<std::mutex> guard(lock);
      if (Input* input = Find(handle); input != nullptr) --input->queued;
    }
    return result;
  }

  [[nodiscard]] port::Result OpenOutput(unsigned index, port::OutputHandle& handle) override {
    const port::Result result = inner.OpenOutput(index, handle);
    if (result == port::kNoError) {
      std::string name;
      inner.OutputName(index, name);
      std::lock_guard<std::mutex> guard(lock);
      outputs.push_back({handle, name});
    }
    return result;
  }
  [[nodiscard]] port::Result SendLong(port::OutputHandle handle, port::MidiHeader& header) override {
    {
      std::lock_guard<std::mutex> guard(lock);
      const auto output = std::find_if(outputs.begin(), outputs.end(),
                                       [handle](const Output& entry) { return entry.handle == handle; });
      if (output != outputs.end()) {
        for (const auto& input : inputs) {
          if (input->handle == nullptr || input->name != output->name) continue;
          const bool fromItsCallback = input->inCallback && input->callbackThread == std::this_thread::get_id();
          if (!input->started) {
            early.push_back(output->name + ": sent before its input was started");
          } else if (input->queued == 0 && !fromItsCallback) {
            early.push_back(output->name + ": sent while its input had no buffer");
          }
        }
      }
    }
    return inner.SendLong(handle, header);
  }

 private:
  struct Input {
    EarlyRequestCheck* check = nullptr;
    port::InputCallback callback = nullptr;
    uintptr_t context = 0;
    port::InputHandle handle = nullptr;
    std::string name;
    bool started = false;
    int queued = 0; // buffers with the layer
    bool inCallback = false;
    std::thread::id callbackThread;
  };
  struct Output {
    port::OutputHandle handle;
    std::string name;
  };

  static void Relay(port::InputHandle handle, uint32_t message, uintptr_t context, uintptr_t param1, uintptr_t param2) {
    auto* input = reinterpret_cast<Input*>(context);
    {
      std::lock_guard<std::mutex> guard(input->check->lock);
      if (message == port::kEventLongData || message == port::kEventLongError) --input->queued;
      input->inCallback = true;
      input->callbackThread = std::this_thread::get_id();
    }
    input->callback(handle, message, input->context, param1, param2);
    std::lock_guard<std::mutex> guard(input->check->lock);
    input->inCallback = false;
  }

  Input* Find(port::InputHandle handle) {
    for (const auto& input : inputs) {
      if (input->handle == handle) return input.get();
    }
    return nullptr;
  }

  std::mutex lock;
  std::vector<std::unique_ptr<Input>> inputs;
  std::vector<Output> outputs;
  std::vector<std::string> early;
};
