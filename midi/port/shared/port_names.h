// How the RtMidi and JACK layers name ports.
//
// The device layer pairs an input with the output of exactly the same name.
// The ALSA sequencer and CoreMIDI give both directions of a device one name.
// JACK does not: a device's capture and playback ports are two ports, and
// a2jmidid, which bridges ALSA devices into JACK, writes the direction into
// both names ("a2j:BCF2000 [20] (capture): BCF2000 MIDI 1" and
// "a2j:BCF2000 [20] (playback): BCF2000 MIDI 1"); JACK's own ports are
// "system:midi_capture_1" and "system:midi_playback_1". The direction marker
// is removed so that both halves carry one name and pair. Everything else is
// kept as the service gives it, whatever its length.
#pragma once

#include <string>

#include "midi/port/port.h"

namespace port::shared {

using port::Direction;

// The name shown in the log and used for pairing. jack: the name is a JACK
// port name; other services' names are returned unchanged.
std::string DisplayPortName(const std::string& rawName, Direction direction, bool jack);

// The physical device behind a port, as far as its name tells, or "" when
// it does not: "alsa:N" for the ALSA sequencer client N, whose ports are
// the ports of one device. An ALSA sequencer port as RtMidi names it ends in
// "N:P"; a2jmidid names its JACK ports "a2j:NAME [N] (capture): PORT";
// PipeWire gives its bridged ports the alias "alsa:seq:CARD:client_N:...".
// jack: the name is a JACK port name or alias.
std::string DeviceOfPort(const std::string& rawName, bool jack);

// True for a port of this program's own clients (every RtMidi object is a
// client of the MIDI service and may show up in the other direction's list):
// "client:..." or, as JACK names a second client of the same name,
// "client-01:...".
bool IsOwnPort(const std::string& rawName, const std::string& clientName);

} // namespace port::shared
