// Wakes the layer's thread when a message has been queued for it.
//
// Signal is called from the MIDI service's thread, on JACK the real-time
// process thread, so it must not block: it posts a semaphore (an atomic
// increment, and a kernel call only when the thread sleeps). A condition
// variable would need its mutex.
//
// Threads: Signal from any thread; Wait and WaitUntil from the one thread
// that sleeps on it.
#pragma once

#include <chrono>

#if defined(__APPLE__)
#include <dispatch/dispatch.h>
#else
#include <semaphore.h>
#endif

namespace port::shared {

class Wakeup {
 public:
  using Clock = std::chrono::steady_clock;

  Wakeup();
  ~Wakeup();
  Wakeup(const Wakeup&) = delete;
  Wakeup& operator=(const Wakeup&) = delete;

  void Signal();
  // Sleeps until signalled (or until the deadline), then takes every signal
  // given so far: one wake-up covers all messages queued before it.
  void Wait();
  void WaitUntil(Clock::time_point deadline);

 private:
  void TakeAll();
#if defined(__APPLE__)
  dispatch_semaphore_t semaphore;
#else
  sem_t semaphore;
#endif
};

} // namespace port::shared
