#include "midi/port/simulated/simulated_service.h"

#include <algorithm>
#include <cstring>
#include <deque>

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

// A port whose starting thread never comes back still gets its events.
constexpr std::chrono::milliseconds kStartSettle{50};

} // namespace

ControllerEvent ControllerEvent::ShortMessage(uint8_t status, uint8_t data1, uint8_t data2,
                                              std::chrono::microseconds delay) {
  ControllerEvent event;
  event.kind = Kind::Short;
  event.word = ShortWord(status, data1, data2);
  event.delay = delay;
  return event;
}

ControllerEvent ControllerEvent::SysExMessage(std::vector<uint8_t> bytes, std::chrono::microseconds delay) {
  ControllerEvent event;
  event.kind = Kind::SysEx;
  event.bytes = std::move(bytes);
  event.delay = delay;
  return event;
}

// The link a controller sends through: schedules on its input port.
class SimulatedService::PortLink final : public ControllerLink {
 public:
  PortLink(SimulatedService& service, InputPort* input) : service(service), input(input) {}
  void Send(ControllerEvent event) override {
    if (input != nullptr) service.Schedule(*input, std::move(event));
  }

 private:
  SimulatedService& service;
  InputPort* input;
};

struct Controller {
  std::shared_ptr<VirtualController> model;
  std::mutex calls; // one call into the controller at a time
  std::unique_ptr<ControllerLink> link;
};

struct SimulatedService::InputPort {
  std::string name;
  InputFaults faults;
  bool open = false;
  bool started = false;
  bool everStarted = false;
  bool detached = false;
  // Between StartInput and the moment the starting thread is done with it.
  bool starting = false;
  std::thread::id startingThread;
  Clock::time_point startDeadline;
  port::InputCallback callback = nullptr;
  uintptr_t context = 0;
  std::shared_ptr<Controller> controller;
  std::deque<port::MidiHeader*> queuedBuffers;
  struct Held {
    ControllerEvent event;
    std::shared_ptr<EventSource> stream;
  };
  std::vector<Held> heldUntilStart;
  Clock::time_point lastDue; // the controller's delays count from here
  InputRecord record;
};

struct SimulatedService::OutputPort {
  std::string name;
  OutputFaults faults;
  bool open = false;
  std::shared_ptr<Controller> controller;
  OutputRecord record;
  // Sends whose release was refused: the port may still read their bytes.
  struct Held {
    port::MidiHeader* header;
    std::vector<uint8_t> bytesAtSend;
  };
  std::vector<Held> held;
};

SimulatedService::SimulatedService() {
  dispatcher = std::thread([this] { DispatchLoop(); });
  dispatcherId = dispatcher.get_id();
}

SimulatedService::~SimulatedService() {
  Shutdown();
}

unsigned SimulatedService::AddInput(std::string name, InputFaults faults) {
  std::lock_guard<std::mutex> guard(lock);
  auto input = std::make_unique<InputPort>();
  input->name = std::move(name);
  input->faults = std::move(faults);
  inputs.push_back(std::move(input));
  return static_cast<unsigned>(inputs.size() - 1);
}

unsigned SimulatedService::AddOutput(std::string name, OutputFaults faults) {
  std::lock_guard<std::mutex> guard(lock);
  auto output = std::make_unique<OutputPort>();
  output->name = std::move(name);
  output->faults = std::move(faults);
  outputs.push_back(std::move(output));
  return static_cast<unsigned>(outputs.size() - 1);
}

void SimulatedService::Connect(std::shared_ptr<VirtualController> model, int inputIndex, int outputIndex) {
  if (!model) return;
  std::lock_guard<std::mutex> guard(lock);
  auto controller = std::make_shared<Controller>();
  controller->model = std::move(model);
  InputPort* input = inputIndex >= 0 ? inputs.at(static_cast<size_t>(inputIndex)).get() : nullptr;
  controller->link = std::make_unique<PortLink>(*this, input);
  if (input != nullptr) input->controller = controller;
  if (outputIndex >= 0) outputs.at(static_cast<size_t>(outputIndex))->controller = controller;
}

