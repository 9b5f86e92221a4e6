// The hand-off between the MIDI driver's callback and the layer's own thread.
//
// winmm calls the input callback on a driver thread (and "port opened" on
// the thread inside midiInOpen). Inside that callback Microsoft allows no
// multimedia call, so the tool's input logic, which gives buffers back with
// midiInAddBuffer and replies with midiOutLongMsg, cannot run there. The
// driver callback therefore only posts the event here; the relay thread
// takes events off in the order they came and runs the delivery function,
// one at a time. The layer gives each open port a relay of its own, as the
// current Windows service gives each port a delivery thread, so that a
// reply stuck on one device's output holds up no other device's input; a
// relay could serve several ports (Detach names the port), but serves one.
//
// Threads: Post from any driver thread (it only enters and leaves the lock
// and, when the relay's thread sleeps, wakes it; it never allocates: the
// queue is sized once). The relay's thread takes every event queued before
// it sleeps again, so a burst costs one wake-up, not one per event.
// Everything else from the layer's own callers. The delivery function runs
// on the relay thread only.
//
// Lifetime: after Shutdown, Post still works and drops the event, so a
// driver that calls back late finds a live object. The layer keeps its relay
// for the life of the process for that reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "midi/port/winmm/relay_lock.h"

namespace port::winmm {

// One event as the driver reported it. port is the layer's own port state.
struct DriverEvent {
  const void* port = nullptr;
  uint32_t message = 0;
  uintptr_t param1 = 0;
  uintptr_t param2 = 0;
};

// A fixed-capacity first-in first-out queue of events; no lock of its own.
class EventRing {
 public:
  explicit EventRing(size_t capacity);
  // False when full: the event is not stored.
  bool Push(const DriverEvent& event);
  bool Pop(DriverEvent& event);
  size_t Size() const { return count; }
  void Clear();

 private:
  std::vector<DriverEvent> slots;
  size_t head = 0; // next to pop
  size_t count = 0;
};

class EventRelay {
 public:
  using Delivery = std::function<void(const DriverEvent&)>;

  // Starts the relay thread.
  EventRelay(size_t capacity, Delivery deliver);
  ~EventRelay();
  EventRelay(const EventRelay&) = delete;
  EventRelay& operator=(const EventRelay&) = delete;

  // From the driver callback. False when the queue was full and the event
  // is lost.
  bool Post(const DriverEvent& event);

  // How many events have been posted so far (lost ones not counted).
  uint64_t Posted();
  // Waits until the first count posted events have been delivered or
  // skipped. Returns at once on the relay thread (it would wait for itself)
  // and after Shutdown.
  void WaitUntilHandled(uint64_t count);

  // From now on the port's events are skipped; waits for a delivery to the
  // port that is running on the relay thread (unless called from there).
  void Detach(const void* port);

  // Stops delivery, drops what is queued and waits for a running delivery
  // to return (unless called from the relay thread). Later posts are dropped.
  void Shutdown();

  // Events dropped because the queue was full.
  uint64_t Lost();
  // Threads waiting in WaitUntilHandled or Detach, and whether Shutdown has
  // begun: what a test waits for instead of a guess at the time it takes.
  int Waiters();
  bool Closing();
  bool OnRelayThread() const;

 private:
  void Run();
  bool DetachedLocked(const void* port) const;

  RelayLock lock;
  EventRing ring;
  Delivery deliver;
  std::vector<const void*> detached;
  const void* delivering = nullptr;
  uint64_t posted = 0;
  uint64_t handled = 0;
  uint64_t lost = 0;
  bool closing = false;
  // The relay thread sleeps and must be woken for the next event.
  bool relayWaiting = false;
  // Threads in WaitForProgress, which every delivery must then wake.
  int progressWaiters = 0;
  std::thread thread;
  std::thread::id threadId;
};

} // namespace port::winmm
