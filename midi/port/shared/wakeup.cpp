#include "midi/port/shared/wakeup.h"

#include <cerrno>
#include <ctime>

namespace port::shared {

#if defined(__APPLE__)

Wakeup::Wakeup() : semaphore(dispatch_semaphore_create(0)) {}
Wakeup::~Wakeup() {
  dispatch_release(semaphore);
}
void Wakeup::Signal() {
  dispatch_semaphore_signal(semaphore);
}

void Wakeup::Wait() {
  dispatch_semaphore_wait(semaphore, DISPATCH_TIME_FOREVER);
  TakeAll();
}

void Wakeup::WaitUntil(Clock::time_point deadline) {
  const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
  if (wait.count() > 0) dispatch_semaphore_wait(semaphore, dispatch_time(DISPATCH_TIME_NOW, wait.count()));
  TakeAll();
}

void Wakeup::TakeAll() {
  while (dispatch_semaphore_wait(semaphore, DISPATCH_TIME_NOW) == 0) {
  }
}

#else

Wakeup::Wakeup() {
  sem_init(&semaphore, 0, 0);
}
Wakeup::~Wakeup() {
  sem_destroy(&semaphore);
}
void Wakeup::Signal() {
  sem_post(&semaphore);
}

void Wakeup::Wait() {
  while (sem_wait(&semaphore) != 0 && errno == EINTR) {
  }
  TakeAll();
}

void Wakeup::WaitUntil(Clock::time_point deadline) {
  const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
  if (wait.count() > 0) {
    // sem_timedwait counts in wall-clock time; a clock step only makes this
    // one wait shorter or longer, and every caller checks its deadline again.
    timespec until{};
    clock_gettime(CLOCK_REALTIME, &until);
    const long long total = static_cast<long long>(until.tv_nsec) + wait.count();
    until.tv_sec += static_cast<time_t>(total / 1000000000LL);
    until.tv_nsec = static_cast<long>(total % 1000000000LL);
    while (sem_timedwait(&semaphore, &until) != 0 && errno == EINTR) {
    }
  }
  TakeAll();
}

void Wakeup::TakeAll() {
  while (sem_trywait(&semaphore) == 0) {
  }
}

#endif

} // namespace port::shared
