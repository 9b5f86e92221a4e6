#include "midi/port/winmm/winmm_input.h"

#include <algorithm>

#include "midi/port/winmm/port_names.h"

namespace port::winmm {

namespace {

// Events a port's driver may report while its relay thread is busy (a reply
// waiting on a busy output port takes up to 0.3 s, one the device stopped
// taking 4 s; a fast fader sends about a thousand messages a second). Sized
// once: the driver callback must not allocate.
constexpr size_t kRelayCapacity = 16384;

InputHandle ToHandle(void* port) {
  return reinterpret_cast<InputHandle>(port);
}

} // namespace

WinmmInput::WinmmInput() = default;

WinmmInput::~WinmmInput() {
  Shutdown();
}

void CALLBACK WinmmInput::DriverCallback(HMIDIIN, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                         DWORD_PTR param2) {
  // Runs on the driver's thread: only the relay's lock and event in here.
  Port* port = reinterpret_cast<Port*>(instance);
  if (!port->relay->Post(DriverEvent{port, message, param1, param2})) {
    port->lost.fetch_add(1, std::memory_order_relaxed);
  }
}

void WinmmInput::Deliver(const DriverEvent& event) {
  Port& port = *static_cast<Port*>(const_cast<void*>(event.port));
  uintptr_t param1 = event.param1;
  if (event.message == MIM_LONGDATA || event.message == MIM_LONGERROR) {
    param1 = BufferReturned(port, param1);
    // Nothing for the device layer: a buffer taken back while its port is
    // released (it would queue it again), or a message that found the
    // device layer's buffer still in use.
    if (param1 == 0) return;
  }
  port.callback(ToHandle(&port), event.message, port.context, param1, event.param2);
}

uintptr_t WinmmInput::BufferReturned(Port& port, uintptr_t driverHeader) {
  std::lock_guard<std::mutex> guard(headerLock);
  for (HeaderState* state : port.headers) {
    for (DriverBuffer* retired : state->retired) {
      if (reinterpret_cast<uintptr_t>(&retired->header) == driverHeader) retired->queued = false;
    }
    for (DriverBuffer* buffer : state->buffers) {
      if (reinterpret_cast<uintptr_t>(&buffer->header) != driverHeader) continue;
      buffer->queued = false;
      // Taken back by a release: nothing to pass on, nothing to queue.
      if (!state->prepared) return 0;
      MidiHeader* owner = nullptr;
      if (state->waiting) {
        // The driver has let go of the buffer: its count is final.
        owner = state->owner;
        const DWORD count = std::min<DWORD>(buffer->header.dwBytesRecorded, owner->dwBufferLength);
        std::copy(buffer->bytes.begin(), buffer->bytes.begin() + count, owner->lpData);
        owner->dwBytesRecorded = count;
        owner->dwFlags = (owner->dwFlags & ~kHeaderInQueue) | kHeaderDone;
        state->waiting = false;
      }
      // A message that finds the device layer's buffer still in use is
      // dropped: the driver gave it to us and we could not keep it, so it
      // counts as lost. Either way the driver has its buffer again before
      // the device layer's handler runs. A failure here shows when the
      // device layer gives its buffer back.
      if (owner == nullptr && buffer->header.dwBytesRecorded != 0) port.lost.fetch_add(1, std::memory_order_relaxed);
      QueueLocked(port, *state);
      return reinterpret_cast<uintptr_t>(owner);
    }
  }
  return 0;
}

WinmmInput::HeaderState* WinmmInput::FindLocked(Port& port, const MidiHeader& header) {
  for (HeaderState* state : port.headers) {
    if (state->owner == &header) return state;
  }
  return nullptr;
}

MMRESULT WinmmInput::QueueLocked(Port& port, HeaderState& state) {
  MMRESULT failure = MMSYSERR_NOERROR;
  for (DriverBuffer* buffer : state.buffers) {
    if (!buffer->prepared || buffer->queued) continue;
    const MMRESULT result = midiInAddBuffer(port.device, &buffer->header, sizeof(MIDIHDR));
    if (result == MMSYSERR_NOERROR) {
      buffer->queued = true;
    } else if (failure == MMSYSERR_NOERROR) {
      failure = result;
    }
  }
  return failure;
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
  // A relay of its own: as on the current Windows service, which delivers
  // each port on a thread of its own, a reply stuck on one device's busy
  // output holds up no other device's input.
  port->relay = new EventRelay(kRelayCapacity, [this](const DriverEvent& event) { Deliver(event); });
  {
    std::lock_guard<std::mutex> guard(relaysLock);
    relays.push_back(port->relay);
  }
  port->callback = callback;
  port->context = context;
  HMIDIIN device = nullptr;
  const MMRESULT result = midiInOpen(&device, index, reinterpret_cast<DWORD_PTR>(&DriverCallback),
                                     reinterpret_cast<DWORD_PTR>(port), CALLBACK_FUNCTION);
  if (result != MMSYSERR_NOERROR) {
    // Nothing should have been reported for a port that did not open, but
    // whatever was is dropped, and the Port stays valid for it.
    port->relay->Shutdown();
    return result;
  }
  port->device = device;
  // winmm reports the open from inside midiInOpen; let the relay deliver it
  // before the caller goes on, so "MIM_OPEN" comes before the port is
  // reported found, as the user would see it with the callback called
  // directly.
  port->relay->WaitUntilHandled(port->relay->Posted());
  handle = ToHandle(port);
  return kNoError;
}

Result WinmmInput::Start(InputHandle handle) {
  if (handle == nullptr) return MMSYSERR_INVALHANDLE;
  Port& port = *reinterpret_cast<Port*>(handle);
  const MMRESULT result = midiInStart(port.device);
  std::lock_guard<std::mutex> guard(headerLock);
  if (result == MMSYSERR_NOERROR) port.started = true;
  return result;
}

Result WinmmInput::Stop(InputHandle handle) {
  if (handle == nullptr) return MMSYSERR_INVALHANDLE;
  Port& port = *reinterpret_cast<Port*>(handle);
  const MMRESULT result = midiInStop(port.device);
  {
    std::lock_guard<std::mutex> guard(headerLock);
    if (result == MMSYSERR_NOERROR) port.started = false;
  }
  // midiInStop hands a partly filled buffer back as an invalid long
  // message; the device layer has it, and has given it back, before it
  // goes on to release its buffer.
  port.relay->WaitUntilHandled(port.relay->Posted());
  return result;
}

Result WinmmInput::Prepare(InputHandle handle, MidiHeader& header) {
  if (handle == nullptr) return MMSYSERR_INVALHANDLE;
  Port& port = *reinterpret_cast<Port*>(handle);
  if (header.lpData == nullptr || header.dwBufferLength == 0) return MMSYSERR_INVALPARAM;
  std::lock_guard<std::mutex> guard(headerLock);
  HeaderState* state = FindLocked(port, header);
  if (state == nullptr) {
    state = new HeaderState;
    state->owner = &header;
    port.headers.push_back(state);
  }
  if (state->prepared) return MMSYSERR_NOERROR; // winmm: preparing twice is no error
  // Buffers the driver still holds, or of another size, are not reused.
  bool reusable = state->buffers.size() == kDriverBuffers;
  for (DriverBuffer* buffer : state->buffers) {
    reusable = reusable && !buffer->queued && buffer->bytes.size() == header.dwBufferLength;
  }
  if (!reusable) {
    state->retired.insert(state->retired.end(), state->buffers.begin(), state->buffers.end());
    state->buffers.clear();
    for (size_t i = 0; i < kDriverBuffers; ++i) {
      auto* buffer = new DriverBuffer;
      buffer->bytes.resize(header.dwBufferLength);
      state->buffers.push_back(buffer);
    }
  }
  for (DriverBuffer* buffer : state->buffers) {
    if (buffer->prepared) continue;
    buffer->header = MIDIHDR{};
    buffer->header.lpData = reinterpret_cast<LPSTR>(buffer->bytes.data());
    buffer->header.dwBufferLength = static_cast<DWORD>(buffer->bytes.size());
    const MMRESULT result = midiInPrepareHeader(port.device, &buffer->header, sizeof(MIDIHDR));
    // Those prepared so far stay prepared for the next attempt.
    if (result != MMSYSERR_NOERROR) return result;
    buffer->prepared = true;
  }
  state->prepared = true;
  header.dwFlags |= kHeaderPrepared;
  header.layerState = state;
  return kNoError;
}

Result WinmmInput::Add(InputHandle handle, MidiHeader& header) {
  if (handle == nullptr) return MMSYSERR_INVALHANDLE;
  Port& port = *reinterpret_cast<Port*>(handle);
  std::lock_guard<std::mutex> guard(headerLock);
  HeaderState* state = FindLocked(port, header);
  if (state == nullptr || !state->prepared) return MIDIERR_UNPREPARED;
  if (state->waiting) return MIDIERR_STILLPLAYING;
  // Driver buffers whose queueing failed before are tried again here.
  const MMRESULT failure = QueueLocked(port, *state);
  bool anyQueued = false;
  for (DriverBuffer* buffer : state->buffers) anyQueued = anyQueued || buffer->queued;
  // With no buffer at the driver no message can come: that is the failure
  // the device layer reports. With some, the port works on.
  if (!anyQueued) return failure != MMSYSERR_NOERROR ? failure : MMSYSERR_ERROR;
  state->waiting = true;
  header.dwBytesRecorded = 0;
  header.dwFlags = (header.dwFlags & ~kHeaderDone) | kHeaderInQueue;
  return kNoError;
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
  bool anyQueued = false;
  for (DriverBuffer* buffer : state->buffers) anyQueued = anyQueued || buffer->queued;
  if (port.started) {
    // A running port refuses a buffer that waits for a message.
    if (state->waiting) return MIDIERR_STILLPLAYING;
    // Not waiting: the driver keeps the layer's own buffers (never freed),
    // and what comes back in them is no longer passed on.
  } else {
    // midiInStop leaves empty buffers queued; only midiInReset returns them.
    // Their "buffer done" events are not passed on (see BufferReturned).
    if (anyQueued) {
      const MMRESULT reset = midiInReset(port.device);
      if (reset != MMSYSERR_NOERROR) return reset;
      for (DriverBuffer* buffer : state->buffers) buffer->queued = false;
    }
    for (DriverBuffer* buffer : state->buffers) {
      if (!buffer->prepared) continue;
      const MMRESULT result = midiInUnprepareHeader(port.device, &buffer->header, sizeof(MIDIHDR));
      if (result != MMSYSERR_NOERROR) return result;
      buffer->prepared = false;
    }
  }
  state->prepared = false;
  state->waiting = false;
  header.dwFlags &= ~(kHeaderPrepared | kHeaderInQueue);
  header.layerState = nullptr;
  return kNoError;
}

void WinmmInput::Detach(InputHandle handle) {
  if (handle == nullptr) return;
  Port* port = reinterpret_cast<Port*>(handle);
  port->relay->Detach(port);
}

void WinmmInput::Shutdown() {
  std::lock_guard<std::mutex> guard(relaysLock);
  for (EventRelay* relay : relays) relay->Shutdown();
}

uint64_t WinmmInput::Lost(InputHandle handle) {
  if (handle == nullptr) return 0;
  return reinterpret_cast<Port*>(handle)->lost.load(std::memory_order_relaxed);
}

} // namespace port::winmm
