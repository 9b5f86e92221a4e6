// The run's promise against a call that never returns.
//
// The current Windows MIDI service has known hangs: a deadlock during
// enumeration, a short message to an unplugged device that blocks for five
// seconds, a service that takes seconds to start. Any of them would keep
// the run from its report, and the user from anything to send. A watchdog
// thread waits for the run to finish; if it has not by the deadline, the
// watchdog runs its expiry (which exports what was captured and ends the
// process) while the stuck call stays stuck.
//
// Threads: the watchdog's own thread runs the expiry; Finish and the
// destructor come from the run's thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace app {

class Watchdog {
 public:
  // Starts waiting now; expire runs on the watchdog's thread once deadline
  // has passed without Finish.
  Watchdog(std::chrono::milliseconds deadline, std::function<void()> expire);
  // Finishes, then waits for an expiry that is running.
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  // The run is done: the watchdog stands down, unless it has already begun.
  void Finish();

 private:
  void Run(std::chrono::steady_clock::time_point deadline);

  std::function<void()> expire;
  std::mutex lock;
  std::condition_variable finished;
  bool done = false;
  std::thread thread;
};

} // namespace app
