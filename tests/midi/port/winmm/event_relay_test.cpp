// The hand-off from a driver's callback to the layer's thread: order, the
// wait of an open, detach, shutdown and a full queue.
#include "midi/port/winmm/event_relay.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using port::winmm::DriverEvent;
using port::winmm::EventRelay;
using port::winmm::EventRing;

const int kPortA = 0;
const int kPortB = 1;
const void* const A = &kPortA;
const void* const B = &kPortB;

DriverEvent Event(const void* port, uint32_t message, uintptr_t param1 = 0) {
  return DriverEvent{port, message, param1, 0};
}

// A door that deliveries wait at until the test opens it.
class Gate {
 public:
  void Open() {
    std::lock_guard<std::mutex> guard(lock);
    open = true;
    changed.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [this] { return open; });
  }

 private:
  std::mutex lock;
  std::condition_variable changed;
  bool open = false;
};

// What the deliveries saw, read once the relay is quiet.
struct Seen {
  std::mutex lock;
  std::vector<uint32_t> messages;
  std::vector<std::thread::id> threads;
  void Add(const DriverEvent& event) {
    std::lock_guard<std::mutex> guard(lock);
    messages.push_back(event.message);
    threads.push_back(std::this_thread::get_id());
  }
  std::vector<uint32_t> Messages() {
    std::lock_guard<std::mutex> guard(lock);
    return messages;
  }
};

TEST(EventRing, KeepsOrderAcrossTheWrapAndRefusesWhenFull) {
  EventRing ring(3);
  DriverEvent out;
  EXPECT_FALSE(ring.Pop(out));
  std::vector<uint32_t> popped;
  uint32_t next = 1;
  // Fill, drain partly, refill: the slots wrap around several times.
  for (int round = 0; round < 4; ++round) {
    while (ring.Push(Event(A, next))) ++next;
    EXPECT_EQ(ring.Size(), 3u);
    for (int i = 0; i < 2; ++i) {
      ASSERT_TRUE(ring.Pop(out));
      popped.push_back(out.message);
    }
  }
  while (ring.Pop(out)) popped.push_back(out.message);
  ASSERT_EQ(popped.size(), next - 1);
  for (size_t i = 0; i < popped.size(); ++i) EXPECT_EQ(popped[i], i + 1);
}

TEST(EventRelay, DeliversInPostedOrderOnItsOwnThread) {
  Seen seen;
  EventRelay relay(4096, [&seen](const DriverEvent& event) { seen.Add(event); });
  std::thread driver([&relay] {
    for (uint32_t i = 0; i < 2000; ++i) relay.Post(Event(i % 2 ? A : B, i));
  });
  driver.join();
  relay.WaitUntilHandled(relay.Posted());
  EXPECT_EQ(relay.Lost(), 0u);
  const std::vector<uint32_t> messages = seen.Messages();
  ASSERT_EQ(messages.size(), 2000u);
  for (size_t i = 0; i < messages.size(); ++i) EXPECT_EQ(messages[i], i);
  std::lock_guard<std::mutex> guard(seen.lock);
  for (std::thread::id id : seen.threads) EXPECT_NE(id, std::this_thread::get_id());
}

// Until one of them: used where the right behaviour waits for the first
// and a wrong one would bring the second.
void Until(const std::function<bool()>& first, const std::function<bool()>& second) {
  while (!first() && !second()) std::this_thread::yield();
}

TEST(EventRelay, WaitForWhatWasPostedReturnsOnlyAfterItsDelivery) {
  // The open of a port waits this way for its "port opened" event.
  std::atomic<bool> delivered{false};
  std::atomic<bool> waitReturned{false};
  std::atomic<bool> deliveredWhenWaitReturned{false};
  EventRelay* self = nullptr;
  EventRelay relay(8, [&](const DriverEvent&) {
    // Finishes only once the waiter waits (or, were it wrong, has returned).
    Until([&] { return self->Waiters() == 1; }, [&] { return waitReturned.load(); });
    delivered = true;
  });
  self = &relay;
  relay.Post(Event(A, 0x3C1));
  std::thread waiter([&] {
    relay.WaitUntilHandled(relay.Posted());
    deliveredWhenWaitReturned = delivered.load();
    waitReturned = true;
  });
  waiter.join();
  EXPECT_TRUE(deliveredWhenWaitReturned);
}

