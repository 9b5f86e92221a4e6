// Waiting for the JACK server to run a new connection: jack_connect returns
// once the server has written the connection into the next state of its
// graph, and the server runs that state only from the start of a later
// cycle, and only when every client has finished the cycle before (a client
// that misses its cycle holds every graph change back). What is written into
// a port before then reaches nobody, and a handler sends its first request
// right after the open. Outside the process thread the connections a port
// reports are those of the graph the server runs, so the waiter looks at
// them once per cycle until the new one is there.
//
// Threads: OnCycle on JACK's process thread (it only posts a semaphore, and
// only while somebody waits); Until from any thread, one at a time (the
// wake-up has one sleeper; later callers wait their turn).
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>

#include "midi/port/shared/wakeup.h"

namespace port::shared {

class CycleWait {
 public:
  // The process callback's part, every cycle.
  void OnCycle() {
    if (waiters.load(std::memory_order_acquire) > 0) wakeup.Signal();
  }
  // Calls look at once and then once per cycle until it returns true (then
  // true) or the timeout has passed (then false).
  bool Until(const std::function<bool()>& look, std::chrono::milliseconds timeout);

 private:
  std::mutex oneAtATime;
  std::atomic<int> waiters{0};
  Wakeup wakeup;
};

} // namespace port::shared
