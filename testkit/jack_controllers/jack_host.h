// Publishes virtual controllers as one JACK client, named "a2j" like the
// bridge that brings ALSA MIDI devices into JACK, so that portprobe sees the
// port names a user's desktop shows.
//
// Each device gets a capture port (what its controller sends; portprobe's
// input) and a playback port (what portprobe sends it), as its scene says.
// Every JACK event carries one message both ways, but that a device may
// send a long System Exclusive message in pieces (sysExPieceBytes), as the
// bridges from the ALSA sequencer pass on what its driver gives them. The controller is started
// (OnInputStarted) once the graph the server runs connects its capture port
// to something, which is when portprobe has opened the port (not as soon as
// the connection is made: the server runs it only from a later cycle, and
// what is sent before goes nowhere); everything it sends is scheduled after
// the device's answer delay plus the event's own delay.
//
// Threads:
//  - JACK's process thread (real time): only moves events between the ports
//    and lock-free queues (the same the RtMidi layer hands its input over
//    with); it never blocks or allocates.
//  - JACK's notification thread: wakes the worker on new connections and
//    notes missed cycles.
//  - the host's worker thread: everything else, one thing at a time: the
//    controllers' OnInputStarted and OnReceive, scheduling what they send,
//    and the wire record.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <jack/jack.h>

#include "midi/port/shared/message_queue.h"
#include "midi/port/shared/wakeup.h"
#include "testkit/jack_controllers/jack_scenes.h"
#include "testkit/jack_controllers/wire_record.h"

namespace jack_controllers {

class JackHost {
 public:
  JackHost(std::vector<JackDevice> devices, WireRecord& record);
  ~JackHost();
  JackHost(const JackHost&) = delete;
  JackHost& operator=(const JackHost&) = delete;

  // Opens the client and its ports and activates it; false (with the reason
  // on stderr) when the server is not there or a name is taken.
  bool Start(const std::string& clientName);
  void Stop();
  // Received events lost because the worker fell behind; should stay 0.
  uint64_t Overflows() const;
  // Writes <directory>/timing for the tests: "traffic FIRST LAST", the
  // milliseconds since Start of the first and last event either way, and
  // "xrun AT" for every cycle the server reported as missed. A client that
  // misses a cycle loses its events, so a test can tell a lost message that
  // the machine's load explains from one the program lost.
  void WriteTiming(const std::string& directory);

 private:
  using Clock = std::chrono::steady_clock;
  struct Scheduled {
    Clock::time_point due;
    std::vector<uint8_t> bytes; // one JACK event
    // A message sent in pieces is recorded once, whole, with its first piece.
    std::vector<uint8_t> wholeMessage;
    bool laterPiece = false;
  };
  struct Slot;
  class Link;

  static int Process(jack_nframes_t frames, void* self);
  static void OnConnect(jack_port_id_t a, jack_port_id_t b, int connect, void* self);
  static void OnShutdown(void* self);
  static int OnXrun(void* self);
  void NoteTraffic();
  int Process(jack_nframes_t frames);
  void Work();
  // Starts the controllers whose capture port the running graph connects;
  // returns when to look again.
  Clock::time_point StartConnected(Clock::time_point now);
  void TakeIncoming();
  // Hands due events to the process thread; returns the next due time.
  Clock::time_point SendDue(Clock::time_point now);
  void Schedule(Slot& slot, const port::sim::ControllerEvent& event);

  std::vector<std::unique_ptr<Slot>> slots;
  WireRecord& record;
  jack_client_t* client = nullptr;
  port::shared::Wakeup wake;
  std::atomic<bool> stopping{false};
  std::atomic<uint64_t> connectHints{0}; // connections made, from the notification thread
  uint64_t hintsSeen = 0;                // the worker's alone
  Clock::time_point lookForConnectionsUntil{};
  std::thread worker;
  Clock::time_point started;
  std::mutex timingLock; // the worker and JACK's notification thread
  std::vector<long long> xruns;
  long long firstTraffic = -1;
  long long lastTraffic = -1;
};

} // namespace jack_controllers
