// The thread of its own that the RtMidi layer and the JACK layer each run:
// it runs the device layer's input callback for every open input port.
//
// RtMidi calls back on the MIDI service's thread, and the JACK layer gets
// its messages on JACK's real-time process thread: neither may wait, while
// the input logic logs, decodes and may send replies that wait for a busy
// port. So those callbacks only queue (input_port.h) and this thread delivers, one port's events in
// order and never two at once. One thread serves all ports, however many
// devices there are, and on JACK one wake-up covers a cycle's messages of
// all of them; a port with a flood of messages gets its turn in slices so
// that the others are not starved.
//
// Threads: Add and Stop from any thread but this one's callbacks (Stop from
// a callback only asks the thread to end). The thread starts with the first
// port.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "midi/port/shared/input_port.h"
#include "midi/port/shared/wakeup.h"

namespace port::shared {

class Dispatcher {
 public:
  Dispatcher() = default;
  ~Dispatcher();
  Dispatcher(const Dispatcher&) = delete;
  Dispatcher& operator=(const Dispatcher&) = delete;

  Wakeup& Wake() { return wakeup; }
  // Serves the port from now on; it must outlive the dispatcher's thread.
  // False once stopped.
  bool Add(InputPort* port);
  // Ends delivery; when called from outside the thread, waits until the
  // running callback (if any) has returned and the thread has ended.
  void Stop();
  bool OnDispatcherThread() const;

 private:
  void Loop();

  Wakeup wakeup;
  std::mutex lock;
  std::vector<InputPort*> ports;
  uint64_t generation = 0;
  bool stopped = false;
  std::atomic<bool> stopping{false};
  std::thread thread;
  std::atomic<std::thread::id> threadId{};
};

} // namespace port::shared
