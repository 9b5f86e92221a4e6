#include "tools/jack_controllers/jack_host.h"

#include <jack/midiport.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace jackctl {

namespace {

constexpr size_t kIncomingBytes = 1 << 18;
constexpr size_t kOutgoingBytes = 1 << 16;

// The bytes a short-message word stands for, by its status byte.
size_t ShortLength(uint8_t status) {
  if (status >= 0xF8 || status == 0xF6) return 1;
  if (status == 0xF1 || status == 0xF3) return 2;
  if (status >= 0x80 && status < 0xF0 && (status & 0xE0) == 0xC0) return 2;
  return 3;
}

} // namespace

struct JackHost::Slot {
  JackDevice device;
  jack_port_t* capture = nullptr;
  jack_port_t* playback = nullptr;
  jack_ringbuffer_t* outgoing = nullptr; // worker -> process: length, bytes
  std::atomic<bool> connected{false};
  // The worker's alone:
  bool started = false;
  std::deque<Scheduled> schedule; // in due order
  Clock::time_point lastDue{};
  std::unique_ptr<Link> link;
};

class JackHost::Link final : public sim::ControllerLink {
 public:
  Link(JackHost& host, Slot& slot) : host(host), slot(slot) {}
  void Send(sim::ControllerEvent event) override { host.Schedule(slot, event); }

 private:
  JackHost& host;
  Slot& slot;
};

JackHost::JackHost(std::vector<JackDevice> devices, WireRecord& record) : record(record) {
  sem_init(&wake, 0, 0);
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
  for (auto& slot : slots) {
    if (slot->outgoing != nullptr) jack_ringbuffer_free(slot->outgoing);
  }
  if (incoming != nullptr) jack_ringbuffer_free(incoming);
  sem_destroy(&wake);
}