void SimulatedService::AddDevice(const std::string& name, std::shared_ptr<VirtualController> controller) {
  const unsigned input = AddInput(name);
  const unsigned output = AddOutput(name);
  Connect(std::move(controller), static_cast<int>(input), static_cast<int>(output));
}

void SimulatedService::SetPausesSleep(bool sleep) {
  std::lock_guard<std::mutex> guard(lock);
  pausesSleep = sleep;
}

void SimulatedService::Inject(unsigned inputIndex, ControllerEvent event) {
  InputPort* input;
  {
    std::lock_guard<std::mutex> guard(lock);
    input = inputs.at(inputIndex).get();
  }
  Schedule(*input, std::move(event));
}

void SimulatedService::AddStream(unsigned inputIndex, EventSource source) {
  auto stream = std::make_shared<EventSource>(std::move(source));
  ControllerEvent first;
  InputPort* input;
  {
    std::lock_guard<std::mutex> guard(lock);
    input = inputs.at(inputIndex).get();
    if (!(*stream)(first)) return;
  }
  Schedule(*input, std::move(first), std::move(stream));
}

void SimulatedService::Schedule(InputPort& input, ControllerEvent event, std::shared_ptr<EventSource> stream) {
  std::lock_guard<std::mutex> guard(lock);
  if (shuttingDown || input.detached) return;
  if (!input.started) {
    // Before the first start the controller's bytes wait, like bytes in a
    // USB buffer; after a stop nobody listens any more.
    if (!input.everStarted) input.heldUntilStart.push_back({std::move(event), std::move(stream)});
    return;
  }
  if (input.starting) {
    input.heldUntilStart.push_back({std::move(event), std::move(stream)});
    return;
  }
  QueueLocked(input, std::move(event), std::move(stream));
}

void SimulatedService::QueueLocked(InputPort& input, ControllerEvent event, std::shared_ptr<EventSource> stream) {
  const Clock::time_point now = Clock::now();
  const Clock::time_point due = std::max(now, input.lastDue) + event.delay;
  input.lastDue = due;
  queue.emplace(due, Pending{&input, std::move(event), std::move(stream)});
  wake.notify_all();
}

void SimulatedService::ReleaseHeldLocked(InputPort& input) {
  if (!input.starting) return;
  input.starting = false;
  --startingPorts;
  std::vector<InputPort::Held> held = std::move(input.heldUntilStart);
  input.heldUntilStart.clear();
  for (InputPort::Held& entry : held) QueueLocked(input, std::move(entry.event), std::move(entry.stream));
  settled.notify_all();
}

void SimulatedService::EndStartsLocked(const InputPort* exceptPort) {
  if (startingPorts == 0) return;
  const std::thread::id self = std::this_thread::get_id();
  for (auto& input : inputs) {
    if (input->starting && input.get() != exceptPort && input->startingThread == self) ReleaseHeldLocked(*input);
  }
}

void SimulatedService::DispatchLoop() {
  std::unique_lock<std::mutex> guard(lock);
  while (!shuttingDown) {
    const Clock::time_point now = Clock::now();
    // Ports whose starter never came back within the settle time.
    if (startingPorts > 0) {
      for (auto& input : inputs) {
        if (input->starting && input->startDeadline <= now) ReleaseHeldLocked(*input);
      }
    }
    if (!queue.empty() && queue.begin()->first <= now) {
      const Clock::time_point due = queue.begin()->first;
      Pending pending = std::move(queue.begin()->second);
      queue.erase(queue.begin());
      Deliver(*pending.input, pending.event, guard);
      ControllerEvent next;
      // A stream ends with its port's input: after a stop nobody listens.
      if (pending.stream && !shuttingDown && !pending.input->detached && pending.input->started &&
          (*pending.stream)(next)) {
        // A fixed schedule: the next event is due after this one's due time,
        // not after the moment it was delivered.
        const Clock::time_point nextDue = due + next.delay;
        pending.input->lastDue = std::max(pending.input->lastDue, nextDue);
        queue.emplace(nextDue, Pending{pending.input, std::move(next), std::move(pending.stream)});
      }
      settled.notify_all();
      continue;
    }
    Clock::time_point nextWake = Clock::time_point::max();
    if (!queue.empty()) nextWake = queue.begin()->first;
    for (auto& input : inputs) {
      if (input->starting) nextWake = std::min(nextWake, input->startDeadline);
    }
    settled.notify_all();
    if (nextWake == Clock::time_point::max()) {
      wake.wait(guard);
    } else {
      wake.wait_until(guard, nextWake);
    }
  }
  settled.notify_all();
}

