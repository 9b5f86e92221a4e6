#include "midi/port/winmm/relay_lock.h"

namespace port::winmm {

#if defined(_WIN32)

RelayLock::RelayLock() {
  InitializeCriticalSection(&section);
  wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  InitializeConditionVariable(&progress);
}

RelayLock::~RelayLock() {
  CloseHandle(wake);
  DeleteCriticalSection(&section);
}

void RelayLock::Lock() {
  EnterCriticalSection(&section);
}

void RelayLock::Unlock() {
  LeaveCriticalSection(&section);
}

void RelayLock::WakeRelay() {
  SetEvent(wake);
}

void RelayLock::WaitForWake() {
  // The event stays set until the relay waits, so a wake between the
  // relay's last look at the queue and this wait is not lost.
  LeaveCriticalSection(&section);
  WaitForSingleObject(wake, INFINITE);
  EnterCriticalSection(&section);
}

void RelayLock::NotifyProgress() {
  WakeAllConditionVariable(&progress);
}

void RelayLock::WaitForProgress() {
  SleepConditionVariableCS(&progress, &section, INFINITE);
}

#else

RelayLock::RelayLock() = default;
RelayLock::~RelayLock() = default;

void RelayLock::Lock() {
  mutex.lock();
}

void RelayLock::Unlock() {
  mutex.unlock();
}

void RelayLock::WakeRelay() {
  wakePending = true;
  wakeSignal.notify_one();
}

void RelayLock::WaitForWake() {
  wakeSignal.wait(mutex, [this] { return wakePending; });
  wakePending = false;
}

void RelayLock::NotifyProgress() {
  progress.notify_all();
}

void RelayLock::WaitForProgress() {
  progress.wait(mutex);
}

#endif

} // namespace port::winmm
