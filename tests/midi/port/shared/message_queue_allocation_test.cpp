// The queue's real-time sides allocate nothing: JACK's process thread pushes
// into it and empties it, and an allocation there can stall the whole audio
// graph. A program of its own, because it replaces the global operator new
// to count, which the other tests need not pay for.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "midi/port/shared/message_queue.h"

namespace {
std::atomic<long> allocations{0};
} // namespace

void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept {
  std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
  std::free(block);
}

namespace {

using port::shared::MessageQueue;

// A wrong count would make the other test pass whatever the queue does.
TEST(MessageQueueAllocations, TheCountSeesAnAllocation) {
  MessageQueue queue(64);
  const uint8_t note[] = {0x90, 0x3C, 0x64};
  ASSERT_TRUE(queue.Push(note, sizeof note));
  std::vector<uint8_t> out;
  const long before = allocations.load();
  ASSERT_TRUE(queue.Pop(out)); // the non-real-time consumer's vector grows
  EXPECT_GT(allocations.load() - before, 0);
}

TEST(MessageQueueAllocations, ProducerAndRealTimeConsumerAllocateNothing) {
  MessageQueue queue(64);
  uint8_t message[] = {0xF0, 0, 1, 2, 3, 4, 5, 6, 0xF7}; // 13 bytes in the ring: wraps at every offset
  const uint8_t tooLong[61] = {};
  uint8_t out[sizeof message] = {};
  size_t length = 0;
  bool allWell = true;
  const long before = allocations.load();
  for (uint8_t round = 0; round < 30; ++round) {
    message[1] = round;
    allWell = queue.Push(message, sizeof message) && allWell;
    allWell = !queue.Push(tooLong, sizeof tooLong) && allWell; // dropped and counted
    allWell = queue.FreeBytes() == 64 - 13 && allWell;
    allWell = queue.PeekLength(length) && length == sizeof message && allWell;
    queue.PopInto(out);
    allWell = out[1] == round && queue.Empty() && allWell;
    queue.Push(message, sizeof message);
    queue.DropOldest();
  }
  const long during = allocations.load() - before;
  EXPECT_TRUE(allWell);
  EXPECT_EQ(during, 0);
  EXPECT_EQ(queue.Dropped(), 30u);
}

} // namespace