void SimulatedService::Callback(InputPort& input, uint32_t message, uintptr_t param1,
                                std::unique_lock<std::mutex>& guard) {
  if (input.detached || input.callback == nullptr) return;
  const port::InputCallback callback = input.callback;
  const uintptr_t context = input.context;
  ++input.record.delivered;
  delivering = &input;
  guard.unlock();
  callback(reinterpret_cast<port::InputHandle>(&input), message, context, param1, 0);
  guard.lock();
  delivering = nullptr;
  settled.notify_all();
}

void SimulatedService::Deliver(InputPort& input, ControllerEvent& event, std::unique_lock<std::mutex>& guard) {
  if (input.detached || !input.started) return;
  switch (event.kind) {
    case ControllerEvent::Kind::Short:
      Callback(input, port::kEventData, event.word, guard);
      break;
    case ControllerEvent::Kind::InvalidShort:
      Callback(input, port::kEventError, event.word, guard);
      break;
    case ControllerEvent::Kind::Close:
      Callback(input, port::kEventClose, 0, guard);
      break;
    case ControllerEvent::Kind::RawEvent:
      Callback(input, event.word, 0, guard);
      break;
    case ControllerEvent::Kind::SysEx:
    case ControllerEvent::Kind::InvalidLong: {
      // Bytes land only in queued buffers; a message longer than one buffer
      // goes on in the next, which the callback queues again in time.
      size_t offset = 0;
      do {
        if (input.detached || !input.started) return;
        if (input.queuedBuffers.empty()) {
          ++input.record.droppedLongMessages;
          return;
        }
        port::MidiHeader* header = input.queuedBuffers.front();
        input.queuedBuffers.pop_front();
        const size_t count = std::min<size_t>(event.bytes.size() - offset, header->dwBufferLength);
        if (count > 0) std::memcpy(header->lpData, event.bytes.data() + offset, count);
        offset += count;
        header->dwBytesRecorded = static_cast<uint32_t>(count);
        header->dwFlags = (header->dwFlags & ~port::kHeaderInQueue) | port::kHeaderDone;
        const uint32_t message =
            event.kind == ControllerEvent::Kind::SysEx ? port::kEventLongData : port::kEventLongError;
        Callback(input, message, reinterpret_cast<uintptr_t>(header), guard);
        if (event.kind == ControllerEvent::Kind::InvalidLong) return; // the rest is lost with it
      } while (offset < event.bytes.size());
      break;
    }
  }
}

bool SimulatedService::IdleLocked() const {
  return queue.empty() && delivering == nullptr && startingPorts == 0;
}

void SimulatedService::WaitUntilIdle() {
  std::unique_lock<std::mutex> guard(lock);
  EndStartsLocked(nullptr);
  settled.wait(guard, [this] { return shuttingDown || IdleLocked(); });
}

OutputRecord SimulatedService::Output(unsigned outputIndex) {
  std::lock_guard<std::mutex> guard(lock);
  return outputs.at(outputIndex)->record;
}

InputRecord SimulatedService::Input(unsigned inputIndex) {
  std::lock_guard<std::mutex> guard(lock);
  return inputs.at(inputIndex)->record;
}

std::vector<unsigned> SimulatedService::Pauses() {
  std::lock_guard<std::mutex> guard(lock);
  return pauses;
}

