#include "midi/port/winmm/winmm_input.h"

#include "midi/port/winmm/port_names.h"

namespace port::winmm {

namespace {

// Events the driver may report while the relay thread is busy (a reply
// waiting on a busy output port takes up to 0.3 s; a fast fader sends about
// a thousand messages a second), with a wide margin. Sized once: the driver
// callback must not allocate.
constexpr size_t kRelayCapacity = 65536;

InputHandle ToHandle(void* port) {
  return reinterpret_cast<InputHandle>(port);
}

} // namespace

WinmmInput::WinmmInput()
    : relay(new EventRelay(kRelayCapacity, [this](const DriverEvent& event) { Deliver(event); })) {}

WinmmInput::~WinmmInput() {
  Shutdown();
}

void CALLBACK WinmmInput::DriverCallback(HMIDIIN, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                         DWORD_PTR param2) {
  // Runs on the driver's thread: only the relay's lock and event in here.
  Port* port = reinterpret_cast<Port*>(instance);
  port->relay->Post(DriverEvent{port, message, param1, param2});
}

void WinmmInput::Deliver(const DriverEvent& event) {
  Port& port = *static_cast<Port*>(const_cast<void*>(event.port));
  uintptr_t param1 = event.param1;
  if (event.message == MIM_LONGDATA || event.message == MIM_LONGERROR) param1 = BufferReturned(port, param1);
  port.callback(ToHandle(&port), event.message, port.context, param1, event.param2);
}

uintptr_t WinmmInput::BufferReturned(Port& port, uintptr_t driverHeader) {
  std::lock_guard<std::mutex> guard(headerLock);
  for (HeaderState* state : port.headers) {
    if (reinterpret_cast<uintptr_t>(&state->header) != driverHeader) continue;
    // The driver has let go of the buffer: its count and flags are final.
    if (!state->prepared || state->owner == nullptr) return 0;
    state->owner->dwBytesRecorded = state->header.dwBytesRecorded;
    state->owner->dwFlags = state->header.dwFlags;
    return reinterpret_cast<uintptr_t>(state->owner);
  }
  return 0;
}

WinmmInput::HeaderState* WinmmInput::FindLocked(Port& port, const MidiHeader& header) {
  for (HeaderState* state : port.headers) {
    if (state->owner == &header) return state;
  }
  return nullptr;
}

unsigned WinmmInput::Count() {
  return midiInGetNumDevs();
}

Result WinmmInput::Name(unsigned index, std::string& name) {
  MIDIINCAPSW caps{};
  const MMRESULT result = midiInGetDevCapsW(index, &caps, sizeof caps);
  if (result != MMSYSERR_NOERROR) return result;
  name = PortNameToUtf8(caps.szPname);
  return kNoError;
}

Result WinmmInput::Open(unsigned index, InputCallback callback, uintptr_t context, InputHandle& handle) {
  auto* port = new Port;
  port->relay = relay;
  port->callback = callback;
  port->context = context;
  HMIDIIN device = nullptr;
  const MMRESULT result = midiInOpen(&device, index, reinterpret_cast<DWORD_PTR>(&DriverCallback),
                                     reinterpret_cast<DWORD_PTR>(port), CALLBACK_FUNCTION);
  if (result != MMSYSERR_NOERROR) {
    // Nothing should have been reported for a port that did not open, but
    // whatever was is skipped, and the Port stays valid for it.
    relay->Detach(port);
    return result;
  }
  port->device = device;
  // winmm reports the open from inside midiInOpen; let the relay deliver it
  // before the caller goes on, so "MIM_OPEN" comes before the port is
  // reported found, as the user would see it with the callback called
  // directly.
  relay->WaitUntilHandled(relay->Posted());
  handle = ToHandle(port);
  return kNoError;
}

Result WinmmInput::Start(InputHandle handle) {
  if (handle == nullptr) return MMSYSERR_INVALHANDLE;
  return midiInStart(reinterpret_cast<Port*>(handle)->device);
}

Result WinmmInput::Stop(InputHandle handle) {
  if (handle == nullptr) return MMSYSERR_INVALHANDLE;
  return midiInStop(reinterpret_cast<Port*>(handle)->device);
}

Result WinmmInput::Prepare(InputHandle handle, MidiHeader& header) {
  if (handle == nullptr) return MMSYSERR_INVALHANDLE;
  Port& port = *reinterpret_cast<Port*>(handle);
  std::lock_guard<std::mutex> guard(headerLock);
  HeaderState* state = FindLocked(port, header);
  const bool fresh = state == nullptr;
  if (fresh) {
    state = new HeaderState;
    state->owner = &header;
  }
  if (!state->prepared) {
    // The driver holds no unprepared MIDIHDR, so it may be set up afresh.
    state->header = MIDIHDR{};
    state->header.lpData = reinterpret_cast<LPSTR>(header.lpData);
    state->header.dwBufferLength = header.dwBufferLength;
    state->header.dwUser = header.dwUser;
    state->header.dwFlags = header.dwFlags;
  }
  const MMRESULT result = midiInPrepareHeader(port.device, &state->header, sizeof(MIDIHDR));
  if (result != MMSYSERR_NOERROR) {
    if (fresh) delete state;
    return result;
  }
  state->prepared = true;
  header.dwFlags = state->header.dwFlags;
  header.layerState = state;
  if (fresh) port.headers.push_back(state);
  return kNoError;
}

Result WinmmInput::Add(InputHandle handle, MidiHeader& header) {
  if (handle == nullptr) return MMSYSERR_INVALHANDLE;
  Port& port = *reinterpret_cast<Port*>(handle);
  std::lock_guard<std::mutex> guard(headerLock);
  HeaderState* state = FindLocked(port, header);
  if (state == nullptr || !state->prepared) return MIDIERR_UNPREPARED;
  const MMRESULT result = midiInAddBuffer(port.device, &state->header, sizeof(MIDIHDR));
  // From here the driver owns the MIDIHDR, so its flags are not read back;
  // the device layer's copy says what they are now.
  if (result == MMSYSERR_NOERROR) header.dwFlags = (header.dwFlags & ~kHeaderDone) | kHeaderInQueue;
  return result;
}

Result WinmmInput::Unprepare(InputHandle handle, MidiHeader& header) {
  if (handle == nullptr) return MMSYSERR_INVALHANDLE;
  Port& port = *reinterpret_cast<Port*>(handle);
  std::lock_guard<std::mutex> guard(headerLock);
  HeaderState* state = FindLocked(port, header);
  if (state == nullptr || !state->prepared) {
    // Never prepared: winmm answers an unprepared header without keeping it.
    MIDIHDR unprepared{};
    unprepared.lpData = reinterpret_cast<LPSTR>(header.lpData);
    unprepared.dwBufferLength = header.dwBufferLength;
    return midiInUnprepareHeader(port.device, &unprepared, sizeof unprepared);
  }
  const MMRESULT result = midiInUnprepareHeader(port.device, &state->header, sizeof(MIDIHDR));
  // Refused (still queued): the driver keeps the MIDIHDR and the bytes.
  if (result != MMSYSERR_NOERROR) return result;
  state->prepared = false;
  header.dwFlags = state->header.dwFlags;
  header.layerState = nullptr;
  return kNoError;
}

void WinmmInput::Detach(InputHandle handle) {
  if (handle == nullptr) return;
  relay->Detach(reinterpret_cast<Port*>(handle));
}

void WinmmInput::Shutdown() {
  relay->Shutdown();
}

uint64_t WinmmInput::LostEvents() {
  return relay->Lost();
}

} // namespace port::winmm
