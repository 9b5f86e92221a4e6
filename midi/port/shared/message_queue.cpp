#include "midi/port/shared/message_queue.h"

#include <algorithm>
#include <cstring>

namespace port::shared {

namespace {

size_t RoundUpToPowerOfTwo(size_t value) {
  size_t result = 64;
  while (result < value) result <<= 1;
  return result;
}

} // namespace

MessageQueue::MessageQueue(size_t capacityBytes)
    : ring(new uint8_t[RoundUpToPowerOfTwo(capacityBytes)]), mask(RoundUpToPowerOfTwo(capacityBytes) - 1) {}

void MessageQueue::CopyIn(uint64_t at, const uint8_t* bytes, size_t length) {
  const size_t start = static_cast<size_t>(at) & mask;
  const size_t first = std::min(length, mask + 1 - start);
  std::memcpy(ring.get() + start, bytes, first);
  std::memcpy(ring.get(), bytes + first, length - first);
}

void MessageQueue::CopyOut(uint64_t at, uint8_t* bytes, size_t length) const {
  const size_t start = static_cast<size_t>(at) & mask;
  const size_t first = std::min(length, mask + 1 - start);
  std::memcpy(bytes, ring.get() + start, first);
  std::memcpy(bytes + first, ring.get(), length - first);
}

bool MessageQueue::Push(const uint8_t* bytes, size_t length) {
  const uint64_t write = writePosition.load(std::memory_order_relaxed);
  const uint64_t read = readPosition.load(std::memory_order_acquire);
  const size_t free = Capacity() - static_cast<size_t>(write - read);
  if (length > UINT32_MAX || length + kLengthBytes > free) {
    dropped.fetch_add(1, std::memory_order_relaxed);
    return false;
  }
  const uint32_t count = static_cast<uint32_t>(length);
  uint8_t header[kLengthBytes];
  std::memcpy(header, &count, kLengthBytes);
  CopyIn(write, header, kLengthBytes);
  CopyIn(write + kLengthBytes, bytes, length);
  // Publishes the bytes: the consumer reads them only after seeing this.
  writePosition.store(write + kLengthBytes + length, std::memory_order_release);
  return true;
}

size_t MessageQueue::FreeBytes() const {
  const uint64_t write = writePosition.load(std::memory_order_relaxed);
  const uint64_t read = readPosition.load(std::memory_order_acquire);
  return Capacity() - static_cast<size_t>(write - read);
}

bool MessageQueue::Pop(std::vector<uint8_t>& message) {
  const uint64_t read = readPosition.load(std::memory_order_relaxed);
  const uint64_t write = writePosition.load(std::memory_order_acquire);
  if (read == write) return false;
  uint8_t header[kLengthBytes];
  CopyOut(read, header, kLengthBytes);
  uint32_t count = 0;
  std::memcpy(&count, header, kLengthBytes);
  message.resize(count);
  if (count > 0) CopyOut(read + kLengthBytes, message.data(), count);
  // Gives the space back only once the bytes are copied out.
  readPosition.store(read + kLengthBytes + count, std::memory_order_release);
  return true;
}

bool MessageQueue::PeekLength(size_t& length) const {
  const uint64_t read = readPosition.load(std::memory_order_relaxed);
  if (read == writePosition.load(std::memory_order_acquire)) return false;
  uint8_t header[kLengthBytes];
  CopyOut(read, header, kLengthBytes);
  uint32_t count = 0;
  std::memcpy(&count, header, kLengthBytes);
  length = count;
  return true;
}

void MessageQueue::PopInto(uint8_t* bytes) {
  size_t length = 0;
  if (!PeekLength(length)) return;
  const uint64_t read = readPosition.load(std::memory_order_relaxed);
  if (length > 0) CopyOut(read + kLengthBytes, bytes, length);
  readPosition.store(read + kLengthBytes + length, std::memory_order_release);
}

void MessageQueue::DropOldest() {
  size_t length = 0;
  if (!PeekLength(length)) return;
  const uint64_t read = readPosition.load(std::memory_order_relaxed);
  readPosition.store(read + kLengthBytes + length, std::memory_order_release);
}

bool MessageQueue::Empty() const {
  return readPosition.load(std::memory_order_relaxed) == writePosition.load(std::memory_order_acquire);
}

} // namespace port::shared
