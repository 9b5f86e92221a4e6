// jack-flood [DEVICES [PER_SECOND [SECONDS [CONNECT_TO]]]]
//
// The flood of portprobe-flood on a JACK server: one JACK client, "flood",
// with DEVICES MIDI output ports "Flood 01", "Flood 02", ... (16), each
// sending PER_SECOND short messages (16,000) for SECONDS (4), numbered as
// flood.h says. The schedule is in the server's frames, so it does not drift
// with the machine's load: message k of every port is due at frame
// start + floor(k * sample rate / PER_SECOND). The flood starts at the first
// cycle after every port has a connection: portprobe opening them all, or
// CONNECT_TO (a port such as "midi-monitor:input", connected to all of them
// here).
//
// Prints "ready" on standard output once its ports are there and "finished"
// once every message is out; on SIGTERM or SIGINT it ends, printing on
// standard error what it sent, the
// messages the port buffers had no room for (lost before any receiver saw
// them) and the cycles the server reported missed.
//
// Threads: JACK's process thread writes the messages and touches nothing
// but atomics and its own counters; JACK's notification thread counts
// connections; the main thread waits for a signal.
#include <jack/jack.h>
#include <jack/midiport.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/flood_arguments.h"
#include "testkit/flood.h"

namespace {

namespace flood = testkit::flood;

struct Flood {
  jack_client_t* client = nullptr;
  std::vector<jack_port_t*> ports;
  uint32_t perDevice = 0;
  double perSecond = 0;
  double sampleRate = 0;

