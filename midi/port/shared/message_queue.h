// A queue of whole MIDI messages from one producer thread to one consumer
// thread: the hand-over from the service's callback (RtMidi's, or JACK's
// process callback) to the layer's own thread.
//
// The producer is the MIDI service's thread. For JACK that is the real-time
// process thread, which must never block, lock or allocate, or the whole
// audio graph stalls. Push therefore only copies into memory reserved at
// construction; a message that does not fit is dropped and counted instead
// of waited for. Neither side ever takes a lock.
//
// Threads: Push and FreeBytes from one thread at a time (the producer); Pop,
// PeekLength, PopInto, DropOldest and Empty from one thread at a time (the
// consumer); Dropped from any thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace port::shared {

class MessageQueue {
 public:
  // The capacity in bytes is rounded up to a power of two; each message
  // takes four bytes more than its length.
  explicit MessageQueue(size_t capacityBytes);
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;

  // What a message takes in the queue beyond its own bytes: its length.
  static constexpr size_t kLengthBytes = sizeof(uint32_t);

  // Producer. False (and counted) when the message does not fit now.
  bool Push(const uint8_t* bytes, size_t length);
  // Producer: bytes free now, of which each message takes its length plus
  // kLengthBytes. Only grows until the next Push.
  size_t FreeBytes() const;
  // Consumer. Replaces message with the oldest one; false when there is none.
  bool Pop(std::vector<uint8_t>& message);
  bool Empty() const;
  // Consumer, without allocating (for a real-time consumer): the length of
  // the oldest message, false when there is none; then PopInto copies that
  // many bytes out and removes it.
  bool PeekLength(size_t& length) const;
  void PopInto(uint8_t* bytes);
  // Consumer: removes the oldest message unread.
  void DropOldest();

  uint64_t Dropped() const { return dropped.load(std::memory_order_relaxed); }
  size_t Capacity() const { return mask + 1; }

 private:
  void CopyIn(uint64_t at, const uint8_t* bytes, size_t length);
  void CopyOut(uint64_t at, uint8_t* bytes, size_t length) const;

  std::unique_ptr<uint8_t[]> ring;
  size_t mask;
  // Positions only ever grow; their difference is the bytes in use.
  alignas(64) std::atomic<uint64_t> readPosition{0};  // written by the consumer
  alignas(64) std::atomic<uint64_t> writePosition{0}; // written by the producer
  std::atomic<uint64_t> dropped{0};
};

} // namespace port::shared
