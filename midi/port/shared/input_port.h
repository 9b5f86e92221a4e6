// One open input port of the RtMidi or JACK layer: the hand-over of its
// messages from the service's thread (RtMidi's callback, JACK's process
// callback) to the layer's thread, and their delivery to the device layer's
// callback as winmm-style events.
//
// The service hands over events as it got them. On the layer's thread the
// bytes are read as winmm reads the wire:
//  - a System Exclusive message (from F0 to F7) is written into the port's
//    queued long-message buffer and reported as kEventLongData once it ends
//    or the buffer is full; a full buffer is handed back at once and the
//    message goes on in the next one, which the callback queues again when
//    it gives the filled one back. The message may come over several events:
//    a bridge from the ALSA sequencer (a2jmidid, PipeWire) hands a long one
//    on in pieces of 256 bytes, each a JACK event of its own. A real-time
//    byte inside it is a kEventData of its own, at once; any other status
//    byte ends it unfinished: what its buffer holds comes back as
//    kEventLongError. With no buffer queued (a device without a handler has
//    none) the message, or its rest, is dropped, as the Windows service
//    drops it. A message still unfinished at StopInput comes back as
//    kEventLongError from inside that call.
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
//    and Detach wait while the layer's thread, if it is another one, reads
//    an event of this port or calls back for it.
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
  bool Listening();
  bool Call(uint32_t message, uintptr_t param1);
  void Read(const uint8_t* bytes, size_t length);
  bool DeliverShortMessages(const uint8_t* bytes, size_t length);
  size_t ReadSysEx(const uint8_t* bytes, size_t length, size_t at);
  bool PutSysEx(const uint8_t* bytes, size_t count, bool ends);
  bool TakeBuffer();
  bool HandBack(uint32_t message);
  port::MidiHeader* TakeHeldLocked();
  void WaitForReadingElsewhere(std::unique_lock<std::mutex>& guard);

  const port::InputCallback callback;
  const uintptr_t context;
  Wakeup& wakeup;
  MessageQueue queue;

  // The producer's view of started: read where nothing may lock.
  std::atomic<bool> accepting{false};

  // The layer's thread only (Stop and Detach reset them once it is not
  // reading): the event being read, and the System Exclusive message it
  // may be part of.
  std::vector<uint8_t> current;
  bool inSysEx = false;
  bool skippingSysEx = false; // it found no buffer: dropped up to its F7

  std::mutex lock;
  std::condition_variable callbackDone;
  bool started = false;
  bool detached = false;
  std::deque<port::MidiHeader*> buffers; // queued, in order
  // Taken from the queue for a message that has not ended: still the
  // service's (marked queued) until it is handed back.
  port::MidiHeader* held = nullptr;
  uint32_t heldCount = 0;
  port::MidiHeader* filling = nullptr; // handed back, its callback not yet over
  std::thread::id fillingThread;       // the thread that calls back with it
  bool reading = false;                // an event of this port is being read
  std::thread::id readingThread;
  uint64_t droppedLong = 0;
};

} // namespace port::shared