TEST(EventRelay, CallsFromInsideADeliveryDoNotWaitForThemselves) {
  std::atomic<int> returned{0};
  EventRelay* self = nullptr;
  EventRelay relay(8, [&](const DriverEvent& event) {
    self->WaitUntilHandled(self->Posted());
    self->Detach(event.port);
    ++returned;
  });
  self = &relay;
  relay.Post(Event(A, 1));
  relay.Post(Event(A, 2)); // skipped: A was detached by the first
  relay.Post(Event(B, 3));
  relay.WaitUntilHandled(3);
  EXPECT_EQ(returned, 2); // 1 and 3; 2 was skipped
}

TEST(EventRelay, DetachWaitsForTheRunningDeliveryAndSkipsThePortsLaterEvents) {
  Gate gate;
  Gate entered;
  Seen seen;
  std::atomic<bool> detachReturned{false};
  std::atomic<bool> detachReturnedDuringDelivery{false};
  EventRelay relay(8, [&](const DriverEvent& event) {
    if (event.message == 1) {
      entered.Open();
      gate.Wait();
      detachReturnedDuringDelivery = detachReturned.load();
    }
    seen.Add(event);
  });
  relay.Post(Event(A, 1));
  entered.Wait();
  relay.Post(Event(A, 2));
  relay.Post(Event(B, 3));
  std::thread detacher([&] {
    relay.Detach(A);
    detachReturned = true;
  });
  // The delivery goes on once the detach waits for it, or, were it wrong,
  // has come back without waiting.
  Until([&] { return relay.Waiters() == 1; }, [&] { return detachReturned.load(); });
  gate.Open();
  detacher.join();
  relay.WaitUntilHandled(3);
  EXPECT_FALSE(detachReturnedDuringDelivery);
  EXPECT_EQ(seen.Messages(), (std::vector<uint32_t>{1, 3}));
}

TEST(EventRelay, ShutdownWaitsForTheRunningDeliveryAndDropsTheRest) {
  Gate gate;
  Gate entered;
  Seen seen;
  std::atomic<bool> shutdownReturned{false};
  std::atomic<bool> shutdownReturnedDuringDelivery{false};
  EventRelay relay(8, [&](const DriverEvent& event) {
    if (event.message == 1) {
      entered.Open();
      gate.Wait();
      shutdownReturnedDuringDelivery = shutdownReturned.load();
    }
    seen.Add(event);
  });
  relay.Post(Event(A, 1));
  entered.Wait();
  relay.Post(Event(A, 2));
  std::thread closer([&] {
    relay.Shutdown();
    shutdownReturned = true;
  });
  // Once the shutdown has begun (or, were it wrong, has come back).
  Until([&] { return relay.Closing(); }, [&] { return shutdownReturned.load(); });
  gate.Open();
  closer.join();
  // A driver that calls back late is accepted and ignored.
  const uint64_t posted = relay.Posted();
  relay.Post(Event(B, 3));
  EXPECT_EQ(relay.Posted(), posted);
  relay.WaitUntilHandled(posted + 1); // does not hang once shut down
  EXPECT_FALSE(shutdownReturnedDuringDelivery);
  EXPECT_EQ(seen.Messages(), (std::vector<uint32_t>{1}));
}

TEST(EventRelay, FullQueueCountsTheLostEventsAndKeepsTheOthers) {
  Gate gate;
  Gate entered;
  Seen seen;
  EventRelay relay(4, [&](const DriverEvent& event) {
    if (event.message == 0) {
      entered.Open();
      gate.Wait();
    }
    seen.Add(event);
  });
  relay.Post(Event(A, 0));
  entered.Wait(); // taken off the queue: four places free
  // The driver callback is told which ones were lost, to count them for
  // their port.
  std::vector<bool> kept;
  for (uint32_t i = 1; i <= 6; ++i) kept.push_back(relay.Post(Event(i % 2 == 0 ? A : B, i)));
  EXPECT_EQ(kept, (std::vector<bool>{true, true, true, true, false, false}));
  EXPECT_EQ(relay.Lost(), 2u);
  gate.Open();
  relay.WaitUntilHandled(relay.Posted());
  EXPECT_EQ(seen.Messages(), (std::vector<uint32_t>{0, 1, 2, 3, 4}));
}

} // namespace
