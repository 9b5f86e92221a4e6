#include "testkit/jack_controllers/jack_host.h"

#include <jack/midiport.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace jack_controllers {

namespace {

constexpr size_t kQueueBytes = 1 << 18;
// After a connection is made, how long and how often the worker looks
// whether the server runs it yet (it holds graph changes back while a client
// is late, up to its client timeout).
constexpr std::chrono::milliseconds kConnectPatience{2000};
constexpr std::chrono::milliseconds kConnectLookInterval{1};

// The bytes a short-message word stands for, by its status byte (three for
// one that begins no message: a script's mistake, sent as it stands).
size_t ShortLength(uint8_t status) {
  const size_t length = ShortMessageLength(status);
  return length != 0 ? length : 3;
}

} // namespace

struct JackHost::Slot {
  JackDevice device;
  jack_port_t* capture = nullptr;
  jack_port_t* playback = nullptr;
  port::shared::MessageQueue incoming{kQueueBytes}; // process -> worker
  port::shared::MessageQueue outgoing{kQueueBytes}; // worker -> process
  // The worker's alone:
  bool started = false;
  std::deque<Scheduled> schedule; // in due order
  Clock::time_point lastDue{};
  std::unique_ptr<Link> link;
};

class JackHost::Link final : public port::sim::ControllerLink {
 public:
  Link(JackHost& host, Slot& slot) : host(host), slot(slot) {}
  void Send(port::sim::ControllerEvent event) override { host.Schedule(slot, event); }

 private:
  JackHost& host;
  Slot& slot;
};

JackHost::JackHost(std::vector<JackDevice> devices, WireRecord& record) : record(record), started(Clock::now()) {
  for (JackDevice& device : devices) {
    auto slot = std::make_unique<Slot>();
    slot->device = std::move(device);
    slot->link = std::make_unique<Link>(*this, *slot);
    record.Touch(slot->device.file);
    slots.push_back(std::move(slot));
  }
}

JackHost::~JackHost() {
  Stop();
}

uint64_t JackHost::Overflows() const {
  uint64_t lost = 0;
  // A full outgoing queue only delays a send; a full incoming one loses it.
  for (const auto& slot : slots) lost += slot->incoming.Dropped();
  return lost;
}

bool JackHost::Start(const std::string& clientName) {
  jack_status_t status{};
  client =
      jack_client_open(clientName.c_str(), static_cast<jack_options_t>(JackNoStartServer | JackUseExactName), &status);
  if (client == nullptr) {
    std::fprintf(stderr, "jack-controllers: cannot open JACK client \"%s\" (status 0x%x)\n", clientName.c_str(),
                 static_cast<unsigned>(status));
    return false;
  }
  for (auto& slot : slots) {
    // Registered in scene order: JACK lists ports in the order they came.
    if (slot->device.capture) {
      slot->capture = jack_port_register(client, A2jPortName(slot->device, true).c_str(), JACK_DEFAULT_MIDI_TYPE,
                                         JackPortIsOutput | JackPortIsPhysical | JackPortIsTerminal, 0);
    }
    if (slot->device.playback) {
      slot->playback = jack_port_register(client, A2jPortName(slot->device, false).c_str(), JACK_DEFAULT_MIDI_TYPE,
                                          JackPortIsInput | JackPortIsPhysical | JackPortIsTerminal, 0);
    }
    if ((slot->device.capture && slot->capture == nullptr) || (slot->device.playback && slot->playback == nullptr)) {
      std::fprintf(stderr, "jack-controllers: cannot register the ports of %s\n", slot->device.alsaClient.c_str());
      return false;
    }
  }
  jack_set_process_callback(client, &JackHost::Process, this);
  jack_set_port_connect_callback(client, &JackHost::OnConnect, this);
  jack_on_shutdown(client, &JackHost::OnShutdown, this);
  jack_set_xrun_callback(client, &JackHost::OnXrun, this);
  worker = std::thread([this] { Work(); });
  if (jack_activate(client) != 0) {
    std::fprintf(stderr, "jack-controllers: cannot activate the client\n");
    return false;
  }
  return true;
}

