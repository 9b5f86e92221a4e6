#include "testkit/fake_winmm/stand_in.h"

#include <mmddk.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "midi/port/simulated/simulated_service.h"
#include "testkit/fake_winmm/callback_scope.h"
#include "testkit/fake_winmm/records.h"
#include "testkit/scenarios.h"

namespace fake_winmm {

namespace {

using MidiInProc = void(CALLBACK*)(HMIDIIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);

// winmm refuses a header size that does not reach the fields it uses.
constexpr UINT kSmallestHeader = offsetof(MIDIHDR, dwOffset);

std::atomic<StandIn*> built{nullptr};

// The program may have freed what it hands us; look before reading.
bool Readable(const void* address, size_t length) {
  const auto* at = static_cast<const char*>(address);
  const char* end = at + length;
  while (at < end) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(at, &info, sizeof info) == 0) return false;
    if (info.State != MEM_COMMIT || (info.Protect & (PAGE_NOACCESS | PAGE_GUARD)) != 0) return false;
    at = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
  }
  return true;
}

void Utf8ToPortName(const std::string& name, WCHAR (&target)[MAXPNAMELEN]) {
  // winmm's names are at most 31 units and always terminated.
  WCHAR converted[256] = {};
  MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, converted, 255);
  for (int i = 0; i < MAXPNAMELEN - 1; ++i) target[i] = converted[i];
  target[MAXPNAMELEN - 1] = 0;
}

// A port's capabilities, as many bytes of them as the caller has room for.
template <class Caps>
MMRESULT Capabilities(port::Result named, const std::string& name, Caps* caps, UINT size) {
  if (named != port::kNoError) return named;
  Caps full{};
  full.wMid = 0xFF;
  full.wPid = 0xFF;
  full.vDriverVersion = 0x0100;
  Utf8ToPortName(name, full.szPname);
  if constexpr (std::is_same_v<Caps, MIDIOUTCAPSW>) {
    full.wTechnology = MOD_MIDIPORT;
    full.wChannelMask = 0xFFFF;
  }
  std::memcpy(caps, &full, std::min<size_t>(size, sizeof full));
  return MMSYSERR_NOERROR;
}

// A MIDIHDR the program passes, big enough for the fields winmm uses and,
// where asked, with its bytes.
bool Usable(LPMIDIHDR header, UINT size, bool withData) {
  return header != nullptr && size >= kSmallestHeader && (!withData || header->lpData != nullptr);
}

template <class Port, class Handle>
Port* FindIn(const std::vector<Port*>& ports, Handle handle) {
  auto* port = reinterpret_cast<Port*>(handle);
  return std::find(ports.begin(), ports.end(), port) != ports.end() ? port : nullptr;
}

class Guard {
 public:
  explicit Guard(CRITICAL_SECTION& section) : section(section) { EnterCriticalSection(&section); }
  ~Guard() { LeaveCriticalSection(&section); }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

 private:
  CRITICAL_SECTION& section;
};

} // namespace

StandIn& StandIn::Get() {
  static StandIn* standIn = [] {
    PrepareRecords();
    auto* made = new StandIn;
    built = made;
    return made;
  }();
  return *standIn;
}

StandIn* StandIn::IfBuilt() {
  return built.load();
}

StandIn::StandIn() : service(new port::sim::SimulatedService(ServiceModelFromEnvironment())) {
  InitializeCriticalSection(&lock);
  const char* scenario = std::getenv("FAKE_WINMM_SCENARIO");
  const std::string name = scenario != nullptr ? scenario : "";
  if (!testkit::BuildScenario(name, *service)) RecordViolation("no scenario named '" + name + "'");
}

port::sim::ServiceModel StandIn::ServiceModelFromEnvironment() {
  const char* kind = std::getenv("FAKE_WINMM_SERVICE");
  const std::string chosen = kind != nullptr ? kind : "classic";
  port::sim::ServiceModel model = port::sim::ServiceModel::Classic();
  if (chosen == "current") {
    model = port::sim::ServiceModel::CurrentWindows();
  } else if (chosen == "current-before-november") {
    model = port::sim::ServiceModel::CurrentWindowsBeforeNovember2026();
  } else if (chosen != "classic") {
    RecordViolation("no service behaviour named '" + chosen + "'");
  }
  const char* query = std::getenv("FAKE_WINMM_DEVICE_QUERY");
  const std::string answer = query != nullptr ? query : "";
  if (answer == "unsupported") {
    model.deviceQuery = port::sim::DeviceQuery::NotSupported;
  } else if (answer == "empty") {
    model.deviceQuery = port::sim::DeviceQuery::Empty;
  } else if (!answer.empty()) {
    RecordViolation("no device query answer named '" + answer + "'");
  }
  return model;
}