  std::atomic<int> connectedPorts{0}; // ports with at least one connection
  std::atomic<bool> started{false};
  jack_nframes_t startFrame = 0; // process thread only
  std::vector<uint32_t> next;    // process thread only: next message per port
  std::vector<void*> buffers;    // process thread only; sized before activation
  std::atomic<uint64_t> sent{0};
  std::atomic<uint64_t> noRoom{0};
  std::atomic<uint64_t> missedCycles{0};
  std::atomic<bool> finished{false};
};

// Frames from the flood's start to message k's due time.
uint64_t DueFrame(const Flood& flood, uint64_t k) {
  return static_cast<uint64_t>(static_cast<double>(k) * flood.sampleRate / flood.perSecond);
}

int Process(jack_nframes_t frames, void* argument) {
  Flood& flood = *static_cast<Flood*>(argument);
  const jack_nframes_t cycleStart = jack_last_frame_time(flood.client);
  std::vector<void*>& buffers = flood.buffers;
  for (size_t p = 0; p < flood.ports.size(); ++p) {
    buffers[p] = jack_port_get_buffer(flood.ports[p], frames);
    jack_midi_clear_buffer(buffers[p]);
  }
  if (!flood.started.load(std::memory_order_acquire)) {
    if (flood.connectedPorts.load() < static_cast<int>(flood.ports.size())) return 0;
    flood.startFrame = cycleStart;
    flood.started.store(true, std::memory_order_release);
  }
  // Unsigned arithmetic: the frame counter may wrap.
  const uint64_t cycleEnd = static_cast<jack_nframes_t>(cycleStart - flood.startFrame) + uint64_t{frames};
  uint64_t sent = 0, noRoom = 0;
  bool done = true;
  for (size_t p = 0; p < flood.ports.size(); ++p) {
    uint32_t& k = flood.next[p];
    for (; k < flood.perDevice; ++k) {
      const uint64_t due = DueFrame(flood, k);
      if (due >= cycleEnd) break;
      const uint64_t offset = due + frames >= cycleEnd ? due + frames - cycleEnd : 0;
      const uint32_t word = flood::MessageWord(static_cast<unsigned>(p), k); // the numbered plan's event k
      const jack_midi_data_t bytes[3] = {static_cast<jack_midi_data_t>(word & 0xFF),
                                         static_cast<jack_midi_data_t>((word >> 8) & 0xFF),
                                         static_cast<jack_midi_data_t>((word >> 16) & 0xFF)};
      if (jack_midi_event_write(buffers[p], static_cast<jack_nframes_t>(offset), bytes, sizeof bytes) == 0) {
        ++sent;
      } else {
        ++noRoom;
      }
    }
    if (k < flood.perDevice) done = false;
  }
  flood.sent += sent;
  flood.noRoom += noRoom;
  if (done) flood.finished = true;
  return 0;
}

void OnConnect(jack_port_id_t a, jack_port_id_t b, int connect, void* argument) {
  Flood& flood = *static_cast<Flood*>(argument);
  for (jack_port_t* port : flood.ports) {
    if (jack_port_by_id(flood.client, a) != port && jack_port_by_id(flood.client, b) != port) continue;
    // The first connection of a port makes it count, its last one's end uncounts it.
    const int connections = jack_port_connected(port);
    if (connect && connections == 1) ++flood.connectedPorts;
    if (!connect && connections == 0) --flood.connectedPorts;
  }
}

int OnXrun(void* argument) {
  ++static_cast<Flood*>(argument)->missedCycles;
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  double devices = 16, perSecond = 16000, seconds = 4;
  if (argc > 5 || !ParsePositiveArgument(argc, argv, 1, devices) || !ParsePositiveArgument(argc, argv, 2, perSecond) ||
      !ParsePositiveArgument(argc, argv, 3, seconds)) {
    std::fprintf(stderr, "usage: jack-flood [DEVICES [PER_SECOND [SECONDS [CONNECT_TO]]]]\n");
    return 2;
  }
  const char* connectTo = argc == 5 ? argv[4] : nullptr;
  const flood::Plan plan = flood::Numbered(static_cast<unsigned>(devices), perSecond, seconds);
  if (plan.devices.empty()) {
    std::fprintf(stderr, "jack-flood: 1 to %u devices and 1 to %u messages per device\n", flood::kMaxDevices,
                 flood::kShortMessageNumbers);
    return 2;
  }
  Flood flood;
  flood.perSecond = perSecond;
  flood.perDevice = plan.eventsPerDevice;

  // Blocked before JACK starts its threads, so that they inherit the mask
  // and the signals wait for sigwait.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  jack_status_t status;
  flood.client = jack_client_open("flood", JackNoStartServer, &status);
  if (flood.client == nullptr) {
    std::fprintf(stderr, "jack-flood: no JACK server (status 0x%x)\n", static_cast<unsigned>(status));
    return 1;
  }
  flood.sampleRate = jack_get_sample_rate(flood.client);
  for (const flood::Device& device : plan.devices) {
    const char* name = device.name.c_str();
    jack_port_t* port = jack_port_register(flood.client, name, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (port == nullptr) {
      std::fprintf(stderr, "jack-flood: cannot register port %s\n", name);
      return 1;
    }
    flood.ports.push_back(port);
  }
  flood.next.assign(flood.ports.size(), 0);
  flood.buffers.assign(flood.ports.size(), nullptr);
  jack_set_process_callback(flood.client, Process, &flood);
  jack_set_port_connect_callback(flood.client, OnConnect, &flood);
  jack_set_xrun_callback(flood.client, OnXrun, &flood);
  if (jack_activate(flood.client) != 0) {
    std::fprintf(stderr, "jack-flood: cannot activate the client\n");
    return 1;
  }
  if (connectTo != nullptr) {
    for (jack_port_t* port : flood.ports) {
      if (jack_connect(flood.client, jack_port_name(port), connectTo) != 0) {
        std::fprintf(stderr, "jack-flood: cannot connect %s to %s\n", jack_port_name(port), connectTo);
        return 1;
      }
    }
  }
  std::printf("ready\n");
  std::fflush(stdout);

  // Waits for a stop signal, looking meanwhile whether the flood is out.
  bool announced = false;
  const struct timespec poll = {0, 50 * 1000 * 1000};
  while (sigtimedwait(&stopSignals, nullptr, &poll) < 0) {
    if (!announced && flood.finished) {
      std::printf("finished\n");
      std::fflush(stdout);
      announced = true;
    }
  }
  jack_deactivate(flood.client);
  std::fprintf(stderr,
               "jack-flood: %u ports x %u messages at %.0f/s: sent %llu, no room in the port buffer %llu, %s, %llu "
               "missed cycles\n",
               static_cast<unsigned>(plan.devices.size()), flood.perDevice, perSecond,
               static_cast<unsigned long long>(flood.sent.load()), static_cast<unsigned long long>(flood.noRoom.load()),
               flood.finished ? "finished" : "NOT finished",
               static_cast<unsigned long long>(flood.missedCycles.load()));
  jack_client_close(flood.client);
  return 0;
}