int SimulatedService::KeepAwakeCalls() {
  std::lock_guard<std::mutex> guard(lock);
  return keepAwakeCalls;
}

int SimulatedService::CorruptedHeldSends() {
  std::lock_guard<std::mutex> guard(lock);
  return corruptedHeldSends;
}

SimulatedService::InputPort* SimulatedService::FindInput(port::InputHandle handle) {
  for (auto& input : inputs) {
    if (reinterpret_cast<port::InputHandle>(input.get()) == handle) return input->open ? input.get() : nullptr;
  }
  return nullptr;
}

SimulatedService::OutputPort* SimulatedService::FindOutput(port::OutputHandle handle) {
  for (auto& output : outputs) {
    if (reinterpret_cast<port::OutputHandle>(output.get()) == handle) return output->open ? output.get() : nullptr;
  }
  return nullptr;
}

// --- input ports ---

unsigned SimulatedService::InputCount() {
  std::lock_guard<std::mutex> guard(lock);
  EndStartsLocked(nullptr);
  return static_cast<unsigned>(inputs.size());
}

port::Result SimulatedService::InputName(unsigned index, std::string& name) {
  std::lock_guard<std::mutex> guard(lock);
  EndStartsLocked(nullptr);
  if (index >= inputs.size()) return port::kBadDeviceId;
  InputPort& input = *inputs[index];
  const port::Result result = input.faults.name.Next();
  if (result != port::kNoError) return result;
  name = input.name;
  return port::kNoError;
}

port::Result SimulatedService::OpenInput(unsigned index, port::InputCallback callback, uintptr_t context,
                                         port::InputHandle& handle) {
  std::unique_lock<std::mutex> guard(lock);
  EndStartsLocked(nullptr);
  if (index >= inputs.size()) return port::kBadDeviceId;
  InputPort& input = *inputs[index];
  const port::Result result = input.faults.open.Next();
  if (result != port::kNoError) return result;
  if (input.open) return port::kAllocated;
  input.open = true;
  input.callback = callback;
  input.context = context;
  handle = reinterpret_cast<port::InputHandle>(&input);
  // winmm reports the open from inside the open call.
  ++input.record.delivered;
  guard.unlock();
  callback(handle, port::kEventOpen, context, 0, 0);
  return port::kNoError;
}

port::Result SimulatedService::StartInput(port::InputHandle handle) {
  std::shared_ptr<Controller> controller;
  {
    std::lock_guard<std::mutex> guard(lock);
    InputPort* input = FindInput(handle);
    EndStartsLocked(input);
    if (input == nullptr) return port::kInvalidHandle;
    const port::Result result = input->faults.start.Next();
    if (result != port::kNoError) return result;
    if (input->started) return port::kNoError;
    input->started = true;
    const bool first = !input->everStarted;
    input->everStarted = true;
    input->starting = true;
    ++startingPorts;
    input->startingThread = std::this_thread::get_id();
    input->startDeadline = Clock::now() + kStartSettle;
    wake.notify_all();
    if (first) controller = input->controller;
  }
  if (controller) {
    std::lock_guard<std::mutex> calls(controller->calls);
    controller->model->OnInputStarted(*controller->link);
  }
  return port::kNoError;
}

port::Result SimulatedService::StopInput(port::InputHandle handle) {
  std::lock_guard<std::mutex> guard(lock);
  InputPort* input = FindInput(handle);
  EndStartsLocked(input);
  if (input == nullptr) return port::kInvalidHandle;
  const port::Result result = input->faults.stop.Next();
  if (result != port::kNoError) return result;
  ReleaseHeldLocked(*input);
  input->started = false;
  // Like winmm: empty buffers stay queued after a stop, until released.
  return port::kNoError;
}

port::Result SimulatedService::PrepareInputBuffer(port::InputHandle handle, port::MidiHeader& header) {
  std::lock_guard<std::mutex> guard(lock);
  InputPort* input = FindInput(handle);
  EndStartsLocked(input);
  if (input == nullptr) return port::kInvalidHandle;
  const port::Result result = input->faults.prepare.Next();
  if (result != port::kNoError) return result;
  if (header.lpData == nullptr || header.dwBufferLength == 0) return port::kInvalParam;
  header.dwFlags |= port::kHeaderPrepared;
  return port::kNoError;
}

