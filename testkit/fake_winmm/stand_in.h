// The stand-in behind winmm's MIDI functions: the simulated service with the
// virtual controllers of a named scenario, dressed as winmm.
//
// It behaves as winmm does where the tool relies on it: result codes,
// MIDIHDR flags and byte counts, "port opened" reported from inside
// midiInOpen on the caller's thread, every other input event from a driver
// thread of the port's own (the simulated service's), midiInReset handing
// queued buffers back from inside the call, port names and device
// interfaces. The scenario is named by the
// environment variable FAKE_WINMM_SCENARIO (testkit::BuildScenario), and
// FAKE_WINMM_SERVICE says which Windows service to behave as: "classic" (the
// default), "current" for Windows MIDI Services behind winmm as it ships
// since November 2026, or "current-before-november" for the same before
// that update (port::sim::ServiceModel). FAKE_WINMM_DEVICE_QUERY set to
// "unsupported" or "empty" answers the device interface queries as Wine's
// drivers and some service builds of 2025 do.
//
// It also holds the program to winmm's rules and records every breach
// (records.h):
//  - no MIDI function may be called from inside the driver callback;
//  - a request may reach a controller only once the input that gets its
//    answer is started with a buffer queued;
//  - a MIDIHDR, and for a send its bytes, must stay as they were while the
//    driver holds them: from midiInAddBuffer until the buffer comes back,
//    from midiOutLongMsg until midiOutUnprepareHeader succeeds. Checked
//    whenever the program passes such a header again, before a buffer is
//    filled, and for what is still held when the process exits. (Stricter
//    than winmm for a send: it counts as held until released, not only until
//    it is done, which the tool never tells apart.)
//
// Threads: the program's threads and the simulated service's delivery
// threads, one per input port, which run the program's driver callback
// (with the callback scope marked, callback_scope.h). lock guards the tables
// and is never held while the simulated service or the program's callback
// runs. Nothing is ever freed: the program's driver callback and headers may
// be used until the process is gone.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <string>
#include <vector>

#include "midi/port/port.h"

#include "midi/port/simulated/simulated_service.h"

namespace fake_winmm {

class StandIn {
 public:
  // Built on first use, never in DllMain (the service starts a thread).
  static StandIn& Get();
  // The stand-in if it was built, for the check at process exit.
  static StandIn* IfBuilt();

  UINT InputCount();
  MMRESULT InputCaps(UINT_PTR id, LPMIDIINCAPSW caps, UINT size);
  MMRESULT OpenInput(LPHMIDIIN handle, UINT id, DWORD_PTR callback, DWORD_PTR instance, DWORD flags);
  MMRESULT StartInput(HMIDIIN handle);
  MMRESULT StopInput(HMIDIIN handle);
  MMRESULT ResetInput(HMIDIIN handle);
  MMRESULT PrepareInput(HMIDIIN handle, LPMIDIHDR header, UINT size);
  MMRESULT AddInput(HMIDIIN handle, LPMIDIHDR header, UINT size);
  MMRESULT UnprepareInput(HMIDIIN handle, LPMIDIHDR header, UINT size);

  UINT OutputCount();
  MMRESULT OutputCaps(UINT_PTR id, LPMIDIOUTCAPSW caps, UINT size);
  MMRESULT OpenOutput(LPHMIDIOUT handle, UINT id, DWORD_PTR callback, DWORD_PTR instance, DWORD flags);
  MMRESULT PrepareOutput(HMIDIOUT handle, LPMIDIHDR header, UINT size);
  MMRESULT LongMessage(HMIDIOUT handle, LPMIDIHDR header, UINT size);
  MMRESULT UnprepareOutput(HMIDIOUT handle, LPMIDIHDR header, UINT size);

  // midiInMessage and midiOutMessage sent with a port index in place of a
  // handle: the device interface queries, answered from the simulated
  // service; every other message is not supported.
  MMRESULT PortMessage(port::Direction direction, UINT_PTR index, UINT message, DWORD_PTR first, DWORD_PTR second);

  // Every header the driver still holds must be as it was handed over.
  void CheckHeldAtExit();

 private:
  struct Input {
    StandIn* owner = nullptr;
    unsigned index = 0; // the port's, as opened
    port::InputHandle port = nullptr;
    DWORD_PTR callback = 0;
    DWORD_PTR instance = 0;
  };
  struct Output {
    std::string name;
    port::OutputHandle port = nullptr;
  };
  // The program's MIDIHDR and the header the simulated service sees for it.
  struct Header {
    LPMIDIHDR program = nullptr;
    port::MidiHeader shadow;
    bool send = false; // an output header
    bool prepared = false;
    bool held = false;
    // The MIDIHDR's buffer as it was handed over.
    LPSTR heldData = nullptr;
    DWORD heldLength = 0;
    // Input: where the service records. Output: the bytes as they were sent.
    std::vector<uint8_t> bytes;
    // Input: the port the header was prepared on.
    Input* input = nullptr;
  };

  StandIn();
  static port::sim::ServiceModel ServiceModelFromEnvironment();
  // Records the requests that found their controller's input unready.
  void RecordEarlyRequests();
  static void Delivered(port::InputHandle port, uint32_t message, uintptr_t context, uintptr_t param1,
                        uintptr_t param2);
  // Moves a filled buffer into the program's MIDIHDR; 0 when it must not.
  DWORD_PTR BufferBack(port::MidiHeader* shadow);
  Input* FindInputLocked(HMIDIIN handle);
  Output* FindOutputLocked(HMIDIOUT handle);
  // The service's port behind an input handle (and its index), or none.
  port::InputHandle PortOf(HMIDIIN handle, unsigned* index = nullptr);
  Header* FindLocked(LPMIDIHDR header);
  Header& EntryLocked(LPMIDIHDR header);
  // False, with the breach recorded, when a held header was changed.
  bool IntactLocked(Header& entry, bool withBytes, const char* when);
  // After the service prepared a header's shadow: the program's header
  // is prepared too.
  MMRESULT Prepared(Header& entry, LPMIDIHDR header, port::Result result);
  // Whether a header may be queued or sent: prepared, and not held.
  MMRESULT ReadyToQueueLocked(Header* entry, LPMIDIHDR header, bool withBytes, const char* call);

  CRITICAL_SECTION lock;
  port::sim::SimulatedService* service;
  std::vector<Input*> inputs;
  std::vector<Output*> outputs;
  std::vector<Header*> headers;
  size_t earlyRequestsSeen = 0;
  // When the program first called: the clock of the stops' record.
  ULONGLONG builtAt = GetTickCount64();
};

} // namespace fake_winmm
