// One open input port of the RtMidi or JACK layer: the hand-over of its
// messages from the service's thread (RtMidi's callback, JACK's process
// callback) to the layer's thread, and their delivery to the device layer's
// callback as winmm-style events.
//
// The service hands over every message whole. On the layer's thread each becomes:
//  - a System Exclusive message (F0 first): copied into the port's queued
//    long-message buffer and reported as kEventLongData. With no buffer
//    queued (a device without a handler has none) it is dropped, as the
//    Windows service drops it. A message longer than the buffer continues in
//    the next buffer, which the callback queues again when it gives the
//    filled one back; if none is queued then, the rest is dropped.
//  - anything else: cut into single messages (message_splitter.h), each a
//    kEventData with the word status | d1 << 8 | d2 << 16; bytes that form
//    no message are a kEventError.
// As on Windows, a message counts only if it arrives while input is
// started: what comes before StartInput, or after StopInput or DetachInput,
// is lost, and a System Exclusive message that finds no queued buffer is
// dropped at once. The device layer queues its buffer and starts input
// before it sends a request, so no answer depends on a grace period.
//
// Threads:
//  - Receive: RtMidi's thread (JACK's real-time process thread). It copies
//    into the lock-free queue and signals the layer's thread; nothing else.
//  - Pump: the layer's thread only. It calls the callback without holding
//    any lock, so the callback may queue the buffer again, send replies and
//    wait for them.
//  - DeliverOpen, Start, Stop, the buffer calls and Detach: the device
//    layer's threads (main, or the layer's own from inside a callback). Stop
//    and Detach wait for a callback of this port that runs on another thread.
// Ownership: the service owns the port; it outlives every thread that uses it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "midi/port/port.h"
#include "midi/port/shared/message_queue.h"
#include "midi/port/shared/wakeup.h"

namespace port::shared {

class InputPort {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr size_t kQueueBytes = 128 * 1024;

  InputPort(port::InputCallback callback, uintptr_t context, Wakeup& wakeup, size_t queueBytes = kQueueBytes);
  InputPort(const InputPort&) = delete;
  InputPort& operator=(const InputPort&) = delete;

  port::InputHandle Handle() { return reinterpret_cast<port::InputHandle>(this); }

  // RtMidi's input callback; userData is the InputPort.
  static void OnRtMidiMessage(double timeStamp, std::vector<unsigned char>* message, void* userData);
  // Producer side: never blocks, locks or allocates.
  void Receive(const uint8_t* bytes, size_t length);
  // The same without waking the layer's thread, for a producer that hands
  // over a whole cycle's messages and then wakes it once: a wake-up given
  // while the thread is still waking costs a system call each. True when the
  // message was queued; false when input is not started or the queue is full.
  bool Enqueue(const uint8_t* bytes, size_t length);

  // Delivers what can be delivered now. Returns now when more is queued than
  // one turn delivers, else max().
  Clock::time_point Pump(Clock::time_point now);

  void DeliverOpen();
  [[nodiscard]] port::Result Start();
  [[nodiscard]] port::Result Stop();
  [[nodiscard]] port::Result PrepareBuffer(port::MidiHeader& header);
  [[nodiscard]] port::Result AddBuffer(port::MidiHeader& header);
  [[nodiscard]] port::Result UnprepareBuffer(port::MidiHeader& header);
  void Detach();

  // Messages lost because the hand-over queue was full.
  uint64_t DroppedInQueue() const { return queue.Dropped(); }
  // System Exclusive messages (or their rest) that found no buffer.
  uint64_t DroppedLongMessages();

 private:
  bool BeginCallback();
  void EndCallback();
  void Call(uint32_t message, uintptr_t param1);
  void DeliverShortMessages();
  void DeliverLong();
  void WaitForCallbackElsewhere(std::unique_lock<std::mutex>& guard);

  const port::InputCallback callback;
  const uintptr_t context;
  Wakeup& wakeup;
  MessageQueue queue;

  // The producer's view of started: read where nothing may lock.
  std::atomic<bool> accepting{false};

  // The layer's thread only: the message being delivered.
  std::vector<uint8_t> current;

  std::mutex lock;
  std::condition_variable callbackDone;
  bool started = false;
  bool detached = false;
  std::deque<port::MidiHeader*> buffers; // queued, in order
  port::MidiHeader* filling = nullptr;   // taken from the queue, not yet given back
  bool inCallback = false;
  std::thread::id callbackThread;
  uint64_t droppedLong = 0;
};

} // namespace port::shared