port::Result SimulatedService::AddInputBuffer(port::InputHandle handle, port::MidiHeader& header) {
  std::lock_guard<std::mutex> guard(lock);
  InputPort* input = FindInput(handle);
  EndStartsLocked(input);
  if (input == nullptr) return port::kInvalidHandle;
  const port::Result result = input->faults.addBuffer.Next();
  if (result != port::kNoError) return result;
  if ((header.dwFlags & port::kHeaderPrepared) == 0) return port::kUnprepared;
  if ((header.dwFlags & port::kHeaderInQueue) != 0) return port::kStillPlaying;
  header.dwFlags = (header.dwFlags & ~port::kHeaderDone) | port::kHeaderInQueue;
  header.dwBytesRecorded = 0;
  input->queuedBuffers.push_back(&header);
  // The buffer the first reply needs is there: let the held events go.
  ReleaseHeldLocked(*input);
  return port::kNoError;
}

port::Result SimulatedService::UnprepareInputBuffer(port::InputHandle handle, port::MidiHeader& header) {
  std::lock_guard<std::mutex> guard(lock);
  InputPort* input = FindInput(handle);
  EndStartsLocked(input);
  if (input == nullptr) return port::kInvalidHandle;
  const port::Result result = input->faults.unprepare.Next();
  if (result != port::kNoError) return result;
  if ((header.dwFlags & port::kHeaderPrepared) == 0) return port::kNoError;
  if ((header.dwFlags & port::kHeaderInQueue) != 0) {
    if (input->started) return port::kStillPlaying;
    // A stopped port hands its queued buffers back, returned empty.
    input->queuedBuffers.erase(std::remove(input->queuedBuffers.begin(), input->queuedBuffers.end(), &header),
                               input->queuedBuffers.end());
    header.dwBytesRecorded = 0;
    header.dwFlags = (header.dwFlags & ~port::kHeaderInQueue) | port::kHeaderDone;
  }
  header.dwFlags &= ~port::kHeaderPrepared;
  return port::kNoError;
}

void SimulatedService::DetachInput(port::InputHandle handle) {
  std::unique_lock<std::mutex> guard(lock);
  InputPort* input = FindInput(handle);
  if (input == nullptr) return;
  input->detached = true;
  input->heldUntilStart.clear();
  input->queuedBuffers.clear();
  ReleaseHeldLocked(*input);
  // A callback already running on the dispatcher must finish first; from
  // inside a callback there is nothing to wait for.
  if (std::this_thread::get_id() == dispatcherId) return;
  settled.wait(guard, [this, input] { return delivering != input; });
}

// --- output ports ---

unsigned SimulatedService::OutputCount() {
  std::lock_guard<std::mutex> guard(lock);
  EndStartsLocked(nullptr);
  return static_cast<unsigned>(outputs.size());
}

port::Result SimulatedService::OutputName(unsigned index, std::string& name) {
  std::lock_guard<std::mutex> guard(lock);
  EndStartsLocked(nullptr);
  if (index >= outputs.size()) return port::kBadDeviceId;
  OutputPort& output = *outputs[index];
  const port::Result result = output.faults.name.Next();
  if (result != port::kNoError) return result;
  name = output.name;
  return port::kNoError;
}

port::Result SimulatedService::OpenOutput(unsigned index, port::OutputHandle& handle) {
  std::lock_guard<std::mutex> guard(lock);
  EndStartsLocked(nullptr);
  if (index >= outputs.size()) return port::kBadDeviceId;
  OutputPort& output = *outputs[index];
  const port::Result result = output.faults.open.Next();
  if (result != port::kNoError) return result;
  // One client per output port, as most MIDI drivers allow.
  if (output.open) return port::kAllocated;
  output.open = true;
  handle = reinterpret_cast<port::OutputHandle>(&output);
  return port::kNoError;
}