bool JackHost::Start(const std::string& clientName) {
  jack_status_t status{};
  client = jack_client_open(clientName.c_str(), static_cast<jack_options_t>(JackNoStartServer | JackUseExactName),
                            &status);
  if (client == nullptr) {
    std::fprintf(stderr, "jack-controllers: cannot open JACK client \"%s\" (status 0x%x)\n", clientName.c_str(),
                 static_cast<unsigned>(status));
    return false;
  }
  incoming = jack_ringbuffer_create(kIncomingBytes);
  for (auto& slot : slots) {
    slot->outgoing = jack_ringbuffer_create(kOutgoingBytes);
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
  started = Clock::now();
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
  sem_post(&wake);
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
  for (uint32_t index = 0; index < slots.size(); ++index) {
    Slot& slot = *slots[index];
    if (slot.playback == nullptr) continue;
    void* buffer = jack_port_get_buffer(slot.playback, frames);
    const uint32_t count = jack_midi_get_event_count(buffer);
    for (uint32_t at = 0; at < count; ++at) {
      jack_midi_event_t event;
      if (jack_midi_event_get(&event, buffer, at) != 0) continue;
      const uint32_t length = static_cast<uint32_t>(event.size);
      if (jack_ringbuffer_write_space(incoming) < sizeof(index) + sizeof(length) + length) {
        overflows.fetch_add(1);
        continue;
      }
      jack_ringbuffer_write(incoming, reinterpret_cast<const char*>(&index), sizeof(index));
      jack_ringbuffer_write(incoming, reinterpret_cast<const char*>(&length), sizeof(length));
      jack_ringbuffer_write(incoming, reinterpret_cast<const char*>(event.buffer), length);
      received = true;
    }
  }
  for (auto& slotPointer : slots) {
    Slot& slot = *slotPointer;
    if (slot.capture == nullptr) continue;
    void* buffer = jack_port_get_buffer(slot.capture, frames);
    jack_midi_clear_buffer(buffer);
    uint32_t length = 0;
    while (jack_ringbuffer_peek(slot.outgoing, reinterpret_cast<char*>(&length), sizeof(length)) == sizeof(length) &&
           jack_ringbuffer_read_space(slot.outgoing) >= sizeof(length) + length) {
      // One message per event; what does not fit goes in the next cycle.
      jack_midi_data_t* data = jack_midi_event_reserve(buffer, 0, length);
      if (data == nullptr) break;
      jack_ringbuffer_read_advance(slot.outgoing, sizeof(length));
      jack_ringbuffer_read(slot.outgoing, reinterpret_cast<char*>(data), length);
    }
  }
  if (received) sem_post(&wake);
  return 0;
}

void JackHost::OnConnect(jack_port_id_t a, jack_port_id_t b, int connect, void* self) {
  auto* host = static_cast<JackHost*>(self);
  if (connect == 0 || host->client == nullptr) return;
  const jack_port_t* first = jack_port_by_id(host->client, a);
  const jack_port_t* second = jack_port_by_id(host->client, b);
  for (auto& slot : host->slots) {
    if (slot->capture != nullptr && (slot->capture == first || slot->capture == second)) slot->connected = true;
  }
  sem_post(&host->wake);
}

void JackHost::OnShutdown(void* self) {
  std::fprintf(stderr, "jack-controllers: the JACK server went away\n");
  sem_post(&static_cast<JackHost*>(self)->wake);
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

void JackHost::Schedule(Slot& slot, const sim::ControllerEvent& event) {
  std::vector<uint8_t> bytes;
  switch (event.kind) {
    case sim::ControllerEvent::Kind::Short: {
      const uint8_t status = static_cast<uint8_t>(event.word & 0xFF);
      const size_t length = ShortLength(status);
      for (size_t at = 0; at < length; ++at) bytes.push_back(static_cast<uint8_t>((event.word >> (8 * at)) & 0xFF));
      break;
    }
    case sim::ControllerEvent::Kind::SysEx:
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
  slot.schedule.push_back({due, std::move(bytes)});
}

void JackHost::TakeIncoming() {
  uint32_t header[2];
  std::vector<uint8_t> bytes;
  // A record is written in three steps; take it only once it is all there
  // (the process thread signals again when its cycle is done).
  while (jack_ringbuffer_peek(incoming, reinterpret_cast<char*>(header), sizeof(header)) == sizeof(header) &&
         jack_ringbuffer_read_space(incoming) >= sizeof(header) + header[1]) {
    jack_ringbuffer_read_advance(incoming, sizeof(header));
    bytes.resize(header[1]);
    jack_ringbuffer_read(incoming, reinterpret_cast<char*>(bytes.data()), header[1]);
    Slot& slot = *slots.at(header[0]);
    record.Received(slot.device.file, bytes.data(), bytes.size());
    NoteTraffic();
    if (slot.device.controller) slot.device.controller->OnReceive(bytes.data(), bytes.size(), *slot.link);
  }
}

JackHost::Clock::time_point JackHost::SendDue(Clock::time_point now) {
  Clock::time_point next = Clock::time_point::max();
  for (auto& slotPointer : slots) {
    Slot& slot = *slotPointer;
    while (!slot.schedule.empty() && slot.schedule.front().due <= now) {
      const std::vector<uint8_t>& bytes = slot.schedule.front().bytes;
      const uint32_t length = static_cast<uint32_t>(bytes.size());
      if (slot.capture == nullptr) {
        slot.schedule.pop_front(); // nowhere to send it
        continue;
      }
      if (jack_ringbuffer_write_space(slot.outgoing) < sizeof(length) + length) {
        next = std::min(next, now + std::chrono::milliseconds(1));
        break;
      }
      jack_ringbuffer_write(slot.outgoing, reinterpret_cast<const char*>(&length), sizeof(length));
      jack_ringbuffer_write(slot.outgoing, reinterpret_cast<const char*>(bytes.data()), length);
      record.Sent(slot.device.file, bytes.data(), bytes.size());
      NoteTraffic();
      slot.schedule.pop_front();
    }
    if (!slot.schedule.empty()) next = std::min(next, slot.schedule.front().due);
  }
  return next;
}

void JackHost::Work() {
  while (!stopping) {
    TakeIncoming();
    for (auto& slot : slots) {
      if (!slot->started && slot->connected) {
        slot->started = true;
        if (slot->device.controller) slot->device.controller->OnInputStarted(*slot->link);
      }
    }
    const Clock::time_point next = SendDue(Clock::now());
    if (next == Clock::time_point::max()) {
      while (sem_wait(&wake) != 0 && errno == EINTR) {
      }
      continue;
    }
    const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(next - Clock::now());
    if (wait.count() <= 0) continue;
    timespec until{};
    clock_gettime(CLOCK_REALTIME, &until);
    const long long total = static_cast<long long>(until.tv_nsec) + wait.count();
    until.tv_sec += static_cast<time_t>(total / 1000000000LL);
    until.tv_nsec = static_cast<long>(total % 1000000000LL);
    while (sem_timedwait(&wake, &until) != 0 && errno == EINTR) {
    }
  }
}

} // namespace jackctl
