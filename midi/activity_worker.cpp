#include "midi/activity_worker.h"

#include <system_error>
#include <thread>

namespace {

bool StartDetachedThread(std::function<void()>&& body) {
  try {
    std::thread(std::move(body)).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

} // namespace

ActivityWorkers::~ActivityWorkers() {
  CloseAndWait();
}

bool ActivityWorkers::Start(std::function<void()> body) {
  ThreadStarter starter;
  {
    std::lock_guard<std::mutex> guard(lock);
    if (closing) return false;
    ++running;
    starter = threadStarter != nullptr ? threadStarter : StartDetachedThread;
  }
  const bool started = starter([this, body = std::move(body)] {
    body();
    // The body's last touch of its owner: after this the destructor may proceed.
    std::lock_guard<std::mutex> guard(lock);
    --running;
    changed.notify_all();
  });
  if (!started) {
    std::lock_guard<std::mutex> guard(lock);
    --running;
    changed.notify_all();
  }
  return started;
}

bool ActivityWorkers::PauseUnlessClosing() {
  std::unique_lock<std::mutex> guard(lock);
  const auto deadline = std::chrono::steady_clock::now() + pause;
  // wait_until with the predicate rides out spurious wake-ups, so the pause
  // lasts the whole duration unless closing cuts it short.
  return !changed.wait_until(guard, deadline, [this] { return closing; });
}

void ActivityWorkers::Close() {
  std::lock_guard<std::mutex> guard(lock);
  closing = true;
  changed.notify_all();
}

void ActivityWorkers::CloseAndWait() {
  Close();
  std::unique_lock<std::mutex> guard(lock);
  changed.wait(guard, [this] { return running == 0; });
}

void ActivityWorkers::WaitUntilNoneRunning() {
  std::unique_lock<std::mutex> guard(lock);
  changed.wait(guard, [this] { return running == 0; });
}

void ActivityWorkers::SetPause(std::chrono::milliseconds duration) {
  std::lock_guard<std::mutex> guard(lock);
  pause = duration;
}

void ActivityWorkers::SetThreadStarter(ThreadStarter starter) {
  std::lock_guard<std::mutex> guard(lock);
  threadStarter = starter;
}

int ActivityWorkers::Running() {
  std::lock_guard<std::mutex> guard(lock);
  return running;
}
