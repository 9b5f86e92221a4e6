// The input half of the winmm layer: midiIn* with winmm's result codes, the
// driver's callback handed off to the layer's own thread.
//
// Threads: the driver calls DriverCallback on its own threads (and inside
// midiInOpen on the opening thread); it only posts to the port's relay. Each
// open port has a relay thread of its own, which calls the device layer's
// callback, which gives its buffer back from there. The other operations
// come from the main thread. headerLock keeps the main thread's prepare,
// stop and release apart from the relay threads' delivery and give-back.
//
// Long messages: the device layer has one buffer per port (a port::MidiHeader)
// and gives it back after each message, once its handler is done, which may
// include a reply sent to the controller. With the callback running on the
// driver's thread the driver would wait meanwhile; here it does not, and a
// driver without a queued buffer drops the controller's answer. So the
// layer gives the driver MIDIHDRs of its own, kDriverBuffers per device-layer
// buffer, each with its own bytes, and queues each again as soon as it comes
// back, before the device layer sees its content, copied into the device
// layer's buffer. The device layer still gets one message per filled buffer,
// in order.
//
// Ownership: each open port has a Port, each device-layer buffer a
// HeaderState with its DriverBuffers. The driver keeps the Port as its
// callback instance and may hold a MIDIHDR until the process ends, and a
// "buffer done" event may still be on its way after the driver let go, so
// none of them is ever freed; nor is the port's relay. That is about half a
// megabyte per port for the life of the process.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "midi/port/port.h"
#include "midi/port/winmm/event_relay.h"

namespace port::winmm {

class WinmmInput final {
 public:
  WinmmInput();
  // Stops delivery; leaves the ports, their buffers and their relays alive.
  ~WinmmInput();
  WinmmInput(const WinmmInput&) = delete;
  WinmmInput& operator=(const WinmmInput&) = delete;

  unsigned Count();
  [[nodiscard]] Result Name(unsigned index, std::string& name);
  [[nodiscard]] Result Open(unsigned index, InputCallback callback, uintptr_t context, InputHandle& handle);
  [[nodiscard]] Result Start(InputHandle handle);
  [[nodiscard]] Result Stop(InputHandle handle);
  [[nodiscard]] Result Prepare(InputHandle handle, MidiHeader& header);
  [[nodiscard]] Result Add(InputHandle handle, MidiHeader& header);
  [[nodiscard]] Result Unprepare(InputHandle handle, MidiHeader& header);
  void Detach(InputHandle handle);
  void Shutdown();

  // Events of the port the driver reported that the layer could not keep:
  // the relay's queue was full, or a filled buffer came back while the
  // device layer still had the one it copies into.
  uint64_t Lost(InputHandle handle);

  // MIDIHDRs the driver gets for each device-layer buffer.
  static constexpr size_t kDriverBuffers = 4;

 private:
  struct DriverBuffer {
    MIDIHDR header{};
    std::vector<uint8_t> bytes;
    bool prepared = false;
    bool queued = false; // with the driver
  };
  struct HeaderState {
    MidiHeader* owner = nullptr;
    bool prepared = false;
    // The device layer has given its buffer: the next message goes into it.
    bool waiting = false;
    std::vector<DriverBuffer*> buffers;
    // Buffers of an earlier prepare that the driver still held; their
    // returns are ignored.
    std::vector<DriverBuffer*> retired;
  };
  struct Port {
    EventRelay* relay = nullptr;
    HMIDIIN device = nullptr;
    InputCallback callback = nullptr;
    uintptr_t context = 0;
    // Under headerLock.
    std::vector<HeaderState*> headers;
    bool started = false;
    // Counted on the driver's thread and the relay's; read at the end.
    std::atomic<uint64_t> lost{0};
  };

  static void CALLBACK DriverCallback(HMIDIIN device, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                      DWORD_PTR param2);
  void Deliver(const DriverEvent& event);
  // A driver buffer came back: queues it again and, when the device layer's
  // buffer is waiting, copies the content there and returns that header;
  // 0 when there is nothing to pass on.
  uintptr_t BufferReturned(Port& port, uintptr_t driverHeader);
  static HeaderState* FindLocked(Port& port, const MidiHeader& header);
  // Queues every prepared driver buffer the driver does not hold; the first
  // failure's code, or 0.
  static MMRESULT QueueLocked(Port& port, HeaderState& state);

  std::mutex headerLock;
  std::mutex relaysLock; // guards relays: opens and the shutdown
  std::vector<EventRelay*> relays;
};

} // namespace port::winmm