void StandIn::RecordEarlyRequests() {
  // Each is a breach of its own: a request whose answer the program could
  // not have received on the current Windows service.
  const std::vector<std::string> early = service->EarlyRequests();
  Guard guard(lock);
  for (size_t at = earlyRequestsSeen; at < early.size(); ++at) RecordViolation(early[at]);
  earlyRequestsSeen = std::max(earlyRequestsSeen, early.size());
}

StandIn::Input* StandIn::FindInputLocked(HMIDIIN handle) {
  return FindIn(inputs, handle);
}

StandIn::Output* StandIn::FindOutputLocked(HMIDIOUT handle) {
  return FindIn(outputs, handle);
}

port::InputHandle StandIn::PortOf(HMIDIIN handle, unsigned* index) {
  Guard guard(lock);
  Input* input = FindInputLocked(handle);
  if (input == nullptr) return nullptr;
  if (index != nullptr) *index = input->index;
  return input->port;
}

MMRESULT StandIn::Prepared(Header& entry, LPMIDIHDR header, port::Result result) {
  if (result != port::kNoError) return result;
  Guard guard(lock);
  entry.prepared = true;
  header->dwFlags |= MHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT StandIn::ReadyToQueueLocked(Header* entry, LPMIDIHDR header, bool withBytes, const char* call) {
  if (entry == nullptr || !entry->prepared || (header->dwFlags & MHDR_PREPARED) == 0) return MIDIERR_UNPREPARED;
  if (entry->held) {
    IntactLocked(*entry, withBytes, call);
    return MIDIERR_STILLPLAYING;
  }
  return MMSYSERR_NOERROR;
}

StandIn::Header* StandIn::FindLocked(LPMIDIHDR header) {
  for (Header* entry : headers) {
    if (entry->program == header) return entry;
  }
  return nullptr;
}

StandIn::Header& StandIn::EntryLocked(LPMIDIHDR header) {
  Header* entry = FindLocked(header);
  if (entry == nullptr) {
    entry = new Header;
    entry->program = header;
    headers.push_back(entry);
  }
  return *entry;
}

bool StandIn::IntactLocked(Header& entry, bool withBytes, const char* when) {
  if (!entry.held) return true;
  const LPMIDIHDR header = entry.program;
  std::string breach;
  if (!Readable(header, sizeof(MIDIHDR))) {
    breach = "a MIDIHDR the driver holds was freed";
  } else if (header->lpData != entry.heldData || header->dwBufferLength != entry.heldLength) {
    breach = "a MIDIHDR the driver holds was changed (data pointer or length)";
  } else if ((header->dwFlags & (MHDR_PREPARED | MHDR_INQUEUE)) != (MHDR_PREPARED | MHDR_INQUEUE)) {
    breach = "a MIDIHDR the driver holds had its flags changed";
  } else if (withBytes) {
    if (!Readable(entry.heldData, entry.heldLength)) {
      breach = "the bytes of a send the driver holds were freed";
    } else if (std::memcmp(entry.heldData, entry.bytes.data(), entry.heldLength) != 0) {
      breach = "the bytes of a send the driver holds were changed";
    }
  }
  if (breach.empty()) return true;
  RecordViolation(breach + " (" + when + ")");
  // Reported once; the driver lets go of it.
  entry.held = false;
  return false;
}

// --- input ---

UINT StandIn::InputCount() {
  return service->InputCount();
}

MMRESULT StandIn::InputCaps(UINT_PTR id, LPMIDIINCAPSW caps, UINT size) {
  if (caps == nullptr || size == 0) return MMSYSERR_INVALPARAM;
  std::string name;
  return Capabilities(service->InputName(static_cast<unsigned>(id), name), name, caps, size);
}

void StandIn::Delivered(port::InputHandle, uint32_t message, uintptr_t context, uintptr_t param1, uintptr_t param2) {
  Input* input = reinterpret_cast<Input*>(context);
  DWORD_PTR parameter = param1;
  if (message == MIM_LONGDATA || message == MIM_LONGERROR) {
    parameter = input->owner->BufferBack(reinterpret_cast<port::MidiHeader*>(param1));
    if (parameter == 0) return;
  }
  CallbackScope inside;
  reinterpret_cast<MidiInProc>(input->callback)(reinterpret_cast<HMIDIIN>(input), message, input->instance, parameter,
                                                param2);
}

DWORD_PTR StandIn::BufferBack(port::MidiHeader* shadow) {
  Guard guard(lock);
  for (Header* entry : headers) {
    if (&entry->shadow != shadow) continue;
    // A buffer whose MIDIHDR was changed or freed is not written into.
    if (!entry->held || !IntactLocked(*entry, false, "when a message arrived for it")) return 0;
    const LPMIDIHDR header = entry->program;
    const DWORD count = std::min<DWORD>(shadow->dwBytesRecorded, header->dwBufferLength);
    std::memcpy(header->lpData, entry->bytes.data(), count);
    header->dwBytesRecorded = count;
    header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
    entry->held = false;
    return reinterpret_cast<DWORD_PTR>(header);
  }
  return 0;
}

MMRESULT StandIn::OpenInput(LPHMIDIIN handle, UINT id, DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
  if (handle == nullptr) return MMSYSERR_INVALPARAM;
  // The stand-in serves function callbacks only, the kind the tool uses.
  if ((flags & CALLBACK_TYPEMASK) != CALLBACK_FUNCTION) return MMSYSERR_INVALFLAG;
  if (callback == 0) return MMSYSERR_INVALPARAM;
  auto* input = new Input;
  input->owner = this;
  input->index = id;
  input->callback = callback;
  input->instance = instance;
  {
    Guard guard(lock);
    inputs.push_back(input);
  }
  // "Port opened" reaches the callback from inside this call, as in winmm.
  const port::Result result = service->OpenInput(id, Delivered, reinterpret_cast<uintptr_t>(input), input->port);
  if (result != port::kNoError) {
    Guard guard(lock);
    inputs.erase(std::find(inputs.begin(), inputs.end(), input));
    delete input; // a port that failed to open never calls back
    return result;
  }
  *handle = reinterpret_cast<HMIDIIN>(input);
  return MMSYSERR_NOERROR;
}

MMRESULT StandIn::StartInput(HMIDIIN handle) {
  const port::InputHandle port = PortOf(handle);
  return port != nullptr ? service->StartInput(port) : MMSYSERR_INVALHANDLE;
}

MMRESULT StandIn::StopInput(HMIDIIN handle) {
  unsigned index = 0;
  const port::InputHandle port = PortOf(handle, &index);
  if (port == nullptr) return MMSYSERR_INVALHANDLE;
  const ULONGLONG began = GetTickCount64() - builtAt;
  const MMRESULT result = service->StopInput(port);
  std::string name;
  if (service->InputName(index, name) == port::kNoError) {
    RecordStop(name, service->Input(index).deliveredBeforeStop, began);
  }
  return result;
}

MMRESULT StandIn::ResetInput(HMIDIIN handle) {
  Input* input;
  std::vector<Header*> queued;
  {
    Guard guard(lock);
    input = FindInputLocked(handle);
    if (input == nullptr) return MMSYSERR_INVALHANDLE;
    for (Header* entry : headers) {
      if (entry->input == input && entry->held) queued.push_back(entry);
    }
  }
  // Input stops, and every queued buffer comes back marked done, reported
  // to the callback from inside this call; it stays prepared.
  const port::Result stopped = service->StopInput(input->port);
  if (stopped != port::kNoError) return stopped;
  for (Header* entry : queued) {
    if (service->UnprepareInputBuffer(input->port, entry->shadow) != port::kNoError) continue;
    // The shadow stays prepared for the program's next midiInAddBuffer. A
    // scripted refusal here surfaces there, as kUnprepared.
    (void)service->PrepareInputBuffer(input->port, entry->shadow);
    LPMIDIHDR header;
    {
      Guard guard(lock);
      if (!IntactLocked(*entry, false, "midiInReset")) continue;
      header = entry->program;
      header->dwBytesRecorded = 0;
      header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
      entry->held = false;
    }
    CallbackScope inside;
    reinterpret_cast<MidiInProc>(input->callback)(handle, MIM_LONGDATA, input->instance,
                                                  reinterpret_cast<DWORD_PTR>(header), 0);
  }
  return MMSYSERR_NOERROR;
}

MMRESULT StandIn::PrepareInput(HMIDIIN handle, LPMIDIHDR header, UINT size) {
  port::InputHandle port;
  Header* entry;
  {
    Guard guard(lock);
    Input* input = FindInputLocked(handle);
    if (input == nullptr) return MMSYSERR_INVALHANDLE;
    if (!Usable(header, size, true)) return MMSYSERR_INVALPARAM;
    port = input->port;
    entry = &EntryLocked(header);
    if (entry->prepared) {
      IntactLocked(*entry, false, "midiInPrepareHeader");
      return MMSYSERR_NOERROR;
    }
    entry->bytes.assign(header->dwBufferLength, 0);
    entry->input = input;
    entry->shadow = port::MidiHeader{};
    entry->shadow.lpData = entry->bytes.data();
    entry->shadow.dwBufferLength = header->dwBufferLength;
  }
  return Prepared(*entry, header, service->PrepareInputBuffer(port, entry->shadow));
}

MMRESULT StandIn::AddInput(HMIDIIN handle, LPMIDIHDR header, UINT size) {
  port::InputHandle port;
  Header* entry;
  {
    Guard guard(lock);
    Input* input = FindInputLocked(handle);
    if (input == nullptr) return MMSYSERR_INVALHANDLE;
    if (!Usable(header, size, false)) return MMSYSERR_INVALPARAM;
    entry = FindLocked(header);
    const MMRESULT ready = ReadyToQueueLocked(entry, header, false, "midiInAddBuffer");
    if (ready != MMSYSERR_NOERROR) return ready;
    if (header->dwBufferLength != entry->bytes.size()) {
      RecordViolation("a prepared MIDIHDR changed its length before midiInAddBuffer");
      return MMSYSERR_INVALPARAM;
    }
    port = input->port;
    // Marked before the service has it: a message may fill it at once.
    entry->held = true;
    entry->heldData = header->lpData;
    entry->heldLength = header->dwBufferLength;
    header->dwBytesRecorded = 0;
    header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
  }
  const port::Result result = service->AddInputBuffer(port, entry->shadow);
  if (result != port::kNoError) {
    Guard guard(lock);
    entry->held = false;
    header->dwFlags &= ~MHDR_INQUEUE;
  }
  return result;
}

MMRESULT StandIn::UnprepareInput(HMIDIIN handle, LPMIDIHDR header, UINT size) {
  port::InputHandle port;
  Header* entry;
  {
    Guard guard(lock);
    Input* input = FindInputLocked(handle);
    if (input == nullptr) return MMSYSERR_INVALHANDLE;
    if (!Usable(header, size, false)) return MMSYSERR_INVALPARAM;
    entry = FindLocked(header);
    // Never prepared: no effect, and success, as winmm answers.
    if (entry == nullptr || !entry->prepared) return MMSYSERR_NOERROR;
    IntactLocked(*entry, false, "midiInUnprepareHeader");
    port = input->port;
  }
  const port::Result result = service->UnprepareInputBuffer(port, entry->shadow);
  if (result == port::kNoError) {
    Guard guard(lock);
    entry->prepared = false;
    header->dwFlags &= ~MHDR_PREPARED;
  }
  return result;
}

// --- output ---

UINT StandIn::OutputCount() {
  return service->OutputCount();
}

MMRESULT StandIn::OutputCaps(UINT_PTR id, LPMIDIOUTCAPSW caps, UINT size) {
  if (caps == nullptr || size == 0) return MMSYSERR_INVALPARAM;
  std::string name;
  return Capabilities(service->OutputName(static_cast<unsigned>(id), name), name, caps, size);
}

MMRESULT StandIn::OpenOutput(LPHMIDIOUT handle, UINT id, DWORD_PTR, DWORD_PTR, DWORD flags) {
  if (handle == nullptr) return MMSYSERR_INVALPARAM;
  // Output without a callback is all the tool uses.
  if ((flags & CALLBACK_TYPEMASK) != CALLBACK_NULL) return MMSYSERR_INVALFLAG;
  auto* output = new Output;
  // The name only labels the call record: a port without one is recorded
  // as nameless, and a second unit's port of a shared name as "NAME #2".
  std::string name;
  if (service->OutputName(id, name) == port::kNoError) output->name = service->OutputLabel(id);
  const port::Result result = service->OpenOutput(id, output->port);
  RecordCall("midiOutOpen", output->name, result);
  if (result != port::kNoError) {
    delete output;
    return result;
  }
  {
    Guard guard(lock);
    outputs.push_back(output);
  }
  *handle = reinterpret_cast<HMIDIOUT>(output);
  return MMSYSERR_NOERROR;
}

MMRESULT StandIn::PrepareOutput(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
  Output* output;
  Header* entry;
  {
    Guard guard(lock);
    output = FindOutputLocked(handle);
    if (output == nullptr) return MMSYSERR_INVALHANDLE;
    if (!Usable(header, size, true)) return MMSYSERR_INVALPARAM;
    entry = &EntryLocked(header);
    if (entry->prepared) {
      IntactLocked(*entry, true, "midiOutPrepareHeader");
      return MMSYSERR_NOERROR;
    }
    entry->shadow = port::MidiHeader{};
    entry->send = true;
  }
  const port::Result result = service->PrepareOutput(output->port, entry->shadow);
  RecordCall("midiOutPrepareHeader", output->name, result);
  return Prepared(*entry, header, result);
}

MMRESULT StandIn::LongMessage(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
  Output* output;
  Header* entry;
  {
    Guard guard(lock);
    output = FindOutputLocked(handle);
    if (output == nullptr) return MMSYSERR_INVALHANDLE;
    if (!Usable(header, size, false)) return MMSYSERR_INVALPARAM;
    entry = FindLocked(header);
    const MMRESULT ready = ReadyToQueueLocked(entry, header, true, "midiOutLongMsg");
    if (ready != MMSYSERR_NOERROR) return ready;
    // The driver holds the bytes from here; keep what they were.
    const auto* bytes = reinterpret_cast<const uint8_t*>(header->lpData);
    entry->bytes.assign(bytes, bytes + header->dwBufferLength);
    entry->shadow.lpData = entry->bytes.data();
    entry->shadow.dwBufferLength = header->dwBufferLength;
    entry->held = true;
    entry->heldData = header->lpData;
    entry->heldLength = header->dwBufferLength;
    header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
  }
  const port::Result result = service->SendLong(output->port, entry->shadow);
  RecordCall("midiOutLongMsg", output->name, result);
  RecordEarlyRequests();
  if (result == port::kNoError) {
    RecordWire(output->name, entry->bytes.data(), entry->bytes.size());
    if ((entry->shadow.dwFlags & port::kHeaderDone) != 0) {
      // The current service has handed the bytes to the device before the
      // call returns: the header is done and no longer held.
      Guard guard(lock);
      entry->held = false;
      header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
    }
  } else {
    // Not taken: the program has its header back at once.
    Guard guard(lock);
    entry->held = false;
    header->dwFlags &= ~MHDR_INQUEUE;
  }
  return result;
}

MMRESULT StandIn::UnprepareOutput(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
  Output* output;
  Header* entry;
  {
    Guard guard(lock);
    output = FindOutputLocked(handle);
    if (output == nullptr) return MMSYSERR_INVALHANDLE;
    if (!Usable(header, size, false)) return MMSYSERR_INVALPARAM;
    entry = FindLocked(header);
    if (entry == nullptr || !entry->prepared) return MMSYSERR_NOERROR;
    IntactLocked(*entry, true, "midiOutUnprepareHeader");
  }
  const port::Result result = service->UnprepareOutput(output->port, entry->shadow);
  RecordCall("midiOutUnprepareHeader", output->name, result);
  if (result == port::kNoError) {
    Guard guard(lock);
    entry->prepared = false;
    entry->held = false;
    header->dwFlags = (header->dwFlags | MHDR_DONE) & ~(MHDR_PREPARED | MHDR_INQUEUE);
  }
  return result;
}

MMRESULT StandIn::PortMessage(port::Direction direction, UINT_PTR index, UINT message, DWORD_PTR first,
                              DWORD_PTR second) {
  if (message != DRV_QUERYDEVICEINTERFACESIZE && message != DRV_QUERYDEVICEINTERFACE) return MMSYSERR_NOTSUPPORTED;
  if (first == 0) return MMSYSERR_INVALPARAM;
  std::string path;
  const port::Result result = service->DeviceOf(direction, static_cast<unsigned>(index), path);
  if (result != port::kNoError) return result;
  std::wstring wide(path.size() + 1, L'\0');
  const int units = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
  wide.resize(units > 0 ? static_cast<size_t>(units) : 1); // with its terminating zero
  const size_t bytes = wide.size() * sizeof(WCHAR);
  if (message == DRV_QUERYDEVICEINTERFACESIZE) {
    *reinterpret_cast<ULONG*>(first) = static_cast<ULONG>(bytes);
    return MMSYSERR_NOERROR;
  }
  // The caller's buffer, of the size it says: a path that does not fit is
  // refused, as the service's copy refuses it.
  if (second < bytes) return MMSYSERR_ERROR;
  std::memcpy(reinterpret_cast<void*>(first), wide.data(), bytes);
  return MMSYSERR_NOERROR;
}

void StandIn::CheckHeldAtExit() {
  // Every other thread is gone; one may have died holding the lock, in
  // which case the tables are not safe to walk.
  if (!TryEnterCriticalSection(&lock)) {
    static const char kNote[] = "fake winmm: held headers not checked at exit: a thread died inside the stand-in\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), kNote, sizeof kNote - 1, &written, nullptr);
    return;
  }
  for (Header* entry : headers) IntactLocked(*entry, entry->send, "at exit");
  LeaveCriticalSection(&lock);
}

} // namespace fake_winmm
