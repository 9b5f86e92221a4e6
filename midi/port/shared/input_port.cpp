#include "midi/port/shared/input_port.h"

#include <algorithm>
#include <cstring>

#include "midi/port/shared/message_splitter.h"

namespace port::shared {

using port::shared::IsSingleShortMessage;
using port::shared::MidiPiece;
using port::shared::SplitMidiStream;

namespace {

// Messages one Pump delivers before it lets the other ports have their turn.
constexpr int kMessagesPerTurn = 64;

uint32_t WordOf(const std::vector<uint8_t>& bytes) {
  uint32_t word = 0;
  for (size_t at = 0; at < bytes.size() && at < 3; ++at) word |= static_cast<uint32_t>(bytes[at]) << (8 * at);
  return word;
}

} // namespace

InputPort::InputPort(port::InputCallback callback, uintptr_t context, Wakeup& wakeup, size_t queueBytes)
    : callback(callback), context(context), wakeup(wakeup), queue(queueBytes) {}

void InputPort::OnRtMidiMessage(double, std::vector<unsigned char>* message, void* userData) {
  if (message == nullptr || userData == nullptr) return;
  static_cast<InputPort*>(userData)->Receive(message->data(), message->size());
}

void InputPort::Receive(const uint8_t* bytes, size_t length) {
  if (Enqueue(bytes, length)) wakeup.Signal();
}

bool InputPort::Enqueue(const uint8_t* bytes, size_t length) {
  // Nobody listens before the start: the message is lost, as on Windows.
  return length != 0 && accepting.load(std::memory_order_acquire) && queue.Push(bytes, length);
}

InputPort::Clock::time_point InputPort::Pump(Clock::time_point now) {
  for (int delivered = 0; delivered < kMessagesPerTurn; ++delivered) {
    bool discard = false;
    {
      std::lock_guard<std::mutex> guard(lock);
      discard = detached || !started;
    }
    if (discard) {
      // Nobody listens any more: what is queued is lost, as it would be on
      // a stopped Windows port.
      while (queue.Pop(current)) {
      }
      return Clock::time_point::max();
    }
    if (!queue.Pop(current)) return Clock::time_point::max();
    if (!current.empty() && current[0] == kSysExStart) {
      DeliverLong();
    } else {
      DeliverShortMessages();
    }
  }
  return now; // more may be queued: come back after the other ports
}

bool InputPort::BeginCallback() {
  std::lock_guard<std::mutex> guard(lock);
  if (detached || !started) return false;
  inCallback = true;
  callbackThread = std::this_thread::get_id();
  return true;
}

void InputPort::EndCallback() {
  {
    std::lock_guard<std::mutex> guard(lock);
    inCallback = false;
    filling = nullptr;
  }
  callbackDone.notify_all();
}

void InputPort::Call(uint32_t message, uintptr_t param1) {
  callback(Handle(), message, context, param1, 0);
  EndCallback();
}

void InputPort::DeliverShortMessages() {
  if (IsSingleShortMessage(current.data(), current.size())) {
    if (BeginCallback()) Call(port::kEventData, WordOf(current));
    return;
  }
  for (const MidiPiece& piece : SplitMidiStream(current.data(), current.size())) {
    if (!BeginCallback()) return; // stopped meanwhile: the rest is dropped
    // Only whole short messages are data; a SysEx packed behind other bytes
    // in one event is as broken as a stray data byte.
    Call(piece.kind == MidiPiece::Kind::Short ? port::kEventData : port::kEventError, WordOf(piece.bytes));
  }
}

void InputPort::DeliverLong() {
  size_t offset = 0;
  for (;;) {
    port::MidiHeader* header = nullptr;
    {
      std::lock_guard<std::mutex> guard(lock);
      if (detached || !started) return;
      if (buffers.empty()) {
        ++droppedLong;
        return;
      }
      header = buffers.front();
      buffers.pop_front();
      filling = header;
      inCallback = true;
      callbackThread = std::this_thread::get_id();
    }
    // The header is out of the queue and marked as being filled, so no
    // other thread touches it or its bytes until the callback is over.
    const size_t count = std::min<size_t>(current.size() - offset, header->dwBufferLength);
    std::memcpy(header->lpData, current.data() + offset, count);
    offset += count;
    {
      std::lock_guard<std::mutex> guard(lock);
      header->dwBytesRecorded = static_cast<uint32_t>(count);
      header->dwFlags = (header->dwFlags & ~port::kHeaderInQueue) | port::kHeaderDone;
    }
    Call(port::kEventLongData, reinterpret_cast<uintptr_t>(header));
    if (offset >= current.size()) return;
  }
}

void InputPort::DeliverOpen() {
  // winmm reports the open from inside the open call, before "MIDI device
  // found" is logged; so does this layer.
  callback(Handle(), port::kEventOpen, context, 0, 0);
}

port::Result InputPort::Start() {
  {
    std::lock_guard<std::mutex> guard(lock);
    if (detached) return port::kInvalidHandle;
    started = true;
  }
  accepting.store(true, std::memory_order_release);
  return port::kNoError;
}

void InputPort::WaitForCallbackElsewhere(std::unique_lock<std::mutex>& guard) {
  const std::thread::id self = std::this_thread::get_id();
  callbackDone.wait(guard, [this, self] { return !inCallback || callbackThread == self; });
}

port::Result InputPort::Stop() {
  accepting.store(false, std::memory_order_release);
  std::unique_lock<std::mutex> guard(lock);
  started = false;
  // No driver holds these buffers, so they can be given back at once and
  // released cleanly afterwards.
  for (port::MidiHeader* header : buffers) {
    header->dwFlags = (header->dwFlags & ~port::kHeaderInQueue) | port::kHeaderDone;
    header->dwBytesRecorded = 0;
  }
  buffers.clear();
  WaitForCallbackElsewhere(guard);
  return port::kNoError;
}

port::Result InputPort::PrepareBuffer(port::MidiHeader& header) {
  std::lock_guard<std::mutex> guard(lock);
  if (detached) return port::kInvalidHandle;
  if (header.lpData == nullptr || header.dwBufferLength == 0) return port::kInvalParam;
  header.dwFlags |= port::kHeaderPrepared;
  return port::kNoError;
}

port::Result InputPort::AddBuffer(port::MidiHeader& header) {
  {
    std::lock_guard<std::mutex> guard(lock);
    if (detached) return port::kInvalidHandle;
    if ((header.dwFlags & port::kHeaderPrepared) == 0) return port::kUnprepared;
    if ((header.dwFlags & port::kHeaderInQueue) != 0) return port::kStillPlaying;
    if (filling == &header) filling = nullptr; // given back from inside its delivery
    header.dwFlags = (header.dwFlags & ~port::kHeaderDone) | port::kHeaderInQueue;
    header.dwBytesRecorded = 0;
    buffers.push_back(&header);
  }
  wakeup.Signal(); // a SysEx may be waiting for it
  return port::kNoError;
}

port::Result InputPort::UnprepareBuffer(port::MidiHeader& header) {
  std::lock_guard<std::mutex> guard(lock);
  if ((header.dwFlags & port::kHeaderPrepared) == 0) return port::kNoError;
  if ((header.dwFlags & port::kHeaderInQueue) != 0) return port::kStillPlaying;
  // Being filled and reported on the layer's thread; from inside that very
  // callback the caller is done with it.
  if (filling == &header && callbackThread != std::this_thread::get_id()) return port::kStillPlaying;
  header.dwFlags &= ~port::kHeaderPrepared;
  return port::kNoError;
}

void InputPort::Detach() {
  accepting.store(false, std::memory_order_release);
  std::unique_lock<std::mutex> guard(lock);
  detached = true;
  started = false;
  for (port::MidiHeader* header : buffers) header->dwFlags &= ~port::kHeaderInQueue;
  buffers.clear();
  WaitForCallbackElsewhere(guard);
}

uint64_t InputPort::DroppedLongMessages() {
  std::lock_guard<std::mutex> guard(lock);
  return droppedLong;
}

} // namespace port::shared
