// Activity workers: one short-lived thread per device, started by the
// device's first short message, that tells the listeners about the device
// list about 100 ms later.
//
// The workers know nothing of what they report: each runs the body it is
// given (the manager's NotifyDevicesChanged), which pauses through
// PauseUnlessClosing.
//
// Threads: workers are started from the input thread and run detached. The
// owner's destructor calls CloseAndWait, which wakes sleeping workers (they
// then end without notifying) and waits until none runs, so that no worker
// outlives what its body reports on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

class ActivityWorkers {
 public:
  // Starts a thread; returns false when it could not be started. Replaceable
  // so that tests can make the start fail.
  using ThreadStarter = bool (*)(std::function<void()>&& body);

  ActivityWorkers() = default;
  ActivityWorkers(const ActivityWorkers&) = delete;
  ActivityWorkers& operator=(const ActivityWorkers&) = delete;
  ~ActivityWorkers();

  // Starts a worker running body. False when the thread could not be
  // started or the workers are closing.
  bool Start(std::function<void()> body);
  // Sleeps for the worker's pause (100 ms); false when woken early because
  // of closing.
  bool PauseUnlessClosing();
  // Tests lengthen the pause, so that a worker is surely still asleep.
  void SetPause(std::chrono::milliseconds duration);
  // Stops new workers and wakes the sleeping ones, which then end at once.
  void Close();
  // Close, then wait for every worker to end.
  void CloseAndWait();

  // Waits until no worker runs (without stopping new ones).
  void WaitUntilNoneRunning();

  void SetThreadStarter(ThreadStarter starter);
  int Running();

 private:
  std::mutex lock;
  std::condition_variable changed;
  bool closing = false;
  int running = 0;
  std::chrono::milliseconds pause{100};
  ThreadStarter threadStarter = nullptr;
};
