// The hand-over queue from RtMidi's thread to the layer's thread.
#include "midi/port/shared/message_queue.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using port::shared::MessageQueue;
using Bytes = std::vector<uint8_t>;

TEST(MessageQueue, MessagesComeOutWholeAndInOrderAcrossTheWrap) {
  MessageQueue queue(64);
  Bytes out;
  // 11 bytes per message in a 64-byte ring: the positions wrap many times,
  // splitting both length and bytes at every offset.
  for (uint8_t round = 0; round < 50; ++round) {
    const Bytes first = {0xF0, round, 1, 2, 3, 4, 0xF7};
    const Bytes second = {0x90, round, 0x64};
    ASSERT_TRUE(queue.Push(first.data(), first.size()));
    ASSERT_TRUE(queue.Push(second.data(), second.size()));
    ASSERT_TRUE(queue.Pop(out));
    EXPECT_EQ(out, first);
    ASSERT_TRUE(queue.Pop(out));
    EXPECT_EQ(out, second);
  }
  EXPECT_FALSE(queue.Pop(out));
  EXPECT_TRUE(queue.Empty());
  EXPECT_EQ(queue.Dropped(), 0u);
}

TEST(MessageQueue, ARealTimeConsumerTakesMessagesByLengthAcrossTheWrap) {
  // The way jack-controllers' process thread empties it: look at the length,
  // reserve that much in a JACK buffer, copy straight into it (that it
  // allocates nothing doing so is message_queue_allocation_test's).
  MessageQueue queue(64);
  size_t length = 99;
  EXPECT_FALSE(queue.PeekLength(length));
  for (uint8_t round = 0; round < 30; ++round) {
    const Bytes message = {0xF0, round, 1, 2, 3, 4, 5, 6, 0xF7}; // 13 bytes in the ring: wraps at every offset
    ASSERT_TRUE(queue.Push(message.data(), message.size()));
    ASSERT_TRUE(queue.PeekLength(length));
    ASSERT_EQ(length, message.size());
    EXPECT_TRUE(queue.PeekLength(length)); // looking takes nothing
    Bytes out(length);
    queue.PopInto(out.data());
    EXPECT_EQ(out, message);
    EXPECT_TRUE(queue.Empty());
  }
}

TEST(MessageQueue, AFullQueueDropsAndCountsInsteadOfWaiting) {
  MessageQueue queue(64);
  const Bytes message(28, 0x01); // 32 bytes with its length
  EXPECT_TRUE(queue.Push(message.data(), message.size()));
  EXPECT_TRUE(queue.Push(message.data(), message.size()));
  EXPECT_FALSE(queue.Push(message.data(), message.size()));
  const Bytes tooLong(61, 0x02);
  EXPECT_FALSE(queue.Push(tooLong.data(), tooLong.size()));
  EXPECT_EQ(queue.Dropped(), 2u);
  Bytes out;
  ASSERT_TRUE(queue.Pop(out));
  EXPECT_TRUE(queue.Push(message.data(), message.size())); // the space is back
}

TEST(MessageQueue, FreeBytesTellsWhetherASendFitsAndDropOldestSkipsOneMessage) {
  MessageQueue queue(64);
  EXPECT_EQ(queue.FreeBytes(), 64u);
  const Bytes note = {0x90, 0x3C, 0x64};
  const Bytes sysex(20, 0x01);
  ASSERT_TRUE(queue.Push(sysex.data(), sysex.size()));
  ASSERT_TRUE(queue.Push(note.data(), note.size()));
  // Each message costs its length and four.
  EXPECT_EQ(queue.FreeBytes(), 64u - 24u - 7u);
  queue.DropOldest();
  EXPECT_EQ(queue.FreeBytes(), 64u - 7u);
  Bytes out;
  ASSERT_TRUE(queue.Pop(out));
  EXPECT_EQ(out, note);
  queue.DropOldest(); // nothing left: no effect
  EXPECT_EQ(queue.FreeBytes(), 64u);
  EXPECT_EQ(queue.Dropped(), 0u);
}

TEST(MessageQueue, OneProducerAndOneConsumerLoseNothing) {
  MessageQueue queue(1024);
  constexpr int kMessages = 50000;
  std::thread producer([&queue] {
    for (int n = 0; n < kMessages;) {
      const Bytes message = {0x90, static_cast<uint8_t>(n & 0x7F), static_cast<uint8_t>((n >> 7) & 0x7F),
                             static_cast<uint8_t>((n >> 14) & 0x7F)};
      // A real producer drops on full; this one tries again to check order.
      if (queue.Push(message.data(), static_cast<size_t>(1 + n % 4))) {
        ++n;
      } else {
        std::this_thread::yield();
      }
    }
  });
  Bytes out;
  int mismatches = 0;
  for (int n = 0; n < kMessages;) {
    if (!queue.Pop(out)) {
      std::this_thread::yield();
      continue;
    }
    const Bytes expected = Bytes({0x90, static_cast<uint8_t>(n & 0x7F), static_cast<uint8_t>((n >> 7) & 0x7F),
                                  static_cast<uint8_t>((n >> 14) & 0x7F)});
    if (out != Bytes(expected.begin(), expected.begin() + 1 + n % 4)) ++mismatches;
    ++n;
  }
  producer.join();
  EXPECT_EQ(mismatches, 0);
  EXPECT_TRUE(queue.Empty());
}

} // namespace
