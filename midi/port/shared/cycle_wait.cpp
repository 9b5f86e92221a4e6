#include "midi/port/shared/cycle_wait.h"

namespace port::shared {

bool CycleWait::Until(const std::function<bool()>& look, std::chrono::milliseconds timeout) {
  std::lock_guard<std::mutex> guard(oneAtATime);
  const auto deadline = Wakeup::Clock::now() + timeout;
  waiters.fetch_add(1, std::memory_order_acq_rel);
  bool found = false;
  for (;;) {
    found = look();
    if (found || Wakeup::Clock::now() >= deadline) break;
    wakeup.WaitUntil(deadline);
  }
  waiters.fetch_sub(1, std::memory_order_acq_rel);
  return found;
}

} // namespace port::shared
