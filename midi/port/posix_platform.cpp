// The platform service of Linux and macOS: RtMidi over CoreMIDI or the ALSA
// sequencer; where neither is there, JACK, through the layer that serves all
// ports with one client (jack_service.h says why not through RtMidi).
//
// RtMidi's own JACK path is therefore chosen only by a build without the
// JACK layer, and no build here is one: it runs in tests only, as the way
// to test the RtMidi layer on a machine without the ALSA sequencer.
#include <cstdlib>
#include <functional>
#include <memory>

#include "midi/port/rtmidi/api_choice.h"
#include "midi/port/rtmidi/rtmidi_service.h"
#if defined(PORTPROBE_HAVE_JACK_LAYER)
#include "midi/port/jack/jack_service.h"
#endif

namespace {

std::function<void()> closeClients;

// Runs after the device manager is gone: the manager is made after the
// service it uses, so its destructor runs before this handler.
void CloseClientsAtExit() {
  closeClients();
}

port::MidiService* MakeService() {
#if defined(PORTPROBE_HAVE_JACK_LAYER)
  const RtMidi::Api api = port::rtmidi::ChooseApi(false);
  if (api == RtMidi::UNSPECIFIED) {
    // Opening the client is the look for a server: no second client to
    // open and close first.
    auto jack = std::make_unique<port::jack::JackService>();
    if (jack->Connected()) {
      port::jack::JackService* service = jack.release();
      closeClients = [service] { service->CloseClients(); };
      return service;
    }
  }
#else
  const RtMidi::Api api = port::rtmidi::ChooseApi();
#endif
  auto* service = new port::rtmidi::RtMidiService(api);
  closeClients = [service] { service->CloseClients(); };
  return service;
}

} // namespace

namespace port {

MidiService& PlatformService() {
  // Never destroyed: threads of the program may still be about while the
  // process exits. Its clients of the MIDI service are closed at exit,
  // though, so that a JACK server is told at once rather than left to wait
  // for them.
  static MidiService* service = [] {
    MidiService* made = MakeService();
    std::atexit(CloseClientsAtExit);
    return made;
  }();
  return *service;
}

} // namespace port
