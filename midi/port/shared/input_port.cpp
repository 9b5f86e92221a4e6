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
    if (!queue.Pop(current)) return Clock::time_point::max();
    {
      std::lock_guard<std::mutex> guard(lock);
      if (detached || !started) {
        // Nobody listens any more: what is queued is lost, as it would be
        // on a stopped Windows port.
        while (queue.Pop(current)) {
        }
        return Clock::time_point::max();
      }
      reading = true;
      readingThread = std::this_thread::get_id();
    }
    Read(current.data(), current.size());
    {
      std::lock_guard<std::mutex> guard(lock);
      reading = false;
    }
    callbackDone.notify_all();
  }
  return now; // more may be queued: come back after the other ports
}

bool InputPort::Listening() {
  std::lock_guard<std::mutex> guard(lock);
  return !detached && started;
}

bool InputPort::Call(uint32_t message, uintptr_t param1) {
  if (!Listening()) return false; // stopped meanwhile: the rest is dropped
  callback(Handle(), message, context, param1, 0);
  return true;
}

void InputPort::Read(const uint8_t* bytes, size_t length) {
  // The common case, one short message, goes straight through.
  if (!inSysEx && bytes[0] != kSysExStart) {
    DeliverShortMessages(bytes, length);
    return;
  }
  size_t at = 0;
  while (at < length) {
    if (inSysEx || bytes[at] == kSysExStart) {
      at = ReadSysEx(bytes, length, at);
      continue;
    }
    // What follows a message's end up to the next one's start.
    const uint8_t* next = std::find(bytes + at, bytes + length, kSysExStart);
    const auto until = static_cast<size_t>(next - bytes);
    if (!DeliverShortMessages(bytes + at, until - at)) return;
    at = until;
  }
}

bool InputPort::DeliverShortMessages(const uint8_t* bytes, size_t length) {
  if (IsSingleShortMessage(bytes, length)) {
    uint32_t word = 0;
    for (size_t at = 0; at < length; ++at) word |= static_cast<uint32_t>(bytes[at]) << (8 * at);
    return Call(port::kEventData, word);
  }
  for (const MidiPiece& piece : SplitMidiStream(bytes, length)) {
    // Only whole short messages are data; a SysEx packed behind other bytes
    // in one event is as broken as a stray data byte.
    if (!Call(piece.kind == MidiPiece::Kind::Short ? port::kEventData : port::kEventError, WordOf(piece.bytes))) {
      return false;
    }
  }
  return true;
}

// Reads from at, where a System Exclusive message starts or goes on, up to
// where it ends; returns the position after what it read (length when the
// port stopped meanwhile).
size_t InputPort::ReadSysEx(const uint8_t* bytes, size_t length, size_t at) {
  while (at < length) {
    const uint8_t byte = bytes[at];
    if (byte == kSysExStart) {
      // A new message cuts off one that has not ended.
      if (inSysEx && !HandBack(port::kEventLongError)) return length;
      inSysEx = true;
      skippingSysEx = false;
      if (!PutSysEx(&byte, 1, false)) return length;
      ++at;
      continue;
    }
    if (!inSysEx) return at;
    if (IsRealTime(byte)) {
      if (!Call(port::kEventData, byte)) return length;
      ++at;
      continue;
    }
    if (IsStatus(byte) && byte != kSysExEnd) {
      // Any other status byte ends the message unfinished; the byte itself
      // begins what follows.
      inSysEx = false;
      if (!HandBack(port::kEventLongError)) return length;
      return at;
    }
    // A run of data bytes, with the end byte if it comes.
    size_t end = at;
    while (end < length && !IsStatus(bytes[end])) ++end;
    const bool ends = end < length && bytes[end] == kSysExEnd;
    if (ends) ++end;
    if (!PutSysEx(bytes + at, end - at, ends)) return length;
    if (ends) inSysEx = false;
    at = end;
  }
  return at;
}

