#include "midi/port/rtmidi/rtmidi_service.h"

#include <algorithm>

#include "midi/port/shared/message_splitter.h"
#include "midi/port/shared/port_names.h"

namespace port::rtmidi {

using shared::AllComplete;
using shared::MidiPiece;
using shared::SplitMidiStream;

namespace {

// RtMidi's own queue is unused (messages go to the callback); it still
// allocates this many entries.
constexpr unsigned kRtMidiQueueEntries = 1;
constexpr const char* kInputPortName = "input";
constexpr const char* kOutputPortName = "output";

// Constructs an RtMidi object with RtMidi's errors as a result code; the
// sink becomes its error callback, so later calls do not throw either.
template <class Midi, class... Args>
port::Result Create(std::unique_ptr<Midi>& midi, ErrorSink& sink, Args&&... args) {
  try {
    midi = std::make_unique<Midi>(std::forward<Args>(args)...);
  } catch (const RtMidiError& error) {
    midi.reset();
    return ResultFromRtMidiError(error.getType());
  } catch (const std::bad_alloc&) {
    midi.reset();
    return port::kNoMem;
  }
  midi->setErrorCallback(ErrorSink::Callback, &sink);
  return port::kNoError;
}

} // namespace

RtMidiService::RtMidiService(RtMidi::Api api, size_t inputQueueBytes) : api(api), inputQueueBytes(inputQueueBytes) {
  if (api == RtMidi::UNSPECIFIED) return;
  if (Create(inputLister, listErrors, api, kClientName, kRtMidiQueueEntries) != port::kNoError ||
      Create(outputLister, listErrors, api, kClientName) != port::kNoError) {
    // The service went away between the look and the first client: no ports.
    inputLister.reset();
    outputLister.reset();
    return;
  }
  if (Jack()) graphWatch = std::make_shared<JackGraphWatch>();
}

RtMidiService::~RtMidiService() {
  CloseClients();
}

void RtMidiService::CloseClients() {
  Shutdown();
  std::lock_guard<std::mutex> guard(lock);
  // RtMidi's threads end with their objects, before the ports they call into.
  for (auto& input : inputs) input->midi.reset();
  for (auto& output : outputs) {
    std::lock_guard<std::mutex> sending(output->sending);
    output->midi.reset();
  }
  inputLister.reset();
  outputLister.reset();
  inputList.clear();
  outputList.clear();
  graphWatch.reset();
}

template <class Midi>
std::vector<RtMidiService::Listed> RtMidiService::List(Midi& midi, shared::Direction direction) {
  std::vector<Listed> listed;
  const unsigned count = midi.getPortCount();
  for (unsigned index = 0; index < count; ++index) {
    std::string rawName = midi.getPortName(index);
    // Empty: the port went away while we counted.
    if (rawName.empty() || shared::IsOwnPort(rawName, kClientName)) continue;
    std::string name = shared::DisplayPortName(rawName, direction, Jack());
    std::string device = shared::DeviceOfPort(rawName, Jack());
    listed.push_back({std::move(rawName), std::move(name), std::move(device)});
  }
  return listed;
}

template <class Midi>
port::Result RtMidiService::FindByRawName(Midi& midi, const std::string& rawName, unsigned& index) {
  const unsigned count = midi.getPortCount();
  for (index = 0; index < count; ++index) {
    if (midi.getPortName(index) == rawName) return port::kNoError;
  }
  return port::kBadDeviceId;
}

RtMidiService::OutputEntry* RtMidiService::FindOutput(port::OutputHandle handle) {
  std::lock_guard<std::mutex> guard(lock);
  for (auto& output : outputs) {
    if (reinterpret_cast<port::OutputHandle>(output.get()) == handle) return output.get();
  }
  return nullptr;
}

// --- input ports ---

unsigned RtMidiService::InputCount() {
  std::lock_guard<std::mutex> guard(lock);
  inputList = inputLister ? List(*inputLister, shared::Direction::Input) : std::vector<Listed>{};
  return static_cast<unsigned>(inputList.size());
}

port::Result RtMidiService::OpenInput(unsigned index, port::InputCallback callback, uintptr_t context,
                                      port::InputHandle& handle) {
  shared::InputPort* opened = nullptr;
  {
    std::lock_guard<std::mutex> guard(lock);
    if (index >= inputList.size() || !inputLister) return port::kBadDeviceId;
    if (callback == nullptr) return port::kInvalParam;
    auto entry = std::make_unique<InputEntry>();
    entry->port = std::make_unique<shared::InputPort>(callback, context, dispatcher.Wake(), inputQueueBytes);
    port::Result result = Create(entry->midi, entry->errors, api, kClientName, kRtMidiQueueEntries);
    if (result != port::kNoError) return result;
    RtMidiIn& midi = *entry->midi;
    // Set before the port opens, so that no message goes to RtMidi's own queue.
    midi.setCallback(shared::InputPort::OnRtMidiMessage, entry->port.get());
    // RtMidi drops timing clock and active sensing by default; the tool
    // logs them like any short message.
    midi.ignoreTypes(false, false, false);
    unsigned current = 0;
    result = FindByRawName(*inputLister, inputList[index].rawName, current);
    if (result != port::kNoError) return result;
    entry->errors.Clear();
    midi.openPort(current, kInputPortName);
    result = entry->errors.Result();
    if (result == port::kNoError && !midi.isPortOpen()) result = port::kError;
    if (result != port::kNoError) return result;
    if (!dispatcher.Add(entry->port.get())) return port::kError;
    opened = entry->port.get();
    inputs.push_back(std::move(entry));
    AddOpenInput(opened);
  }
  handle = opened->Handle();
  opened->DeliverOpen();
  return port::kNoError;
}

// --- output ports ---

unsigned RtMidiService::OutputCount() {
  std::lock_guard<std::mutex> guard(lock);
  outputList = outputLister ? List(*outputLister, shared::Direction::Output) : std::vector<Listed>{};
  return static_cast<unsigned>(outputList.size());
}

port::Result RtMidiService::OpenOutput(unsigned index, port::OutputHandle& handle) {
  std::string rawName;
  std::vector<std::string> connectedBefore;
  std::shared_ptr<JackGraphWatch> watch;
  port::OutputHandle opened = nullptr;
  {
    std::lock_guard<std::mutex> guard(lock);
    if (index >= outputList.size() || !outputLister) return port::kBadDeviceId;
    rawName = outputList[index].rawName;
    auto entry = std::make_unique<OutputEntry>();
    port::Result result = Create(entry->midi, entry->errors, api, kClientName);
    if (result != port::kNoError) return result;
    unsigned current = 0;
    result = FindByRawName(*outputLister, rawName, current);
    if (result != port::kNoError) return result;
    watch = graphWatch;
    if (watch) connectedBefore = watch->Connections(rawName);
    entry->errors.Clear();
    entry->midi->openPort(current, kOutputPortName);
    result = entry->errors.Result();
    if (result == port::kNoError && !entry->midi->isPortOpen()) result = port::kError;
    if (result != port::kNoError) return result;
    opened = reinterpret_cast<port::OutputHandle>(entry.get());
    outputs.push_back(std::move(entry));
  }
  // Outside the lock: input of the other ports goes on meanwhile. A server
  // that never runs the connection gets the sends anyway; nothing better
  // can be done with them.
  if (watch) watch->WaitForNewConnection(rawName, connectedBefore, kJackConnectPatience);
  handle = opened;
  return port::kNoError;
}

port::Result RtMidiService::SendLong(port::OutputHandle handle, port::MidiHeader& header) {
  OutputEntry* output = FindOutput(handle);
  if (output == nullptr) return port::kInvalidHandle;
  if ((header.dwFlags & port::kHeaderPrepared) == 0) return port::kUnprepared;
  const port::Result result = SendMessages(*output, header.lpData, header.dwBufferLength);
  header.dwFlags |= port::kHeaderDone;
  return result;
}

port::Result RtMidiService::SendMessages(OutputEntry& output, const uint8_t* bytes, size_t length) {
  const std::vector<MidiPiece> pieces = SplitMidiStream(bytes, length);
  // All or nothing: half a dialogue message would leave the device in a
  // state nobody asked for.
  if (!AllComplete(pieces)) return port::kInvalParam;
  if (Jack()) {
    for (const MidiPiece& piece : pieces) {
      if (piece.bytes.size() > kJackSysExLimit) return port::kInvalParam;
    }
  }
  std::lock_guard<std::mutex> guard(output.sending);
  if (!output.midi) return port::kInvalidHandle; // closed
  for (const MidiPiece& piece : pieces) {
    output.errors.Clear();
    output.midi->sendMessage(piece.bytes.data(), piece.bytes.size());
    const port::Result result = output.errors.Result();
    if (result != port::kNoError) return result;
  }
  return port::kNoError;
}

void RtMidiService::Shutdown() {
  dispatcher.Stop();
}

} // namespace port::rtmidi