void JackHost::Stop() {
  if (client != nullptr) {
    jack_deactivate(client);
  }
  stopping = true;
  wake.Signal();
  if (worker.joinable()) worker.join();
  if (client != nullptr) {
    jack_client_close(client);
    client = nullptr;
  }
}

int JackHost::Process(jack_nframes_t frames, void* self) {
  return static_cast<JackHost*>(self)->Process(frames);
}

int JackHost::Process(jack_nframes_t frames) {
  bool received = false;
  for (auto& slotPointer : slots) {
    Slot& slot = *slotPointer;
    if (slot.playback == nullptr) continue;
    void* buffer = jack_port_get_buffer(slot.playback, frames);
    const uint32_t count = jack_midi_get_event_count(buffer);
    for (uint32_t at = 0; at < count; ++at) {
      jack_midi_event_t event;
      if (jack_midi_event_get(&event, buffer, at) != 0) continue;
      received |= slot.incoming.Push(event.buffer, event.size); // counted when full
    }
  }
  for (auto& slotPointer : slots) {
    Slot& slot = *slotPointer;
    if (slot.capture == nullptr) continue;
    void* buffer = jack_port_get_buffer(slot.capture, frames);
    jack_midi_clear_buffer(buffer);
    size_t length = 0;
    while (slot.outgoing.PeekLength(length)) {
      // One message per event; what does not fit goes in the next cycle.
      jack_midi_data_t* data = jack_midi_event_reserve(buffer, 0, length);
      if (data == nullptr) break;
      slot.outgoing.PopInto(data);
    }
  }
  if (received) wake.Signal();
  return 0;
}

void JackHost::OnConnect(jack_port_id_t, jack_port_id_t, int connect, void* self) {
  // Only a hint: the worker looks at its ports itself. Nothing set up after
  // the client opened is read here, on JACK's notification thread.
  if (connect == 0) return;
  auto* host = static_cast<JackHost*>(self);
  host->connectHints.fetch_add(1);
  host->wake.Signal();
}

void JackHost::OnShutdown(void* self) {
  std::fprintf(stderr, "jack-controllers: the JACK server went away\n");
  static_cast<JackHost*>(self)->wake.Signal();
}

int JackHost::OnXrun(void* self) {
  auto* host = static_cast<JackHost*>(self);
  const auto at = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - host->started).count();
  std::lock_guard<std::mutex> guard(host->timingLock);
  host->xruns.push_back(at);
  return 0;
}

void JackHost::NoteTraffic() {
  const auto at = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
  std::lock_guard<std::mutex> guard(timingLock);
  if (firstTraffic < 0) firstTraffic = at;
  lastTraffic = at;
}

void JackHost::WriteTiming(const std::string& directory) {
  std::lock_guard<std::mutex> guard(timingLock);
  std::FILE* file = std::fopen((directory + "/timing").c_str(), "w");
  if (file == nullptr) return;
  std::fprintf(file, "traffic %lld %lld\n", firstTraffic, lastTraffic);
  for (long long at : xruns) std::fprintf(file, "xrun %lld\n", at);
  std::fclose(file);
}

