// The platform service of a build with RtMidi.
#include <cstdlib>

#include "midi/port/rtmidi/api_choice.h"
#include "midi/port/rtmidi/rtmidi_service.h"

namespace {

rtmidi_port::RtMidiService* platformService = nullptr;

// Runs after the device manager is gone: the manager is made after the
// service it uses, so its destructor runs before this handler.
void CloseClientsAtExit() {
  platformService->CloseClients();
}

} // namespace

namespace port {

MidiService& PlatformService() {
  // Never destroyed: threads of the program may still be about while the
  // process exits. Its clients of the MIDI service are closed at exit,
  // though, so that a JACK server is told at once rather than left to wait
  // for them.
  static rtmidi_port::RtMidiService* service = [] {
    platformService = new rtmidi_port::RtMidiService(rtmidi_port::ChooseApi());
    std::atexit(CloseClientsAtExit);
    return platformService;
  }();
  return *service;
}

} // namespace port
