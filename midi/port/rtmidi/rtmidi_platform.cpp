// The platform service of a build with RtMidi.
#include "midi/port/rtmidi/api_choice.h"
#include "midi/port/rtmidi/rtmidi_service.h"

namespace port {

MidiService& PlatformService() {
  // Never destroyed: RtMidi's threads may still call into the ports while
  // the process exits.
  static rtmidi_port::RtMidiService* service = new rtmidi_port::RtMidiService(rtmidi_port::ChooseApi());
  return *service;
}

} // namespace port
