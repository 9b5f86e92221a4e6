#include "midi/port/simulated/simulated_service.h"

#include <algorithm>
#include <cstring>
#include <deque>

#include "midi/port/shared/message_splitter.h"
#include "midi/port/simulated/windows_port_names.h"

namespace port::sim {

namespace {

using Clock = std::chrono::steady_clock;
using port::shared::IsRealTime;
using port::shared::IsStatus;
using port::shared::kSysExEnd;
using port::shared::kSysExStart;

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

// The link a controller sends through: schedules on its input port. What a
// controller sends while it is handling a message it received is its answer,
// which takes the model's answer latency at least.
class SimulatedService::PortLink final : public ControllerLink {
 public:
  PortLink(SimulatedService& service, InputPort* input) : service(service), input(input) {}
  void Send(ControllerEvent event) override {
    if (input != nullptr) service.Schedule(*input, std::move(event), answerLatency);
  }
  // Set by the sender around OnReceive, under the controller's call lock.
  std::chrono::microseconds answerLatency{0};

 private:
  SimulatedService& service;
  InputPort* input;
};

struct SimulatedService::Controller {
  std::shared_ptr<VirtualController> model;
  std::mutex calls; // one call into the controller at a time
  std::unique_ptr<PortLink> link;
  InputPort* input = nullptr;   // where it answers
  OutputPort* output = nullptr; // where it is sent to
};

struct SimulatedService::InputPort {
  std::string name;
  std::string devicePath;
  InputFaults faults;
  bool open = false;
  bool started = false;
  bool everStarted = false;
  bool detached = false;
  bool unplugged = false;
  port::InputCallback callback = nullptr;
  uintptr_t context = 0;
  std::shared_ptr<Controller> controller;
  // In the order they were queued, each with the moment it was.
  struct Queued {
    port::MidiHeader* header;
    Clock::time_point at;
  };
  std::deque<Queued> queuedBuffers;
  // Input counts from here: what arrived earlier was not listened to.
  Clock::time_point startedAt;
  // When the last callback of the port returned. The service reads the
  // port's next bytes only then, so that is when they count as arrived.
  Clock::time_point lastCallbackDone;
  // The System Exclusive message being read: the buffer it is written into
  // (out of the queue, not yet handed back) and how much of it is written.
  bool inSysEx = false;
  bool sysExBegun = false; // a byte of it has been written
  bool skipping = false;   // it found no buffer: its rest is dropped
  // A wait for a buffer ran out: messages that find none are dropped at
  // once, until one finds a buffer at its F0.
  bool discardingSysEx = false;
  port::MidiHeader* filling = nullptr;
  uint32_t fillCount = 0;
  // Events due, by due time, then in the order sent; the port's delivery
  // thread takes them off.
  std::multimap<Clock::time_point, Pending> queue;
  std::condition_variable wake; // the delivery thread: new events, shutdown
  std::thread thread;
  std::thread::id threadId;
  bool reading = false; // in the middle of an event
  // A callback of this port is running, on that thread.
  bool inCallback = false;
  std::thread::id callbackThread;
  // Streams that begin when input starts.
  std::vector<Pending> parkedStreams;
  Clock::time_point arrival; // of the event being read
  Clock::time_point lastDue; // the controller's delays count from here
  InputRecord record;
};

struct SimulatedService::OutputPort {
  std::string name;
  std::string devicePath;
  OutputFaults faults;
  bool open = false;
  bool unplugged = false;
  // The device stopped taking data: every send fails at once.
  bool stalled = false;
  std::shared_ptr<Controller> controller;
  OutputRecord record;
  int preparedHeaders = 0; // prepared and not yet released
  // Sends whose release was refused: the port may still read their bytes.
  struct Held {
    port::MidiHeader* header;
    std::vector<uint8_t> bytesAtSend;
  };
  std::vector<Held> held;
  // Headers of stalled sends the service never gives back.
  std::vector<port::MidiHeader*> keptForGood;
};

SimulatedService::SimulatedService(ServiceModel serviceModel) : model(serviceModel) {}

SimulatedService::~SimulatedService() {
  Shutdown();
}

unsigned SimulatedService::AddInput(std::string name, InputFaults faults, std::string devicePath) {
  std::lock_guard<std::mutex> guard(lock);
  return AddInputLocked(std::move(name), std::move(faults), std::move(devicePath));
}

unsigned SimulatedService::AddOutput(std::string name, OutputFaults faults, std::string devicePath) {
  std::lock_guard<std::mutex> guard(lock);
  return AddOutputLocked(std::move(name), std::move(faults), std::move(devicePath));
}

std::string SimulatedService::OwnDevicePathLocked() {
  return DeviceInterfacePath("Port " + std::to_string(++portsOfTheirOwn), 1, model.lowerCaseDevicePaths);
}

unsigned SimulatedService::AddInputLocked(std::string name, InputFaults faults, std::string devicePath) {
  auto input = std::make_unique<InputPort>();
  input->name = std::move(name);
  input->faults = std::move(faults);
  input->devicePath = devicePath.empty() ? OwnDevicePathLocked() : std::move(devicePath);
  InputPort* port = input.get();
  inputs.push_back(std::move(input));
  // One delivery thread per port, as the Windows service has.
  port->thread = std::thread([this, port] { DeliveryLoop(*port); });
  port->threadId = port->thread.get_id();
  return static_cast<unsigned>(inputs.size() - 1);
}

unsigned SimulatedService::AddOutputLocked(std::string name, OutputFaults faults, std::string devicePath) {
  auto output = std::make_unique<OutputPort>();
  output->name = std::move(name);
  output->faults = std::move(faults);
  output->devicePath = devicePath.empty() ? OwnDevicePathLocked() : std::move(devicePath);
  outputs.push_back(std::move(output));
  return static_cast<unsigned>(outputs.size() - 1);
}

void SimulatedService::Connect(std::shared_ptr<VirtualController> model, int inputIndex, int outputIndex) {
  if (!model) return;
  std::lock_guard<std::mutex> guard(lock);
  auto controller = std::make_shared<Controller>();
  controller->model = std::move(model);
  controller->input = inputIndex >= 0 ? inputs.at(static_cast<size_t>(inputIndex)).get() : nullptr;
  controller->output = outputIndex >= 0 ? outputs.at(static_cast<size_t>(outputIndex)).get() : nullptr;
  controller->link = std::make_unique<PortLink>(*this, controller->input);
  if (controller->input != nullptr) controller->input->controller = controller;
  if (controller->output != nullptr) controller->output->controller = controller;
}

void SimulatedService::AddDevice(const std::string& name, std::shared_ptr<VirtualController> controller) {
  unsigned input;
  unsigned output;
  {
    std::lock_guard<std::mutex> guard(lock);
    const std::string device = OwnDevicePathLocked();
    input = AddInputLocked(name, {}, device);
    output = AddOutputLocked(name, {}, device);
  }
  Connect(std::move(controller), static_cast<int>(input), static_cast<int>(output));
}

DevicePorts SimulatedService::AddUsbDevice(const UsbDevice& device, std::shared_ptr<VirtualController> controller) {
  DevicePorts ports;
  {
    std::lock_guard<std::mutex> guard(lock);
    const unsigned unit = ++usbUnits[device.name];
    const std::string path = DeviceInterfacePath(device.name, unit, model.lowerCaseDevicePaths);
    for (size_t at = 0; at < device.inputJacks.size(); ++at) {
      const std::string name = WindowsPortName(model.naming, device.name, device.inputJacks[at], port::Direction::Input,
                                               static_cast<unsigned>(at + 1), unit);
      ports.inputs.push_back(AddInputLocked(name, {}, path));
    }
    for (size_t at = 0; at < device.outputJacks.size(); ++at) {
      const std::string name = WindowsPortName(model.naming, device.name, device.outputJacks[at],
                                               port::Direction::Output, static_cast<unsigned>(at + 1), unit);
      ports.outputs.push_back(AddOutputLocked(name, {}, path));
    }
  }
  Connect(std::move(controller), ports.inputs.empty() ? -1 : static_cast<int>(ports.inputs.front()),
          ports.outputs.empty() ? -1 : static_cast<int>(ports.outputs.front()));
  return ports;
}

namespace {

// What a loopback port pair does: what is sent to its output comes back at
// its input.
class Loopback final : public VirtualController {
 public:
  void OnReceive(const uint8_t* bytes, size_t length, ControllerLink& link) override {
    link.SendSysEx(std::vector<uint8_t>(bytes, bytes + length));
  }
};

} // namespace

void SimulatedService::AddServiceSynth() {
  std::lock_guard<std::mutex> guard(lock);
  const std::string path = DeviceInterfacePath("General MIDI Synth", 1, model.lowerCaseDevicePaths);
  AddInputLocked("General MIDI Synth", {}, path);
  AddOutputLocked("General MIDI Synth", {}, path);
}

void SimulatedService::AddLoopback(const std::string& name) {
  unsigned input;
  unsigned output;
  {
    std::lock_guard<std::mutex> guard(lock);
    const std::string path = DeviceInterfacePath("Loopback " + name, 1, model.lowerCaseDevicePaths);
    input = AddInputLocked(name, {}, path);
    output = AddOutputLocked(name, {}, path);
  }
  Connect(std::make_shared<Loopback>(), static_cast<int>(input), static_cast<int>(output));
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
  std::lock_guard<std::mutex> guard(lock);
  InputPort& input = *inputs.at(inputIndex);
  ControllerEvent first;
  if (!(*stream)(first)) return;
  if (input.started) {
    QueueLocked(input, std::move(first), std::move(stream));
  } else {
    input.parkedStreams.push_back({&input, std::move(first), std::move(stream)});
  }
}

void SimulatedService::Schedule(InputPort& input, ControllerEvent event, std::chrono::microseconds earliest) {
  std::lock_guard<std::mutex> guard(lock);
  if (shuttingDown || input.detached || input.unplugged) return;
  // The cable is pulled now: sends fail from this moment, while what the
  // device sent before still comes in, and then its input reports closed.
  if (event.kind == ControllerEvent::Kind::Unplug && input.controller && input.controller->output != nullptr) {
    input.controller->output->unplugged = true;
  }
  // Whether anybody listens is decided when the event arrives, not now.
  QueueLocked(input, std::move(event), nullptr, earliest);
}

void SimulatedService::QueueLocked(InputPort& input, ControllerEvent event, std::shared_ptr<EventSource> stream,
                                   std::chrono::microseconds earliest) {
  const Clock::time_point due = std::max(Clock::now() + earliest, input.lastDue) + event.delay;
  input.lastDue = due;
  input.queue.emplace(due, Pending{&input, std::move(event), std::move(stream)});
  input.wake.notify_all();
}

bool SimulatedService::ListeningLocked(const InputPort& input) const {
  return input.open && (input.started || input.faults.deliversWhileStopped) && !input.detached && !input.unplugged &&
         !shuttingDown;
}

void SimulatedService::DeliveryLoop(InputPort& input) {
  std::multimap<Clock::time_point, Pending>& queue = input.queue;
  std::unique_lock<std::mutex> guard(lock);
  while (!shuttingDown) {
    if (!queue.empty() && queue.begin()->first <= Clock::now()) {
      const Clock::time_point due = queue.begin()->first;
      Pending pending = std::move(queue.begin()->second);
      queue.erase(queue.begin());
      input.reading = true;
      Deliver(input, pending.event, due, guard);
      ControllerEvent next;
      // A stream ends with its port's input: after a stop nobody listens.
      if (pending.stream && ListeningLocked(input) && (*pending.stream)(next)) {
        // A fixed schedule: the next event is due after this one's due time,
        // not after the moment it was delivered.
        const Clock::time_point nextDue = due + next.delay;
        input.lastDue = std::max(input.lastDue, nextDue);
        queue.emplace(nextDue, Pending{&input, std::move(next), std::move(pending.stream)});
      }
      input.reading = false;
      settled.notify_all();
      continue;
    }
    settled.notify_all();
    if (queue.empty()) {
      input.wake.wait(guard);
    } else {
      input.wake.wait_until(guard, queue.begin()->first);
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
  input.inCallback = true;
  input.callbackThread = std::this_thread::get_id();
  guard.unlock();
  callback(reinterpret_cast<port::InputHandle>(&input), message, context, param1, 0);
  guard.lock();
  input.inCallback = false;
  input.lastCallbackDone = Clock::now();
  settled.notify_all();
}

void SimulatedService::WaitOutDelivery(const InputPort& input, const char* call, std::unique_lock<std::mutex>& guard) {
  // Windows waits for the port's running callback to return, whatever the
  // caller holds. From inside that callback the wait would never end.
  if (std::this_thread::get_id() == input.threadId) {
    if (input.inCallback) selfWaits.push_back(input.name + ": " + call + " from inside the port's own callback");
    return;
  }
  ++deliveryWaiters;
  hangsChanged.notify_all();
  settled.wait(guard, [this, &input] { return shuttingDown || (!input.inCallback && !input.reading); });
  --deliveryWaiters;
}

void SimulatedService::Deliver(InputPort& input, ControllerEvent& event, Clock::time_point due,
                               std::unique_lock<std::mutex>& guard) {
  // Judged by when the event came, not by when this thread got to it: an
  // event that came before midiInStart is lost however soon the start
  // followed.
  if (!ListeningLocked(input) || due < input.startedAt) {
    if (!input.detached && !input.unplugged) ++input.record.droppedWhileStopped;
    return;
  }
  input.arrival = std::max(due, input.lastCallbackDone);
  switch (event.kind) {
    case ControllerEvent::Kind::Short:
      if (model.readsTheWire) {
        ReadWord(input, event.word, guard);
      } else {
        Callback(input, port::kEventData, event.word, guard);
      }
      break;
    case ControllerEvent::Kind::InvalidShort:
      ReportBroken(input, port::kEventError, event.word, guard);
      break;
    case ControllerEvent::Kind::Close:
      Callback(input, port::kEventClose, 0, guard);
      break;
    case ControllerEvent::Kind::RawEvent:
      ReportBroken(input, event.word, 0, guard);
      break;
    case ControllerEvent::Kind::Unplug:
      Unplug(input, guard);
      break;
    case ControllerEvent::Kind::SysEx:
      ReadBytes(input, event.bytes.data(), event.bytes.size(), guard);
      break;
    case ControllerEvent::Kind::InvalidLong: {
      // What the driver could make of a broken message, in one buffer.
      if (input.filling == nullptr && !TakeBuffer(input, input.arrival + model.bufferWaitAtStart, guard)) {
        ++input.record.droppedLongMessages;
        return;
      }
      const uint32_t room = input.filling->dwBufferLength - input.fillCount;
      const uint32_t count = std::min<uint32_t>(room, static_cast<uint32_t>(event.bytes.size()));
      if (count > 0) std::memcpy(input.filling->lpData + input.fillCount, event.bytes.data(), count);
      input.fillCount += count;
      input.inSysEx = input.skipping = false;
      HandBack(input, port::kEventLongError, guard);
      break;
    }
  }
}

void SimulatedService::ReadWord(InputPort& input, uint32_t word, std::unique_lock<std::mutex>& guard) {
  const uint8_t bytes[3] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8),
                            static_cast<uint8_t>(word >> 16)};
  // A message of known length is as long as its status says; anything else
  // (a System Exclusive packet, a stray data byte) is the packet's three bytes.
  const size_t length = IsRealTime(bytes[0]) ? 1 : port::shared::ShortMessageLength(bytes[0]);
  ReadBytes(input, bytes, length != 0 ? length : 3, guard);
}

void SimulatedService::ReadBytes(InputPort& input, const uint8_t* bytes, size_t count,
                                 std::unique_lock<std::mutex>& guard) {
  for (size_t at = 0; at < count; ++at) {
    if (!ListeningLocked(input)) return;
    const uint8_t byte = bytes[at];
    // Real-time messages are single bytes that may stand anywhere, inside
    // a System Exclusive message too; they come as short messages.
    if (IsRealTime(byte)) {
      Callback(input, port::kEventData, byte, guard);
      continue;
    }
    if (input.inSysEx) {
      if (!IsStatus(byte) || byte == kSysExEnd) {
        ReadSysExByte(input, byte, guard);
        continue;
      }
      // Any other status byte ends the message unfinished.
      input.inSysEx = input.skipping = false;
      if (input.filling != nullptr) HandBack(input, port::kEventLongError, guard);
      if (!ListeningLocked(input)) return;
    }
    if (byte == kSysExStart) {
      input.inSysEx = true;
      input.sysExBegun = false;
      input.skipping = false;
      ReadSysExByte(input, byte, guard);
      continue;
    }
    if (!IsStatus(byte)) {
      ReportBroken(input, port::kEventError, byte, guard); // a data byte of no message
      continue;
    }
    const size_t length = port::shared::ShortMessageLength(byte);
    uint32_t word = byte;
    size_t have = 1;
    while (have < length && at + 1 < count && !IsStatus(bytes[at + 1])) {
      word |= static_cast<uint32_t>(bytes[++at]) << (8 * have);
      ++have;
    }
    if (length != 0 && have == length) {
      Callback(input, port::kEventData, word, guard);
    } else {
      ReportBroken(input, port::kEventError, word, guard);
    }
  }
}

void SimulatedService::ReadSysExByte(InputPort& input, uint8_t byte, std::unique_lock<std::mutex>& guard) {
  if (input.skipping) {
    if (byte == kSysExEnd) input.inSysEx = input.skipping = false;
    return;
  }
  if (input.filling == nullptr) {
    // The byte came when the service got to it: after the event's arrival
    // and after the callback that handed the last buffer back.
    const Clock::time_point came = std::max(input.arrival, input.lastCallbackDone);
    const auto wait = input.sysExBegun ? model.bufferWaitInMiddle : model.bufferWaitAtStart;
    // After a wait that ran out, a message that finds no buffer at its F0 is
    // not waited for.
    const bool waits = input.sysExBegun || !input.discardingSysEx;
    if (waits && wait.count() > 0 && input.queuedBuffers.empty()) ++input.record.bufferWaits;
    if (!TakeBuffer(input, waits ? came + wait : came, guard)) {
      ++input.record.droppedLongMessages;
      if (waits && wait.count() > 0) input.discardingSysEx = true;
      input.skipping = byte != kSysExEnd;
      input.inSysEx = input.skipping;
      return;
    }
    if (!input.sysExBegun) input.discardingSysEx = false;
  }
  input.filling->lpData[input.fillCount++] = byte;
  input.sysExBegun = true;
  if (byte == kSysExEnd) {
    input.inSysEx = false;
    HandBack(input, port::kEventLongData, guard);
  } else if (input.fillCount == input.filling->dwBufferLength) {
    // Full: the message goes on in the next buffer, without an F0.
    HandBack(input, port::kEventLongData, guard);
  }
}

bool SimulatedService::TakeBuffer(InputPort& input, Clock::time_point deadline, std::unique_lock<std::mutex>& guard) {
  buffersChanged.wait_until(guard, deadline,
                            [this, &input] { return !ListeningLocked(input) || !input.queuedBuffers.empty(); });
  // A buffer queued after the deadline came too late, even if this thread
  // only looks now.
  if (!ListeningLocked(input) || input.queuedBuffers.empty() || input.queuedBuffers.front().at > deadline) {
    return false;
  }
  input.filling = input.queuedBuffers.front().header;
  input.queuedBuffers.pop_front();
  input.fillCount = 0;
  return true;
}

void SimulatedService::HandBack(InputPort& input, uint32_t message, std::unique_lock<std::mutex>& guard) {
  port::MidiHeader* header = input.filling;
  input.filling = nullptr;
  header->dwBytesRecorded = input.fillCount;
  input.fillCount = 0;
  header->dwFlags = (header->dwFlags & ~port::kHeaderInQueue) | port::kHeaderDone;
  Callback(input, message, reinterpret_cast<uintptr_t>(header), guard);
}

void SimulatedService::ReportBroken(InputPort& input, uint32_t message, uintptr_t param1,
                                    std::unique_lock<std::mutex>& guard) {
  if (model.readsTheWire) {
    ++input.record.brokenNotReported;
    return;
  }
  Callback(input, message, param1, guard);
}

void SimulatedService::Unplug(InputPort& input, std::unique_lock<std::mutex>& guard) {
  // Whatever the port held, it keeps: its buffers never come back.
  input.unplugged = true;
  if (input.controller && input.controller->output != nullptr) input.controller->output->unplugged = true;
  buffersChanged.notify_all();
  Callback(input, port::kEventClose, 0, guard);
}

bool SimulatedService::IdleLocked() const {
  return std::none_of(inputs.begin(), inputs.end(),
                      [](const auto& input) { return !input->queue.empty() || input->reading || input->inCallback; });
}

void SimulatedService::WaitUntilIdle() {
  std::unique_lock<std::mutex> guard(lock);
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

std::vector<std::string> SimulatedService::EarlyRequests() {
  std::lock_guard<std::mutex> guard(lock);
  return earlyRequests;
}

std::vector<std::string> SimulatedService::SelfWaits() {
  std::lock_guard<std::mutex> guard(lock);
  return selfWaits;
}

port::Result SimulatedService::Outcome(ResultScript& script, std::unique_lock<std::mutex>& guard) {
  const port::Result result = script.Next();
  if (result != kNeverReturns) return result;
  ++hungCalls;
  hangsChanged.notify_all();
  hangsChanged.wait(guard, [this] { return hangsReleased || shuttingDown; });
  return port::kNoError;
}

int SimulatedService::DeliveryWaiters() {
  std::lock_guard<std::mutex> guard(lock);
  return deliveryWaiters;
}

void SimulatedService::WaitForDeliveryWaiters(int count) {
  std::unique_lock<std::mutex> guard(lock);
  hangsChanged.wait(guard, [this, count] { return deliveryWaiters >= count || shuttingDown; });
}

int SimulatedService::HungCalls() {
  std::lock_guard<std::mutex> guard(lock);
  return hungCalls;
}

void SimulatedService::WaitForHungCalls(int count) {
  std::unique_lock<std::mutex> guard(lock);
  hangsChanged.wait(guard, [this, count] { return hungCalls >= count || shuttingDown; });
}

void SimulatedService::ReleaseHungCalls() {
  std::lock_guard<std::mutex> guard(lock);
  hangsReleased = true;
  hangsChanged.notify_all();
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
  return static_cast<unsigned>(inputs.size());
}

port::Result SimulatedService::InputName(unsigned index, std::string& name) {
  std::lock_guard<std::mutex> guard(lock);
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
  if (index >= inputs.size()) return port::kBadDeviceId;
  InputPort& input = *inputs[index];
  const port::Result result = Outcome(input.faults.open, guard);
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
    std::unique_lock<std::mutex> guard(lock);
    InputPort* input = FindInput(handle);
    if (input == nullptr) return port::kInvalidHandle;
    const port::Result result = Outcome(input->faults.start, guard);
    if (result != port::kNoError) return result;
    if (input->unplugged) return port::kNoDriver;
    if (input->started) return port::kNoError;
    input->started = true;
    input->startedAt = Clock::now();
    const bool first = !input->everStarted;
    input->everStarted = true;
    std::vector<Pending> streams = std::move(input->parkedStreams);
    input->parkedStreams.clear();
    for (Pending& stream : streams) QueueLocked(*input, std::move(stream.event), std::move(stream.stream));
    if (first) controller = input->controller;
  }
  if (controller) {
    std::lock_guard<std::mutex> calls(controller->calls);
    controller->model->OnInputStarted(*controller->link);
  }
  return port::kNoError;
}

port::Result SimulatedService::StopInput(port::InputHandle handle) {
  std::unique_lock<std::mutex> guard(lock);
  InputPort* input = FindInput(handle);
  if (input == nullptr) return port::kInvalidHandle;
  const port::Result result = Outcome(input->faults.stop, guard);
  if (result != port::kNoError) return result;
  if (input->unplugged) return port::kNoDriver;
  input->started = false;
  if (input->record.deliveredBeforeStop < 0) input->record.deliveredBeforeStop = input->record.delivered;
  buffersChanged.notify_all();
  WaitOutDelivery(*input, "midiInStop", guard);
  // A message cut off by the stop: its partly filled buffer comes back as
  // an invalid long message. Empty buffers stay queued, as on Windows.
  input->inSysEx = input->skipping = false;
  if (input->filling != nullptr) HandBack(*input, port::kEventLongError, guard);
  return port::kNoError;
}

port::Result SimulatedService::PrepareInputBuffer(port::InputHandle handle, port::MidiHeader& header) {
  std::lock_guard<std::mutex> guard(lock);
  InputPort* input = FindInput(handle);
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
  if (input == nullptr) return port::kInvalidHandle;
  const port::Result result = input->faults.addBuffer.Next();
  if (result != port::kNoError) return result;
  if (input->unplugged) return port::kNoDriver;
  if ((header.dwFlags & port::kHeaderPrepared) == 0) return port::kUnprepared;
  if ((header.dwFlags & port::kHeaderInQueue) != 0) return port::kStillPlaying;
  header.dwFlags = (header.dwFlags & ~port::kHeaderDone) | port::kHeaderInQueue;
  header.dwBytesRecorded = 0;
  input->queuedBuffers.push_back({&header, Clock::now()});
  buffersChanged.notify_all(); // a message may be waiting for it
  return port::kNoError;
}

port::Result SimulatedService::UnprepareInputBuffer(port::InputHandle handle, port::MidiHeader& header) {
  std::lock_guard<std::mutex> guard(lock);
  InputPort* input = FindInput(handle);
  if (input == nullptr) return port::kInvalidHandle;
  const port::Result result = input->faults.unprepare.Next();
  if (result != port::kNoError) return result;
  if ((header.dwFlags & port::kHeaderPrepared) == 0) return port::kNoError;
  if (input->filling == &header) return port::kStillPlaying; // being written
  if ((header.dwFlags & port::kHeaderInQueue) != 0) {
    // A running port keeps its queued buffers, and a dead one never gives
    // them back.
    if (input->started || input->unplugged) return port::kStillPlaying;
    // A stopped port hands its queued buffers back, returned empty.
    input->queuedBuffers.erase(
        std::remove_if(input->queuedBuffers.begin(), input->queuedBuffers.end(),
                       [&header](const InputPort::Queued& queued) { return queued.header == &header; }),
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
  input->queuedBuffers.clear();
  input->filling = nullptr;
  input->parkedStreams.clear();
  buffersChanged.notify_all();
  // A callback already running on the port's thread must finish first.
  WaitOutDelivery(*input, "the detach", guard);
}

// --- output ports ---

unsigned SimulatedService::OutputCount() {
  std::lock_guard<std::mutex> guard(lock);
  return static_cast<unsigned>(outputs.size());
}

std::string SimulatedService::OutputLabel(unsigned outputIndex) {
  std::lock_guard<std::mutex> guard(lock);
  if (outputIndex >= outputs.size()) return std::string();
  const std::string& name = outputs[outputIndex]->name;
  const auto earlier = std::count_if(outputs.begin(), outputs.begin() + outputIndex,
                                     [&name](const auto& output) { return output->name == name; });
  return earlier == 0 ? name : name + " #" + std::to_string(earlier + 1);
}

port::Result SimulatedService::OutputName(unsigned index, std::string& name) {
  std::lock_guard<std::mutex> guard(lock);
  if (index >= outputs.size()) return port::kBadDeviceId;
  OutputPort& output = *outputs[index];
  const port::Result result = output.faults.name.Next();
  if (result != port::kNoError) return result;
  name = output.name;
  return port::kNoError;
}

port::Result SimulatedService::OpenOutput(unsigned index, port::OutputHandle& handle) {
  std::lock_guard<std::mutex> guard(lock);
  if (index >= outputs.size()) return port::kBadDeviceId;
  OutputPort& output = *outputs[index];
  const port::Result result = output.faults.open.Next();
  if (result != port::kNoError) return result;
  // One client per output port, as the legacy drivers allow; Windows MIDI
  // Services takes more.
  if (output.open && !model.outputsTakeSeveralClients) return port::kAllocated;
  output.open = true;
  ++output.record.opens;
  handle = reinterpret_cast<port::OutputHandle>(&output);
  return port::kNoError;
}

port::Result SimulatedService::PrepareOutput(port::OutputHandle handle, port::MidiHeader& header) {
  std::lock_guard<std::mutex> guard(lock);
  OutputPort* output = FindOutput(handle);
  if (output == nullptr) return port::kInvalidHandle;
  ++output->record.prepareCalls;
  const port::Result result = output->faults.prepare.Next();
  if (result != port::kNoError) return result;
  if (output->preparedHeaders > 0) ++output->record.overlappingSends;
  if ((header.dwFlags & port::kHeaderPrepared) == 0) ++output->preparedHeaders;
  header.dwFlags |= port::kHeaderPrepared;
  return port::kNoError;
}

port::Result SimulatedService::SendLong(port::OutputHandle handle, port::MidiHeader& header) {
  std::shared_ptr<Controller> controller;
  std::chrono::microseconds answerLatency;
  {
    std::unique_lock<std::mutex> guard(lock);
    OutputPort* output = FindOutput(handle);
    if (output == nullptr) return port::kInvalidHandle;
    ++output->record.sendCalls;
    if (output->stalled) return port::kError;
    const port::Result result = Outcome(output->faults.send, guard);
    if (result == kStalls) return Stall(*output, header, guard);
    if (result != port::kNoError) return result;
    if (output->unplugged) return port::kNoDriver;
    if ((header.dwFlags & port::kHeaderPrepared) == 0) return port::kUnprepared;
    output->record.messages.emplace_back(header.lpData, header.lpData + header.dwBufferLength);
    if (model.sendDoneInCall) {
      header.dwFlags = (header.dwFlags & ~port::kHeaderInQueue) | port::kHeaderDone;
    } else {
      header.dwFlags |= port::kHeaderInQueue;
    }
    controller = output->controller;
    answerLatency = model.answerLatency;
    const InputPort* answers = controller ? controller->input : nullptr;
    if (answers != nullptr) {
      const bool fromItsDelivery = answers->inCallback && answers->callbackThread == std::this_thread::get_id();
      if (!answers->started || !ListeningLocked(*answers)) {
        earlyRequests.push_back(output->name + ": a message reached the controller before its input was started");
      } else if (answers->queuedBuffers.empty() && !fromItsDelivery) {
        earlyRequests.push_back(output->name + ": a message reached the controller while its input had no buffer");
      }
    }
  }
  if (controller) {
    std::lock_guard<std::mutex> calls(controller->calls);
    controller->link->answerLatency = answerLatency;
    controller->model->OnReceive(header.lpData, header.dwBufferLength, *controller->link);
    controller->link->answerLatency = {};
  }
  return port::kNoError;
}

port::Result SimulatedService::Stall(OutputPort& output, port::MidiHeader& header,
                                     std::unique_lock<std::mutex>& guard) {
  // Part of the message may be on its way; the device takes no more, and
  // the call waits for it as long as the service does.
  header.dwFlags |= port::kHeaderInQueue;
  ++output.record.stalledSends;
  hangsChanged.wait_for(guard, model.stalledSendLimit, [this] { return shuttingDown; });
  output.stalled = true;
  if (model.stalledSendComesBack) {
    header.dwFlags = (header.dwFlags & ~port::kHeaderInQueue) | port::kHeaderDone;
  } else {
    output.keptForGood.push_back(&header);
  }
  return port::kError;
}

port::Result SimulatedService::UnprepareOutput(port::OutputHandle handle, port::MidiHeader& header) {
  std::lock_guard<std::mutex> guard(lock);
  OutputPort* output = FindOutput(handle);
  if (output == nullptr) return port::kInvalidHandle;
  ++output->record.releaseCalls;
  const bool keptForGood =
      std::find(output->keptForGood.begin(), output->keptForGood.end(), &header) != output->keptForGood.end();
  const port::Result result = keptForGood ? port::kStillPlaying : output->faults.release.Next();
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
  if ((header.dwFlags & port::kHeaderPrepared) != 0) --output->preparedHeaders;
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

port::Result SimulatedService::DeviceOf(port::Direction direction, unsigned index, std::string& device) {
  std::lock_guard<std::mutex> guard(lock);
  const bool input = direction == port::Direction::Input;
  if (index >= (input ? inputs.size() : outputs.size())) return port::kBadDeviceId;
  if (model.deviceQuery == DeviceQuery::NotSupported) return port::kNotSupported;
  const port::Result result = input ? inputs[index]->faults.device.Next() : outputs[index]->faults.device.Next();
  if (result != port::kNoError) return result;
  device = model.deviceQuery == DeviceQuery::Empty ? std::string()
           : input                                 ? inputs[index]->devicePath
                                                   : outputs[index]->devicePath;
  return port::kNoError;
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
  std::vector<std::thread*> threads;
  {
    std::lock_guard<std::mutex> guard(lock);
    if (!shuttingDown) {
      shuttingDown = true;
      CheckHeldSendsLocked();
    }
    for (auto& input : inputs) {
      input->wake.notify_all();
      threads.push_back(&input->thread);
    }
    settled.notify_all();
    buffersChanged.notify_all();
    hangsChanged.notify_all();
  }
  // No port is added once the service shuts down, so the list stays put.
  for (std::thread* thread : threads) {
    if (!thread->joinable()) continue;
    if (std::this_thread::get_id() == thread->get_id()) {
      thread->detach(); // shut down from inside its own delivery
    } else {
      thread->join();
    }
  }
}

bool SimulatedService::ShuttingDown() {
  std::lock_guard<std::mutex> guard(lock);
  return shuttingDown;
}

} // namespace port::sim
