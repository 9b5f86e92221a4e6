// One open input port of the RtMidi layer: the hand-over of its messages
// from RtMidi's thread to the layer's thread, and their delivery to the
// device layer's callback as winmm-style events.
//
// RtMidi hands over every message whole. On the layer's thread each becomes:
//  - a System Exclusive message (F0 first): copied into the port's queued
//    long-message buffer and reported as kEventLongData. With no buffer
//    queued (a device without a handler has none) it is dropped, as the
//    Windows service drops it. A message longer than the buffer continues in
//    the next buffer, which the callback queues again when it gives the
//    filled one back; if none is queued then, the rest is dropped.
//  - anything else: cut into single messages (message_splitter.h), each a
//    kEventData with the word status | d1 << 8 | d2 << 16; bytes that form
//    no message are a kEventError.
// Messages that arrive before the first StartInput wait for it, like bytes in
// a device's USB buffer; after StopInput or DetachInput they are discarded.
// Right after a start the buffer is queued by the same caller a moment
// later, so a SysEx that finds no buffer then waits for it a short while
// (kStartGrace) rather than being lost: a reply to the request a handler sent
// during attach must not race the queueing of its buffer.
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

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "midi/port/port.h"
#include "midi/port/rtmidi/message_queue.h"
#include "midi/port/rtmidi/wakeup.h"

namespace rtmidi_port {

class InputPort {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kStartGrace{50};
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
  // message was queued.
  bool Enqueue(const uint8_t* bytes, size_t length);

  // Delivers what can be delivered now. Returns when it must run again even
  // if nothing new arrives (a SysEx waiting for its buffer), else max().
  Clock::time_point Pump(Clock::time_point now);

  void DeliverOpen();
  port::Result Start();
  port::Result Stop();
  port::Result PrepareBuffer(port::MidiHeader& header);
  port::Result AddBuffer(port::MidiHeader& header);
  port::Result UnprepareBuffer(port::MidiHeader& header);
  void Detach();

  // Messages lost because the hand-over queue was full.
  uint64_t DroppedInQueue() const { return queue.Dropped(); }
  // System Exclusive messages (or their rest) that found no buffer.
  uint64_t DroppedLongMessages();

 private:
  enum class Outcome { Done, WaitForBuffer };

  bool BeginCallback();
  void EndCallback();
  void Call(uint32_t message, uintptr_t param1);
  void DeliverShortMessages();
  Outcome DeliverLong(Clock::time_point now, Clock::time_point& retryAt);
  void WaitForCallbackElsewhere(std::unique_lock<std::mutex>& guard);

  const port::InputCallback callback;
  const uintptr_t context;
  Wakeup& wakeup;
  MessageQueue queue;

  // The layer's thread only: the message being delivered, kept across Pump
  // calls while it waits for a buffer.
  std::vector<uint8_t> current;
  size_t currentOffset = 0;
  bool haveCurrent = false;

  std::mutex lock;
  std::condition_variable callbackDone;
  bool started = false;
  bool everStarted = false;
  bool detached = false;
  Clock::time_point startedAt;
  std::deque<port::MidiHeader*> buffers; // queued, in order
  port::MidiHeader* filling = nullptr;    // taken from the queue, not yet given back
  bool inCallback = false;
  std::thread::id callbackThread;
  uint64_t droppedLong = 0;
};

} // namespace rtmidi_port