// Writes bytes of the message into the buffer being filled, handing each
// full buffer back, and the last one when the message ends. False when the
// port stopped meanwhile.
bool InputPort::PutSysEx(const uint8_t* bytes, size_t count, bool ends) {
  while (count > 0 && !skippingSysEx) {
    if (held == nullptr && !TakeBuffer()) {
      if (!Listening()) return false;
      // No buffer: the message, or its rest, is lost up to its end.
      std::lock_guard<std::mutex> guard(lock);
      ++droppedLong;
      skippingSysEx = true;
      break;
    }
    const size_t room = held->dwBufferLength - heldCount;
    const size_t taken = std::min(room, count);
    std::memcpy(held->lpData + heldCount, bytes, taken);
    heldCount += static_cast<uint32_t>(taken);
    bytes += taken;
    count -= taken;
    // A full buffer goes back at once; the message goes on in the next one.
    if (heldCount == held->dwBufferLength && (count > 0 || !ends) && !HandBack(port::kEventLongData)) return false;
  }
  if (ends) {
    skippingSysEx = false;
    if (held != nullptr) return HandBack(port::kEventLongData);
  }
  return true;
}

bool InputPort::TakeBuffer() {
  std::lock_guard<std::mutex> guard(lock);
  if (detached || !started || buffers.empty()) return false;
  held = buffers.front();
  buffers.pop_front();
  heldCount = 0;
  return true;
}

port::MidiHeader* InputPort::TakeHeldLocked() {
  port::MidiHeader* header = held;
  held = nullptr;
  if (header != nullptr) {
    header->dwBytesRecorded = heldCount;
    header->dwFlags = (header->dwFlags & ~port::kHeaderInQueue) | port::kHeaderDone;
    filling = header;
    fillingThread = std::this_thread::get_id();
  }
  heldCount = 0;
  return header;
}

// Hands the buffer being filled back to the callback. False when the port
// stopped meanwhile (Stop then handed it back itself).
bool InputPort::HandBack(uint32_t message) {
  port::MidiHeader* header = nullptr;
  {
    std::lock_guard<std::mutex> guard(lock);
    if (detached || !started) return false;
    header = TakeHeldLocked();
  }
  if (header == nullptr) return true; // the message had found no buffer
  callback(Handle(), message, context, reinterpret_cast<uintptr_t>(header), 0);
  std::lock_guard<std::mutex> guard(lock);
  if (filling == header) filling = nullptr;
  return true;
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

void InputPort::WaitForReadingElsewhere(std::unique_lock<std::mutex>& guard) {
  const std::thread::id self = std::this_thread::get_id();
  callbackDone.wait(guard, [this, self] { return !reading || readingThread == self; });
}

port::Result InputPort::Stop() {
  accepting.store(false, std::memory_order_release);
  std::unique_lock<std::mutex> guard(lock);
  const bool wasStarted = started;
  started = false;
  WaitForReadingElsewhere(guard);
  inSysEx = skippingSysEx = false;
  // A message cut off by the stop: what its buffer holds comes back as an
  // invalid long message, as winmm hands back the buffer it was filling.
  port::MidiHeader* cutOff = TakeHeldLocked();
  if (cutOff != nullptr && wasStarted) {
    guard.unlock();
    callback(Handle(), port::kEventLongError, context, reinterpret_cast<uintptr_t>(cutOff), 0);
    guard.lock();
  }
  if (filling == cutOff) filling = nullptr;
  // No driver holds the others, so they can be given back at once and
  // released cleanly afterwards (one the callback just queued again too).
  for (port::MidiHeader* header : buffers) {
    header->dwFlags = (header->dwFlags & ~port::kHeaderInQueue) | port::kHeaderDone;
    header->dwBytesRecorded = 0;
  }
  buffers.clear();
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
  if (filling == &header && fillingThread != std::this_thread::get_id()) return port::kStillPlaying;
  header.dwFlags &= ~port::kHeaderPrepared;
  return port::kNoError;
}

void InputPort::Detach() {
  accepting.store(false, std::memory_order_release);
  std::unique_lock<std::mutex> guard(lock);
  detached = true;
  started = false;
  WaitForReadingElsewhere(guard);
  inSysEx = skippingSysEx = false;
  if (held != nullptr) held->dwFlags &= ~port::kHeaderInQueue;
  held = nullptr;
  for (port::MidiHeader* header : buffers) header->dwFlags &= ~port::kHeaderInQueue;
  buffers.clear();
}

uint64_t InputPort::DroppedLongMessages() {
  std::lock_guard<std::mutex> guard(lock);
  return droppedLong;
}

} // namespace port::shared
