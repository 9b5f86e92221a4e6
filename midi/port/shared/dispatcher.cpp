#include "midi/port/shared/dispatcher.h"

#include <algorithm>

namespace port::shared {

Dispatcher::~Dispatcher() {
  Stop();
}

bool Dispatcher::Add(InputPort* port) {
  std::lock_guard<std::mutex> guard(lock);
  if (stopped) return false;
  ports.push_back(port);
  ++generation;
  if (!thread.joinable()) {
    thread = std::thread([this] { Loop(); });
    threadId = thread.get_id();
  }
  wakeup.Signal();
  return true;
}

bool Dispatcher::OnDispatcherThread() const {
  return std::this_thread::get_id() == threadId;
}

void Dispatcher::Stop() {
  std::thread ending;
  {
    std::lock_guard<std::mutex> guard(lock);
    stopped = true;
    stopping.store(true);
    if (thread.joinable() && !OnDispatcherThread()) ending = std::move(thread);
  }
  wakeup.Signal();
  if (ending.joinable()) ending.join();
}

void Dispatcher::Loop() {
  std::vector<InputPort*> serving;
  uint64_t servingGeneration = 0;
  while (!stopping.load()) {
    {
      std::lock_guard<std::mutex> guard(lock);
      if (generation != servingGeneration) {
        serving = ports;
        servingGeneration = generation;
      }
    }
    const auto now = InputPort::Clock::now();
    auto nextRun = InputPort::Clock::time_point::max();
    for (InputPort* port : serving) {
      if (stopping.load()) return;
      nextRun = std::min(nextRun, port->Pump(now));
    }
    if (nextRun <= now) continue; // a port had more than its slice
    if (nextRun == InputPort::Clock::time_point::max()) {
      wakeup.Wait();
    } else {
      wakeup.WaitUntil(nextRun);
    }
  }
}

} // namespace port::shared
