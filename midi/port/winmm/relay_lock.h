// The lock and the two signals of the event relay.
//
// The driver's side may only enter and leave a critical section and set an
// event: Microsoft allows a MIDI driver callback no other system calls
// (EnterCriticalSection, LeaveCriticalSection, SetEvent, PostMessage and a
// few timer functions; no multimedia function at all). So the relay thread
// is woken by an event, while the threads that wait for the relay's progress
// (an open waiting for its "port opened", a detach, a shutdown) use a
// condition variable on the same critical section.
//
// On Windows these are the Win32 objects. Elsewhere the same class is built
// from the standard library, so that the relay's logic can be tested with
// the sanitizers on Linux.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include <condition_variable>
#include <mutex>
#endif

namespace port::winmm {

class RelayLock {
 public:
  RelayLock();
  ~RelayLock();
  RelayLock(const RelayLock&) = delete;
  RelayLock& operator=(const RelayLock&) = delete;

  void Lock();
  void Unlock();

  // Lock held. Wakes the relay thread; safe inside a driver callback.
  void WakeRelay();
  // Lock held, relay thread only. Sleeps until WakeRelay (a wake that came
  // while the relay was busy is not lost), with the lock released meanwhile.
  void WaitForWake();

  // Lock held. Wakes every thread in WaitForProgress.
  void NotifyProgress();
  // Lock held. Sleeps until NotifyProgress, with the lock released meanwhile.
  void WaitForProgress();

 private:
#if defined(_WIN32)
  CRITICAL_SECTION section;
  HANDLE wake; // auto-reset
  CONDITION_VARIABLE progress;
#else
  std::mutex mutex;
  std::condition_variable_any wakeSignal;
  std::condition_variable_any progress;
  bool wakePending = false;
#endif
};

} // namespace port::winmm
