#include "midi/port/jack/jack_service.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <cerrno>

#include "midi/port/shared/message_splitter.h"
#include "midi/port/shared/port_names.h"

namespace port::jack {

namespace {

jack_client_t* Jack(void* client) {
  return static_cast<jack_client_t*>(client);
}

jack_port_t* JackPort(void* port) {
  return static_cast<jack_port_t*>(port);
}

void Silent(const char*) {}

} // namespace

struct JackService::InputEntry {
  jack_port_t* port = nullptr;
  std::unique_ptr<shared::InputPort> input;
};

struct JackService::OutputEntry {
  jack_port_t* port = nullptr;
  shared::MessageQueue queue{kOutputQueueBytes};
  std::mutex sending;
  // Messages the process thread found too long for an empty port buffer
  // (the server's buffer size shrank after the send was let through).
  std::atomic<uint64_t> dropped{0};
};

JackService::JackService(size_t inputQueueBytes) : inputQueueBytes(inputQueueBytes) {
  // The library's complaints about a missing server would reach the console
  // behind the tool's back; the tool says "no MIDI devices" its own way.
  jack_set_error_function(Silent);
  jack_set_info_function(Silent);
  jack_status_t status{};
  jack_client_t* opened = jack_client_open(kClientName, JackNoStartServer, &status);
  if (opened == nullptr) return;
  jack_set_process_callback(opened, &JackService::Process, this);
  jack_on_shutdown(opened, &JackService::OnServerGone, this);
  client = opened;
}

JackService::~JackService() {
  CloseClients();
}

bool JackService::Connected() {
  std::lock_guard<std::mutex> guard(lock);
  return Usable();
}

bool JackService::Usable() const {
  return client != nullptr && !closed && !serverGone.load(std::memory_order_acquire);
}

void JackService::Shutdown() {
  dispatcher.Stop();
}

void JackService::CloseClients() {
  Shutdown();
  std::lock_guard<std::mutex> guard(lock);
  closed = true;
  // Ends the process thread before anything it reads could go; the entries
  // themselves stay until the service does.
  if (client != nullptr) jack_client_close(Jack(client));
  client = nullptr;
  inputList.clear();
  outputList.clear();
}

void JackService::OnServerGone(void* self) {
  static_cast<JackService*>(self)->serverGone.store(true, std::memory_order_release);
}

// --- the process thread: no lock, no allocation, no waiting ---

int JackService::Process(uint32_t frames, void* self) {
  auto* service = static_cast<JackService*>(self);
  service->ProcessInputs(frames);
  service->ProcessOutputs(frames);
  service->connectionWait.OnCycle();
  return 0;
}

void JackService::ProcessInputs(uint32_t frames) {
  const size_t count = publishedInputs.load(std::memory_order_acquire);
  bool queued = false;
  for (size_t at = 0; at < count; ++at) {
    InputEntry& entry = *processInputs[at];
    void* buffer = jack_port_get_buffer(entry.port, frames);
    const uint32_t events = jack_midi_get_event_count(buffer);
    for (uint32_t index = 0; index < events; ++index) {
      jack_midi_event_t event;
      if (jack_midi_event_get(&event, buffer, index) == 0 && entry.input->Enqueue(event.buffer, event.size)) {
        queued = true;
      }
    }
  }
  // One wake-up for the cycle's messages of all ports.
  if (queued) dispatcher.Wake().Signal();
}

void JackService::ProcessOutputs(uint32_t frames) {
  const size_t count = publishedOutputs.load(std::memory_order_acquire);
  for (size_t at = 0; at < count; ++at) {
    OutputEntry& entry = *processOutputs[at];
    void* buffer = jack_port_get_buffer(entry.port, frames);
    jack_midi_clear_buffer(buffer);
    const size_t empty = jack_midi_max_event_size(buffer);
    if (at == 0) longestMessage.store(empty, std::memory_order_relaxed);
    size_t length = 0;
    while (entry.queue.PeekLength(length)) {
      if (length > jack_midi_max_event_size(buffer)) {
        if (length <= empty) break; // the next cycle has room
        entry.queue.DropOldest();
        entry.dropped.fetch_add(1, std::memory_order_relaxed);
        continue;
      }
      // Every event at the cycle's first frame: they keep their order.
      jack_midi_data_t* data = jack_midi_event_reserve(buffer, 0, length);
      if (data == nullptr) break;
      entry.queue.PopInto(data);
    }
  }
}

// --- ports and lists ---

namespace {

// The device a port's name tells, or failing that one of its aliases.
std::string DeviceOfJackPort(jack_client_t* client, const char* name) {
  std::string device = shared::DeviceOfPort(name, true);
  if (!device.empty()) return device;
  jack_port_t* port = jack_port_by_name(client, name);
  if (port == nullptr) return device;
  const int size = jack_port_name_size();
  std::vector<char> first(static_cast<size_t>(size)), second(static_cast<size_t>(size));
  char* aliases[2] = {first.data(), second.data()};
  const int count = jack_port_get_aliases(port, aliases);
  for (int at = 0; at < count && device.empty(); ++at) device = shared::DeviceOfPort(aliases[at], true);
  return device;
}

} // namespace

std::vector<JackService::Listed> JackService::List(bool inputs) {
  std::vector<Listed> listed;
  if (!Usable()) return listed;
  // A port we read from puts data out.
  const char** names =
      jack_get_ports(Jack(client), nullptr, JACK_DEFAULT_MIDI_TYPE, inputs ? JackPortIsOutput : JackPortIsInput);
  if (names == nullptr) return listed;
  for (const char** name = names; *name != nullptr; ++name) {
    std::string rawName = *name;
    if (shared::IsOwnPort(rawName, kClientName)) continue;
    std::string shown =
        shared::DisplayPortName(rawName, inputs ? shared::Direction::Input : shared::Direction::Output, true);
    listed.push_back({std::move(rawName), std::move(shown), DeviceOfJackPort(Jack(client), *name)});
  }
  jack_free(names);
  return listed;
}

port::Result JackService::Activate() {
  if (activated) return port::kNoError;
  if (jack_activate(Jack(client)) != 0) return port::kError;
  activated = true;
  return port::kNoError;
}

void* JackService::RegisterPort(bool input, size_t number) {
  const std::string name = (input ? "input-" : "output-") + std::to_string(number);
  return jack_port_register(Jack(client), name.c_str(), JACK_DEFAULT_MIDI_TYPE,
                            input ? JackPortIsInput : JackPortIsOutput, 0);
}

JackService::OutputEntry* JackService::FindOutput(port::OutputHandle handle) {
  std::lock_guard<std::mutex> guard(lock);
  if (closed) return nullptr;
  for (auto& entry : outputs) {
    if (reinterpret_cast<port::OutputHandle>(entry.get()) == handle) return entry.get();
  }
  return nullptr;
}

// --- input ports ---

unsigned JackService::InputCount() {
  std::lock_guard<std::mutex> guard(lock);
  inputList = List(true);
  return static_cast<unsigned>(inputList.size());
}

port::Result JackService::OpenInput(unsigned index, port::InputCallback callback, uintptr_t context,
                                    port::InputHandle& handle) {
  shared::InputPort* opened = nullptr;
  {
    std::lock_guard<std::mutex> guard(lock);
    if (!Usable() || index >= inputList.size()) return port::kBadDeviceId;
    if (callback == nullptr) return port::kInvalParam;
    const std::string& source = inputList[index].rawName;
    if (jack_port_by_name(Jack(client), source.c_str()) == nullptr) return port::kBadDeviceId;
    const size_t number = publishedInputs.load(std::memory_order_relaxed);
    if (number == kMaxPorts) return port::kNoMem;

    auto entry = std::make_unique<InputEntry>();
    entry->input = std::make_unique<shared::InputPort>(callback, context, dispatcher.Wake(), inputQueueBytes);
    entry->port = JackPort(RegisterPort(true, number + 1));
    if (entry->port == nullptr) return port::kError;
    processInputs[number] = entry.get();
    publishedInputs.store(number + 1, std::memory_order_release);
    opened = entry->input.get();
    // Kept from here on whatever follows: the process thread reads it.
    inputs.push_back(std::move(entry));
    AddOpenInput(opened);

    port::Result result = Activate();
    if (result != port::kNoError) return result;
    const int connected = jack_connect(Jack(client), source.c_str(), jack_port_name(inputs.back()->port));
    if (connected != 0 && connected != EEXIST) return port::kError;
    if (!dispatcher.Add(opened)) return port::kError;
  }
  handle = opened->Handle();
  opened->DeliverOpen();
  return port::kNoError;
}

// --- output ports ---

unsigned JackService::OutputCount() {
  std::lock_guard<std::mutex> guard(lock);
  outputList = List(false);
  return static_cast<unsigned>(outputList.size());
}

port::Result JackService::OpenOutput(unsigned index, port::OutputHandle& handle) {
  OutputEntry* opened = nullptr;
  std::string destination;
  {
    std::lock_guard<std::mutex> guard(lock);
    if (!Usable() || index >= outputList.size()) return port::kBadDeviceId;
    destination = outputList[index].rawName;
    if (jack_port_by_name(Jack(client), destination.c_str()) == nullptr) return port::kBadDeviceId;
    const size_t number = publishedOutputs.load(std::memory_order_relaxed);
    if (number == kMaxPorts) return port::kNoMem;

    auto entry = std::make_unique<OutputEntry>();
    entry->port = JackPort(RegisterPort(false, number + 1));
    if (entry->port == nullptr) return port::kError;
    processOutputs[number] = entry.get();
    publishedOutputs.store(number + 1, std::memory_order_release);
    opened = entry.get();
    outputs.push_back(std::move(entry));

    port::Result result = Activate();
    if (result != port::kNoError) return result;
    const int connected = jack_connect(Jack(client), jack_port_name(opened->port), destination.c_str());
    if (connected != 0 && connected != EEXIST) return port::kError;
  }
  // Outside the lock: input of the other ports goes on meanwhile. A server
  // that never runs the connection gets the sends anyway; nothing better
  // can be done with them.
  WaitUntilConnected(opened->port, destination);
  handle = reinterpret_cast<port::OutputHandle>(opened);
  return port::kNoError;
}

// What is written into the port before the server runs the new connection
// reaches nobody (midi/port/shared/cycle_wait.h).
void JackService::WaitUntilConnected(void* ownPort, const std::string& rawName) {
  connectionWait.Until(
      [&] {
        std::lock_guard<std::mutex> guard(lock);
        if (!Usable()) return true; // a server that has gone runs nothing more
        bool found = false;
        const char** connected = jack_port_get_all_connections(Jack(client), JackPort(ownPort));
        for (const char** name = connected; name != nullptr && *name != nullptr; ++name) {
          if (rawName == *name) found = true;
        }
        if (connected != nullptr) jack_free(connected);
        return found;
      },
      kConnectPatience);
}

port::Result JackService::SendLong(port::OutputHandle handle, port::MidiHeader& header) {
  OutputEntry* output = FindOutput(handle);
  if (output == nullptr) return port::kInvalidHandle;
  if ((header.dwFlags & port::kHeaderPrepared) == 0) return port::kUnprepared;
  const port::Result result = Queue(*output, header.lpData, header.dwBufferLength);
  if (result != port::kNotReady) header.dwFlags |= port::kHeaderDone;
  return result;
}

port::Result JackService::Queue(OutputEntry& output, const uint8_t* bytes, size_t length) {
  const std::vector<shared::MidiPiece> pieces = shared::SplitMidiStream(bytes, length);
  // All or nothing: half a dialogue message would leave the device in a
  // state nobody asked for.
  if (!shared::AllComplete(pieces)) return port::kInvalParam;
  const size_t longest = LongestMessage();
  size_t needed = 0;
  for (const shared::MidiPiece& piece : pieces) {
    if (longest != 0 && piece.bytes.size() > longest) return port::kInvalParam;
    needed += piece.bytes.size() + shared::MessageQueue::kLengthBytes;
  }
  if (needed > output.queue.Capacity()) return port::kInvalParam;

  std::lock_guard<std::mutex> guard(output.sending);
  if (serverGone.load(std::memory_order_acquire)) return port::kError;
  if (needed > output.queue.FreeBytes()) return port::kNotReady;
  for (const shared::MidiPiece& piece : pieces) output.queue.Push(piece.bytes.data(), piece.bytes.size());
  return port::kNoError;
}

} // namespace port::jack
