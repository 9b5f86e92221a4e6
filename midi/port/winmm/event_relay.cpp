#include "midi/port/winmm/event_relay.h"

#include <algorithm>
#include <utility>

namespace port::winmm {

EventRing::EventRing(size_t capacity) : slots(capacity == 0 ? 1 : capacity) {}

bool EventRing::Push(const DriverEvent& event) {
  if (count == slots.size()) return false;
  slots[(head + count) % slots.size()] = event;
  ++count;
  return true;
}

bool EventRing::Pop(DriverEvent& event) {
  if (count == 0) return false;
  event = slots[head];
  head = (head + 1) % slots.size();
  --count;
  return true;
}

void EventRing::Clear() {
  head = 0;
  count = 0;
}

EventRelay::EventRelay(size_t capacity, Delivery deliverEvent) : ring(capacity), deliver(std::move(deliverEvent)) {
  lock.Lock();
  thread = std::thread([this] { Run(); });
  threadId = thread.get_id();
  lock.Unlock();
}

EventRelay::~EventRelay() {
  Shutdown();
}

bool EventRelay::Post(const DriverEvent& event) {
  bool kept = true;
  lock.Lock();
  if (!closing) {
    if (ring.Push(event)) {
      ++posted;
      // Only a relay thread that sleeps needs waking: a busy one takes
      // everything queued before it sleeps again. A wake is a system call
      // (under Wine a round trip to its server, some 60 us), and a flood
      // must not pay it per message.
      if (relayWaiting) {
        relayWaiting = false;
        lock.WakeRelay();
      }
    } else {
      ++lost;
      kept = false;
    }
  }
  lock.Unlock();
  return kept;
}

uint64_t EventRelay::Posted() {
  lock.Lock();
  const uint64_t count = posted;
  lock.Unlock();
  return count;
}

void EventRelay::WaitUntilHandled(uint64_t count) {
  if (OnRelayThread()) return;
  lock.Lock();
  ++progressWaiters;
  while (!closing && handled < count) lock.WaitForProgress();
  --progressWaiters;
  lock.Unlock();
}

void EventRelay::Detach(const void* port) {
  lock.Lock();
  if (!DetachedLocked(port)) detached.push_back(port);
  if (!OnRelayThread()) {
    ++progressWaiters;
    while (delivering == port) lock.WaitForProgress();
    --progressWaiters;
  }
  lock.Unlock();
}

void EventRelay::Shutdown() {
  lock.Lock();
  const bool first = !closing;
  closing = true;
  ring.Clear();
  lock.WakeRelay();
  lock.NotifyProgress();
  lock.Unlock();
  if (!first || !thread.joinable()) return;
  if (OnRelayThread()) {
    // A delivery shuts the layer down: the thread ends when it returns.
    thread.detach();
  } else {
    thread.join();
  }
}

uint64_t EventRelay::Lost() {
  lock.Lock();
  const uint64_t count = lost;
  lock.Unlock();
  return count;
}

int EventRelay::Waiters() {
  lock.Lock();
  const int waiters = progressWaiters;
  lock.Unlock();
  return waiters;
}

bool EventRelay::Closing() {
  lock.Lock();
  const bool closed = closing;
  lock.Unlock();
  return closed;
}

bool EventRelay::OnRelayThread() const {
  return std::this_thread::get_id() == threadId;
}

bool EventRelay::DetachedLocked(const void* port) const {
  return std::find(detached.begin(), detached.end(), port) != detached.end();
}

void EventRelay::Run() {
  lock.Lock();
  for (;;) {
    DriverEvent event;
    while (!closing && !ring.Pop(event)) {
      relayWaiting = true;
      lock.WaitForWake();
      relayWaiting = false;
    }
    if (closing) break;
    const bool skip = DetachedLocked(event.port);
    if (!skip) {
      delivering = event.port;
      lock.Unlock();
      // No lock held: the delivery may take long (a send waiting on a busy
      // port) and may call back into the layer.
      deliver(event);
      lock.Lock();
      delivering = nullptr;
    }
    ++handled;
    // Nobody waits, nearly always: no system call per event then either.
    if (progressWaiters > 0) lock.NotifyProgress();
  }
  delivering = nullptr;
  lock.NotifyProgress();
  lock.Unlock();
}

} // namespace port::winmm
