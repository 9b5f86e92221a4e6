#include "midi/port/rtmidi/jack_graph_watch.h"

#include <algorithm>

#if defined(PORTPROBE_HAVE_JACK)
#include <jack/jack.h>
#endif

namespace port::rtmidi {

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
  watch->cycle.OnCycle();
  return 0;
}

#else

JackGraphWatch::JackGraphWatch() = default;
JackGraphWatch::~JackGraphWatch() = default;
std::vector<std::string> JackGraphWatch::Connections(const std::string&) {
  return {};
}
int JackGraphWatch::Process(uint32_t, void*) {
  return 0;
}

#endif

bool JackGraphWatch::WaitForNewConnection(const std::string& portName, const std::vector<std::string>& before,
                                          std::chrono::milliseconds timeout) {
  if (client == nullptr) return false;
  return cycle.Until(
      [&] {
        for (const std::string& name : Connections(portName)) {
          if (std::find(before.begin(), before.end(), name) == before.end()) return true;
        }
        return false;
      },
      timeout);
}

} // namespace port::rtmidi
