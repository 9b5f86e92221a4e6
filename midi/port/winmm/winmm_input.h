// The input half of the winmm layer: midiIn* one to one, keeping winmm's
// result codes, with the driver's callback handed off to the layer's own
// thread.
//
// Threads: the driver calls DriverCallback on its own thread (and inside
// midiInOpen on the opening thread); it only posts to the relay. The relay
// thread calls the device layer's callback, which gives buffers back from
// there. The other operations come from the main thread. headerLock keeps the
// main thread's prepare and release of a buffer apart from the relay
// thread's give-back and delivery of the same buffer.
//
// Ownership: each open port has a Port, and each buffer a HeaderState with
// the MIDIHDR that winmm sees; the device layer's port::MidiHeader is only
// mirrored into it. The driver keeps the Port as its callback instance and
// may hold a MIDIHDR, and a "buffer done" event may still be queued for it
// after the driver let go, so neither is ever freed; nor is the relay. That
// is a few dozen bytes per port for the life of the process.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <mutex>
#include <string>
#include <vector>

#include "midi/port/port.h"
#include "midi/port/winmm/event_relay.h"

namespace port::winmm {

class WinmmInput final {
 public:
  WinmmInput();
  // Stops delivery; leaves the ports, their buffers and the relay alive.
  ~WinmmInput();
  WinmmInput(const WinmmInput&) = delete;
  WinmmInput& operator=(const WinmmInput&) = delete;

  unsigned Count();
  Result Name(unsigned index, std::string& name);
  Result Open(unsigned index, InputCallback callback, uintptr_t context, InputHandle& handle);
  Result Start(InputHandle handle);
  Result Stop(InputHandle handle);
  Result Prepare(InputHandle handle, MidiHeader& header);
  Result Add(InputHandle handle, MidiHeader& header);
  Result Unprepare(InputHandle handle, MidiHeader& header);
  void Detach(InputHandle handle);
  void Shutdown();

  // Driver events dropped because the relay's queue was full.
  uint64_t LostEvents();

 private:
  struct HeaderState {
    MIDIHDR header{};
    MidiHeader* owner = nullptr;
    bool prepared = false;
  };
  struct Port {
    EventRelay* relay = nullptr;
    HMIDIIN device = nullptr;
    InputCallback callback = nullptr;
    uintptr_t context = 0;
    std::vector<HeaderState*> headers; // under headerLock
  };

  static void CALLBACK DriverCallback(HMIDIIN device, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                      DWORD_PTR param2);
  void Deliver(const DriverEvent& event);
  // A filled buffer comes back: mirrors count and flags into the device
  // layer's header and returns that header, or 0 for a MIDIHDR not ours.
  uintptr_t BufferReturned(Port& port, uintptr_t driverHeader);
  static HeaderState* FindLocked(Port& port, const MidiHeader& header);

  std::mutex headerLock;
  EventRelay* relay;
};

} // namespace port::winmm
