// The port layer over RtMidi: the ALSA sequencer or JACK on Linux, CoreMIDI
// on macOS (api_choice.h picks one).
//
// Ports: the input and output lists are snapshots taken by InputCount and
// OutputCount and kept until the next count, so indices stay put while the
// device layer opens ports; every RtMidi object is a client of the service
// whose own ports would otherwise shift the lists. This program's own ports
// are left out. Names are RtMidi's, untruncated, with JACK's direction
// markers removed so that the two halves of a device pair (port_names.h).
// Opening looks the snapshot's name up again, so a port that went away in
// between is reported (kBadDeviceId) instead of opening another one.
//
// Input: each open port is its own RtMidiIn with its own callback; timing
// clock, active sensing and SysEx are all let through. Events reach the
// device layer's callback on the layer's one thread (dispatcher.h), as
// described in input_port.h; "port opened" comes from inside OpenInput.
//
// Output: a long send is cut into single messages (message_splitter.h) and
// each goes out with its own sendMessage, a System Exclusive message whole.
// On JACK, OpenOutput returns only once the new connection is in the graph
// the server runs (jack_graph_watch.h), so that a request sent at once is
// not lost; at most kJackConnectPatience, after which it goes on regardless.
// RtMidi copies the bytes before it returns, so a send never holds the
// caller's buffer: UnprepareOutput always succeeds.
//
// Result codes:
//   0  kNoError       success
//   1  kError         RtMidi reported WARNING, UNSPECIFIED, DRIVER_ERROR,
//                     SYSTEM_ERROR or THREAD_ERROR (a WARNING is how RtMidi
//                     reports, among others, a failed ALSA send or a lost
//                     JACK server)
//   2  kBadDeviceId   index outside the snapshot; the port has gone since the
//                     count; RtMidi's INVALID_DEVICE or NO_DEVICES_FOUND
//   5  kInvalidHandle a handle this layer did not give out, or a detached
//                     port; RtMidi's INVALID_USE
//   7  kNoMem         RtMidi's MEMORY_ERROR
//   11 kInvalParam    a header without bytes; a long send that is not a
//                     sequence of complete messages (nothing of it is sent);
//                     on JACK a System Exclusive message longer than
//                     kJackSysExLimit, which RtMidi would silently drop;
//                     RtMidi's INVALID_PARAMETER
//   64 kUnprepared    a header that was not prepared
//   65 kStillPlaying  an input buffer still queued or being filled
// Never: 4 (ports may be opened by several clients), 10, 67 (RtMidi takes
// every message at once; on JACK it waits for room in its own ring buffer).
//
// Threads: the port calls may come from any thread; RtMidi objects are used
// under this service's lock, sends under their port's own lock. Nothing here
// runs on RtMidi's threads but InputPort::Receive.
// Ownership: the service owns every RtMidi object and port it creates and
// keeps them until it is destroyed or CloseClients is called (the device
// layer never closes a port).
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <RtMidi.h>

#include "midi/port/port.h"
#include "midi/port/rtmidi/jack_graph_watch.h"
#include "midi/port/rtmidi/rtmidi_errors.h"
#include "midi/port/shared/dispatcher.h"
#include "midi/port/shared/input_port.h"
#include "midi/port/shared/port_names.h"
#include "midi/port/shared/queued_input_service.h"

namespace port::rtmidi {

// The longest System Exclusive message RtMidi sends over JACK: its ring
// buffer of 16384 bytes holds one byte less, and each message is preceded
// by a four-byte length.
constexpr size_t kJackSysExLimit = 16379;
// How long an output open waits for its connection to carry data. The server
// holds graph changes back while a client is late, up to its client timeout
// (half a second unless configured otherwise).
constexpr std::chrono::milliseconds kJackConnectPatience{2000};
// The client name of every RtMidi object of this program.
constexpr const char* kClientName = "portprobe";

class RtMidiService final : public shared::QueuedInputService {
 public:
  // RtMidi::UNSPECIFIED: no MIDI service; the service has no ports.
  // inputQueueBytes: each input's hand-over queue (tests make it small to
  // see what a full one does).
  explicit RtMidiService(RtMidi::Api api, size_t inputQueueBytes = shared::InputPort::kQueueBytes);
  ~RtMidiService() override;

  unsigned InputCount() override;
  [[nodiscard]] port::Result OpenInput(unsigned index, port::InputCallback callback, uintptr_t context,
                                       port::InputHandle& handle) override;

  unsigned OutputCount() override;
  [[nodiscard]] port::Result OpenOutput(unsigned index, port::OutputHandle& handle) override;
  [[nodiscard]] port::Result SendLong(port::OutputHandle handle, port::MidiHeader& header) override;

  void Shutdown() override;
  // Ends delivery and closes every client this layer opened on the MIDI
  // service; from then on there are no ports, and handles given out before
  // fail with kInvalidHandle. For the end of the process: a JACK server
  // waits for a client that died without closing until its timeout, cycle
  // after cycle, and meanwhile the clients behind it (a2jmidid, and the
  // audio after it on a desktop) miss their cycles.
  void CloseClients();

 private:
  struct InputEntry {
    std::unique_ptr<shared::InputPort> port;
    ErrorSink errors;
    std::unique_ptr<RtMidiIn> midi; // destroyed first: its thread calls into port
  };
  struct OutputEntry {
    std::mutex sending;
    ErrorSink errors;
    std::unique_ptr<RtMidiOut> midi;
  };
  bool Jack() const { return api == RtMidi::UNIX_JACK; }
  // The service's current ports of one direction, without this program's.
  template <class Midi>
  std::vector<Listed> List(Midi& midi, shared::Direction direction);
  template <class Midi>
  [[nodiscard]] port::Result FindByRawName(Midi& midi, const std::string& rawName, unsigned& index);
  OutputEntry* FindOutput(port::OutputHandle handle);
  bool HasOutput(port::OutputHandle handle) override { return FindOutput(handle) != nullptr; }
  [[nodiscard]] port::Result SendMessages(OutputEntry& output, const uint8_t* bytes, size_t length);

  const RtMidi::Api api;
  const size_t inputQueueBytes;
  ErrorSink listErrors;
  std::unique_ptr<RtMidiIn> inputLister;
  std::unique_ptr<RtMidiOut> outputLister;
  std::vector<std::unique_ptr<InputEntry>> inputs;
  std::vector<std::unique_ptr<OutputEntry>> outputs;
  std::shared_ptr<JackGraphWatch> graphWatch; // JACK only; kept by an open that waits on it
  shared::Dispatcher dispatcher;              // declared last: stopped before the ports go
};

} // namespace port::rtmidi
