#include "app/watchdog.h"

#include <system_error>

namespace app {

Watchdog::Watchdog(std::chrono::milliseconds deadline, std::function<void()> expireFunction)
    : expire(std::move(expireFunction)) {
  const auto until = std::chrono::steady_clock::now() + deadline;
  try {
    thread = std::thread([this, until] { Run(until); });
  } catch (const std::system_error&) {
    // Without a thread there is no watchdog; the run goes on as it would.
  }
}

Watchdog::~Watchdog() {
  Finish();
  if (thread.joinable()) thread.join();
}

void Watchdog::Finish() {
  std::lock_guard<std::mutex> guard(lock);
  done = true;
  finished.notify_all();
}

void Watchdog::Run(std::chrono::steady_clock::time_point deadline) {
  {
    std::unique_lock<std::mutex> guard(lock);
    if (finished.wait_until(guard, deadline, [this] { return done; })) return;
  }
  expire();
}

} // namespace app