port::Result SimulatedService::PrepareOutput(port::OutputHandle handle, port::MidiHeader& header) {
  std::lock_guard<std::mutex> guard(lock);
  EndStartsLocked(nullptr);
  OutputPort* output = FindOutput(handle);
  if (output == nullptr) return port::kInvalidHandle;
  ++output->record.prepareCalls;
  const port::Result result = output->faults.prepare.Next();
  if (result != port::kNoError) return result;
  header.dwFlags |= port::kHeaderPrepared;
  return port::kNoError;
}

port::Result SimulatedService::SendLong(port::OutputHandle handle, port::MidiHeader& header) {
  std::shared_ptr<Controller> controller;
  {
    std::lock_guard<std::mutex> guard(lock);
    EndStartsLocked(nullptr);
    OutputPort* output = FindOutput(handle);
    if (output == nullptr) return port::kInvalidHandle;
    ++output->record.sendCalls;
    const port::Result result = output->faults.send.Next();
    if (result != port::kNoError) return result;
    if ((header.dwFlags & port::kHeaderPrepared) == 0) return port::kUnprepared;
    output->record.messages.emplace_back(header.lpData, header.lpData + header.dwBufferLength);
    header.dwFlags |= port::kHeaderInQueue;
    controller = output->controller;
  }
  if (controller) {
    std::lock_guard<std::mutex> calls(controller->calls);
    controller->model->OnReceive(header.lpData, header.dwBufferLength, *controller->link);
  }
  return port::kNoError;
}

port::Result SimulatedService::UnprepareOutput(port::OutputHandle handle, port::MidiHeader& header) {
  std::lock_guard<std::mutex> guard(lock);
  EndStartsLocked(nullptr);
  OutputPort* output = FindOutput(handle);
  if (output == nullptr) return port::kInvalidHandle;
  ++output->record.releaseCalls;
  const port::Result result = output->faults.release.Next();
  auto held = std::find_if(output->held.begin(), output->held.end(),
                           [&header](const OutputPort::Held& entry) { return entry.header == &header; });
  if (result == port::kStillPlaying) {
    // Still "playing": remember what the bytes were, to check later that
    // nobody touched them while the port held them.
    if (held == output->held.end() && header.lpData != nullptr) {
      output->held.push_back({&header, std::vector<uint8_t>(header.lpData, header.lpData + header.dwBufferLength)});
    }
    return result;
  }
  if (held != output->held.end()) output->held.erase(held);
  if (result != port::kNoError) return result;
  header.dwFlags &= ~(port::kHeaderPrepared | port::kHeaderInQueue);
  return port::kNoError;
}

void SimulatedService::CheckHeldSendsLocked() {
  for (auto& output : outputs) {
    for (const OutputPort::Held& held : output->held) {
      // Reads memory the caller was not allowed to free: a sanitizer
      // reports it if it was, and a changed byte counts as corruption.
      if (held.header->dwBufferLength != held.bytesAtSend.size() ||
          !std::equal(held.bytesAtSend.begin(), held.bytesAtSend.end(), held.header->lpData)) {
        ++corruptedHeldSends;
      }
    }
    output->held.clear();
  }
}

void SimulatedService::KeepAwake() {
  std::lock_guard<std::mutex> guard(lock);
  ++keepAwakeCalls;
}

void SimulatedService::Pause(unsigned milliseconds) {
  bool sleep;
  {
    std::lock_guard<std::mutex> guard(lock);
    pauses.push_back(milliseconds);
    sleep = pausesSleep;
  }
  if (sleep) port::MidiService::Pause(milliseconds);
}

void SimulatedService::Shutdown() {
  {
    std::lock_guard<std::mutex> guard(lock);
    if (!shuttingDown) {
      shuttingDown = true;
      CheckHeldSendsLocked();
    }
    wake.notify_all();
    settled.notify_all();
  }
  if (dispatcher.joinable() && std::this_thread::get_id() != dispatcherId) dispatcher.join();
}

} // namespace sim
