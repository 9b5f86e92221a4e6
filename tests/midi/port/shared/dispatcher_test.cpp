// The layer's own thread: messages handed over on another thread reach the
// callback on the layer's thread, each port's in order.
#include "midi/port/shared/dispatcher.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

using port::shared::Dispatcher;
using port::shared::InputPort;

struct Seen {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<uint32_t> words;
  std::thread::id thread;
  int otherThreads = 0;
};

void Record(port::InputHandle, uint32_t message, uintptr_t context, uintptr_t param1, uintptr_t) {
  auto* seen = reinterpret_cast<Seen*>(context);
  std::lock_guard<std::mutex> guard(seen->lock);
  if (message != port::kEventData) return;
  if (seen->words.empty()) seen->thread = std::this_thread::get_id();
  if (seen->thread != std::this_thread::get_id()) ++seen->otherThreads;
  seen->words.push_back(static_cast<uint32_t>(param1));
  seen->changed.notify_all();
}

TEST(Dispatcher, HandedOverMessagesReachTheCallbackOnTheLayersThreadInOrder) {
  Dispatcher dispatcher;
  Seen first;
  Seen second;
  InputPort portA(Record, reinterpret_cast<uintptr_t>(&first), dispatcher.Wake());
  InputPort portB(Record, reinterpret_cast<uintptr_t>(&second), dispatcher.Wake());
  ASSERT_TRUE(dispatcher.Add(&portA));
  ASSERT_TRUE(dispatcher.Add(&portB));
  ASSERT_EQ(portA.Start(), port::kNoError);
  ASSERT_EQ(portB.Start(), port::kNoError);

  constexpr int kMessages = 3000; // more than one turn of a port
  std::thread producer([&] {
    for (int n = 0; n < kMessages; ++n) {
      const uint8_t a[3] = {0x90, static_cast<uint8_t>(n & 0x7F), static_cast<uint8_t>(n >> 7)};
      const uint8_t b[3] = {0x91, static_cast<uint8_t>(n & 0x7F), static_cast<uint8_t>(n >> 7)};
      portA.Receive(a, 3);
      portB.Receive(b, 3);
    }
  });
  for (Seen* seen : {&first, &second}) {
    std::unique_lock<std::mutex> guard(seen->lock);
    ASSERT_TRUE(seen->changed.wait_for(guard, std::chrono::seconds(60),
                                       [seen] { return seen->words.size() == static_cast<size_t>(kMessages); }));
  }
  const std::thread::id producerThread = producer.get_id();
  producer.join();
  dispatcher.Stop();

  EXPECT_EQ(portA.DroppedInQueue() + portB.DroppedInQueue(), 0u);
  for (Seen* seen : {&first, &second}) {
    EXPECT_NE(seen->thread, producerThread);
    EXPECT_NE(seen->thread, std::this_thread::get_id());
    EXPECT_EQ(seen->otherThreads, 0);
    const uint32_t status = seen == &first ? 0x90 : 0x91;
    for (int n = 0; n < kMessages; ++n) {
      ASSERT_EQ(seen->words[static_cast<size_t>(n)],
                status | (static_cast<uint32_t>(n & 0x7F) << 8) | (static_cast<uint32_t>(n >> 7) << 16))
          << n;
    }
  }
  EXPECT_EQ(first.thread, second.thread); // one thread serves all ports
}

} // namespace
