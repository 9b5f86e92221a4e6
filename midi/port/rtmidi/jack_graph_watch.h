// Tells when a new JACK connection carries data, so that the RtMidi layer
// can hold back an output's open until a message sent through it arrives.
// RtMidi's process thread copies what was sent into its port at every
// cycle, so a message sent before the server runs the new connection goes
// out under the old graph and reaches nobody (shared/cycle_wait.h); a
// handler sends its first request exactly then, right after the open.
// Counting cycles is not enough either; the watch looks at the graph the
// server runs, once per cycle, through the wait the JACK layer uses too.
//
// The watch is a client of its own without ports ("portprobe", which the
// layer's port lists leave out); its process callback only posts a semaphore
// while somebody waits.
//
// Threads: the process callback on JACK's real-time thread; Connections and
// WaitForNewConnection from any thread (waits take turns).
// Where the JACK library is not built in, or no client could be opened,
// nothing is watched and the waits return at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "midi/port/shared/cycle_wait.h"

namespace port::rtmidi {

class JackGraphWatch {
 public:
  JackGraphWatch();
  ~JackGraphWatch();
  JackGraphWatch(const JackGraphWatch&) = delete;
  JackGraphWatch& operator=(const JackGraphWatch&) = delete;

  // The full names of the ports connected to the named port in the graph the
  // server runs now; empty when there are none or the port is unknown.
  std::vector<std::string> Connections(const std::string& portName);
  // Returns true once the named port has a connection in the running graph
  // that is not in before; false after timeout, or at once when nothing is
  // watched.
  bool WaitForNewConnection(const std::string& portName, const std::vector<std::string>& before,
                            std::chrono::milliseconds timeout);

 private:
  static int Process(uint32_t frames, void* self);

  void* client = nullptr; // jack_client_t*
  shared::CycleWait cycle;
};

} // namespace port::rtmidi