void JackHost::Schedule(Slot& slot, const port::sim::ControllerEvent& event) {
  std::vector<uint8_t> bytes;
  switch (event.kind) {
    case port::sim::ControllerEvent::Kind::Short: {
      const uint8_t status = static_cast<uint8_t>(event.word & 0xFF);
      const size_t length = ShortLength(status);
      for (size_t at = 0; at < length; ++at) bytes.push_back(static_cast<uint8_t>((event.word >> (8 * at)) & 0xFF));
      break;
    }
    case port::sim::ControllerEvent::Kind::SysEx:
      bytes = event.bytes;
      break;
    default:
      // Broken messages and port events are the simulated service's; a JACK
      // port has no way to send them.
      std::fprintf(stderr, "jack-controllers: %s cannot send this kind of event over JACK\n",
                   slot.device.alsaClient.c_str());
      return;
  }
  const Clock::time_point earliest = Clock::now() + slot.device.answerDelay;
  const Clock::time_point due = std::max(earliest, slot.lastDue) + event.delay;
  slot.lastDue = due;
  const size_t piece = slot.device.sysExPieceBytes;
  if (event.kind != port::sim::ControllerEvent::Kind::SysEx || piece == 0 || bytes.size() <= piece) {
    slot.schedule.push_back({due, std::move(bytes), {}, false});
    return;
  }
  for (size_t at = 0; at < bytes.size(); at += piece) {
    const auto from = bytes.begin() + static_cast<std::ptrdiff_t>(at);
    const auto to = bytes.begin() + static_cast<std::ptrdiff_t>(std::min(bytes.size(), at + piece));
    slot.schedule.push_back({due, std::vector<uint8_t>(from, to), at == 0 ? bytes : std::vector<uint8_t>{}, at != 0});
  }
}

void JackHost::TakeIncoming() {
  std::vector<uint8_t> bytes;
  for (auto& slotPointer : slots) {
    Slot& slot = *slotPointer;
    while (slot.incoming.Pop(bytes)) {
      record.Received(slot.device.file, bytes.data(), bytes.size());
      NoteTraffic();
      if (slot.device.controller) slot.device.controller->OnReceive(bytes.data(), bytes.size(), *slot.link);
    }
  }
}

JackHost::Clock::time_point JackHost::SendDue(Clock::time_point now) {
  Clock::time_point next = Clock::time_point::max();
  for (auto& slotPointer : slots) {
    Slot& slot = *slotPointer;
    while (!slot.schedule.empty() && slot.schedule.front().due <= now) {
      const std::vector<uint8_t>& bytes = slot.schedule.front().bytes;
      if (slot.capture == nullptr) {
        slot.schedule.pop_front(); // nowhere to send it
        continue;
      }
      if (!slot.outgoing.Push(bytes.data(), bytes.size())) {
        next = std::min(next, now + std::chrono::milliseconds(1)); // full: try again shortly
        break;
      }
      const Scheduled& sent = slot.schedule.front();
      if (!sent.wholeMessage.empty()) {
        record.Sent(slot.device.file, sent.wholeMessage.data(), sent.wholeMessage.size());
      } else if (!sent.laterPiece) {
        record.Sent(slot.device.file, bytes.data(), bytes.size());
      }
      NoteTraffic();
      slot.schedule.pop_front();
    }
    if (!slot.schedule.empty()) next = std::min(next, slot.schedule.front().due);
  }
  return next;
}

JackHost::Clock::time_point JackHost::StartConnected(Clock::time_point now) {
  const uint64_t hints = connectHints.load();
  if (hints != hintsSeen) {
    hintsSeen = hints;
    lookForConnectionsUntil = now + kConnectPatience;
  }
  bool waiting = false;
  for (auto& slot : slots) {
    if (slot->started || slot->capture == nullptr) continue;
    // jack_port_connected reads the graph the server runs: a connection the
    // server has taken but not yet runs would carry nothing yet, and a
    // controller that played into it would lose its first messages.
    if (jack_port_connected(slot->capture) > 0) {
      slot->started = true;
      if (slot->device.controller) slot->device.controller->OnInputStarted(*slot->link);
    } else {
      waiting = true;
    }
  }
  // The server runs a new connection from a later cycle on; look again
  // shortly for a while after each hint.
  if (waiting && now < lookForConnectionsUntil) return now + kConnectLookInterval;
  return Clock::time_point::max();
}

void JackHost::Work() {
  while (!stopping) {
    TakeIncoming();
    const Clock::time_point lookAgain = StartConnected(Clock::now());
    const Clock::time_point next = std::min(lookAgain, SendDue(Clock::now()));
    if (next == Clock::time_point::max()) {
      wake.Wait();
    } else {
      wake.WaitUntil(next);
    }
  }
}

} // namespace jack_controllers
