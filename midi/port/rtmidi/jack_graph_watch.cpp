#include "midi/port/rtmidi/jack_graph_watch.h"

#include <algorithm>

#if defined(PORTPROBE_HAVE_JACK)
#include <jack/jack.h>
#endif

namespace rtmidi_port {

#if defined(PORTPROBE_HAVE_JACK)

JackGraphWatch::JackGraphWatch() {
  jack_client_t* opened = jack_client_open("portprobe", JackNoStartServer, nullptr);
  if (opened == nullptr) return;
  jack_set_process_callback(opened, &JackGraphWatch::Process, this);
  if (jack_activate(opened) != 0) {
    jack_client_close(opened);
    return;
  }
  client = opened;
}

JackGraphWatch::~JackGraphWatch() {
  if (client != nullptr) jack_client_close(static_cast<jack_client_t*>(client));
}

std::vector<std::string> JackGraphWatch::Connections(const std::string& portName) {
  std::vector<std::string> names;
  if (client == nullptr) return names;
  auto* jack = static_cast<jack_client_t*>(client);
  jack_port_t* port = jack_port_by_name(jack, portName.c_str());
  if (port == nullptr) return names;
  const char** connected = jack_port_get_all_connections(jack, port);
  if (connected == nullptr) return names;
  for (const char** name = connected; *name != nullptr; ++name) names.emplace_back(*name);
  jack_free(connected);
  return names;
}

int JackGraphWatch::Process(uint32_t, void* self) {
  auto* watch = static_cast<JackGraphWatch*>(self);
  // The server switches to a new graph only as a cycle begins: one look per
  // cycle sees every change.
  if (watch->waiters.load(std::memory_order_acquire) > 0) watch->wakeup.Signal();
  return 0;
}

#else

JackGraphWatch::JackGraphWatch() = default;
JackGraphWatch::~JackGraphWatch() = default;
std::vector<std::string> JackGraphWatch::Connections(const std::string&) { return {}; }
int JackGraphWatch::Process(uint32_t, void*) { return 0; }

#endif

bool JackGraphWatch::WaitForNewConnection(const std::string& portName, const std::vector<std::string>& before,
                                          std::chrono::milliseconds timeout) {
  if (client == nullptr) return false;
  const auto deadline = Wakeup::Clock::now() + timeout;
  waiters.fetch_add(1, std::memory_order_acq_rel);
  bool found = false;
  for (;;) {
    for (const std::string& name : Connections(portName)) {
      if (std::find(before.begin(), before.end(), name) == before.end()) found = true;
    }
    if (found || Wakeup::Clock::now() >= deadline) break;
    wakeup.WaitUntil(deadline);
  }
  waiters.fetch_sub(1, std::memory_order_acq_rel);
  return found;
}

} // namespace rtmidi_port
