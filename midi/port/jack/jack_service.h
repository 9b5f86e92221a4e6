// The port layer straight over JACK: one client of the server, with one
// MIDI port of its own for every device port it opens.
//
// RtMidi also reaches JACK, but it makes every opened port a client of its
// own. The server wakes every client at every cycle and each one costs a
// context switch and its own open and close; with sixteen controllers that
// is thirty-odd clients where one does. On a JACK server the tool therefore
// uses this layer, and RtMidi for the ALSA sequencer and CoreMIDI.
//
// Ports: as in the RtMidi layer (rtmidi_service.h): lists are snapshots
// taken by InputCount and OutputCount, names are JACK's full port names with
// the direction markers removed (port_names.h), this program's own ports are
// left out, and an open looks the snapshot's name up again (kBadDeviceId
// when the port has gone). The client is activated only when the first port
// is opened: with no device the server never wakes the tool.
//
// Input: JACK's process thread copies each event into the port's hand-over
// queue; the layer's one thread delivers it (input_port.h, dispatcher.h).
//
// Output: a long send is cut into single messages (message_splitter.h) and
// queued whole, all or nothing; the process thread writes them into the
// port's buffer at the next cycle, as many as fit, in order, one JACK event
// each. OpenOutput returns once the new connection is in the graph the
// server runs (at most kConnectPatience), so that a request sent at once is
// not lost. The bytes are copied during the send: UnprepareOutput always
// succeeds.
//
// Result codes:
//   0  kNoError       success
//   1  kError         the server refused a port or a connection, or it has
//                     gone away (shut down or killed)
//   2  kBadDeviceId   index outside the snapshot; the port has gone since the
//                     count; no server
//   5  kInvalidHandle a handle this layer did not give out, or one given out
//                     before CloseClients
//   7  kNoMem         more than kMaxPorts ports of one direction
//   11 kInvalParam    no callback; a header without bytes; a long send that
//                     is not a sequence of complete messages, that holds a
//                     message longer than one cycle's port buffer takes
//                     (LongestMessage) or that is larger than the queue
//                     (nothing of it is sent)
//   64 kUnprepared    a header that was not prepared
//   65 kStillPlaying  an input buffer still queued or being filled
//   67 kNotReady      the output's queue has no room for the send yet; the
//                     next cycle empties it
// Never: 4 (JACK ports take any number of connections), 10.
//
// Threads: the port calls may come from any thread; the client and the
// lists are used under this service's lock (queued_input_service.h), sends under their port's own
// lock. The process callback takes no lock: it sees the ports published
// before the count it reads.
// Ownership: the service owns its client and ports and keeps the ports
// until it is destroyed (the device layer never closes one).
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "midi/port/port.h"
#include "midi/port/shared/cycle_wait.h"
#include "midi/port/shared/dispatcher.h"
#include "midi/port/shared/input_port.h"
#include "midi/port/shared/message_queue.h"
#include "midi/port/shared/queued_input_service.h"
#include "midi/port/shared/wakeup.h"

namespace port::jack {

constexpr const char* kClientName = "portprobe";
constexpr size_t kMaxPorts = 256;
// Room for what one device's sends may queue between two cycles; the
// longest dialogue message is a few hundred bytes.
constexpr size_t kOutputQueueBytes = 64 * 1024;
// How long an output open waits for its connection to carry data. The server
// holds graph changes back while a client is late, up to its client timeout
// (half a second unless configured otherwise).
constexpr std::chrono::milliseconds kConnectPatience{2000};

class JackService final : public shared::QueuedInputService {
 public:
  // Opens the client; never starts a server. Without one there are no ports.
  // inputQueueBytes: each input's hand-over queue (tests make it small to
  // see what a full one does).
  explicit JackService(size_t inputQueueBytes = shared::InputPort::kQueueBytes);
  ~JackService() override;
  JackService(const JackService&) = delete;
  JackService& operator=(const JackService&) = delete;

  bool Connected();

  unsigned InputCount() override;
  [[nodiscard]] port::Result OpenInput(unsigned index, port::InputCallback callback, uintptr_t context,
                                       port::InputHandle& handle) override;

  unsigned OutputCount() override;
  [[nodiscard]] port::Result OpenOutput(unsigned index, port::OutputHandle& handle) override;
  [[nodiscard]] port::Result SendLong(port::OutputHandle handle, port::MidiHeader& header) override;

  void Shutdown() override;
  // Ends delivery and closes the client, which takes its ports off the
  // server at once; from then on there are no ports, and handles given out
  // before fail with kInvalidHandle. For the end of the process: a server
  // waits for a client that died without closing until its timeout, cycle
  // after cycle, and meanwhile the clients behind it miss their cycles.
  void CloseClients();

  // The longest single message a send may hold: what an empty port buffer
  // takes. 0 until the first cycle with a port.
  size_t LongestMessage() const { return longestMessage.load(std::memory_order_relaxed); }

 private:
  struct InputEntry;
  struct OutputEntry;

  static int Process(uint32_t frames, void* self);
  static void OnServerGone(void* self);
  void ProcessInputs(uint32_t frames);
  void ProcessOutputs(uint32_t frames);

  std::vector<Listed> List(bool inputs);
  bool Usable() const;                           // under lock
  [[nodiscard]] port::Result Activate();         // under lock
  void* RegisterPort(bool input, size_t number); // under lock; jack_port_t*
  void WaitUntilConnected(void* ownPort, const std::string& rawName);
  bool PortsGone() const override { return closed; } // under lock
  OutputEntry* FindOutput(port::OutputHandle handle);
  bool HasOutput(port::OutputHandle handle) override { return FindOutput(handle) != nullptr; }
  [[nodiscard]] port::Result Queue(OutputEntry& output, const uint8_t* bytes, size_t length);

  const size_t inputQueueBytes;
  void* client = nullptr; // jack_client_t*
  bool activated = false;
  bool closed = false;
  std::atomic<bool> serverGone{false};
  std::vector<std::unique_ptr<InputEntry>> inputs;
  std::vector<std::unique_ptr<OutputEntry>> outputs;

  // What the process thread reads: entries up to the published count, each
  // written before the count that covers it.
  std::array<InputEntry*, kMaxPorts> processInputs{};
  std::array<OutputEntry*, kMaxPorts> processOutputs{};
  std::atomic<size_t> publishedInputs{0};
  std::atomic<size_t> publishedOutputs{0};
  std::atomic<size_t> longestMessage{0};

  // An output open waiting for its connection looks once per cycle.
  shared::CycleWait connectionWait;

  shared::Dispatcher dispatcher; // declared last: stopped before the ports go
};

} // namespace port::jack
