// Which MIDI service the RtMidi layer talks to, chosen once at start.
//
// A default-constructed RtMidi object picks the first compiled API and
// throws (after printing to stderr) where that service is missing, as on a
// machine without the ALSA sequencer. The layer therefore looks first:
//  - macOS: CoreMIDI, which is always there;
//  - Linux: the ALSA sequencer when it can be opened, else JACK when a
//    server is running; a JACK server is never started for the tool
//    (JACK_NO_START_SERVER is set before anything talks to JACK);
//  - otherwise none: the tool then has no ports and says so.
// The probes keep the libraries' own complaints about a missing service off
// the console.
#pragma once

#include <RtMidi.h>

namespace port::rtmidi {

// RtMidi::UNSPECIFIED when there is no MIDI service to use. withJack false:
// JACK is not looked for (the caller reaches it another way). Every build
// here has the JACK layer and asks without JACK, so RtMidi's own JACK path
// runs only in the tests, as the way to test this layer on a machine
// without the ALSA sequencer.
RtMidi::Api ChooseApi(bool withJack = true);

bool AlsaSequencerAvailable();
bool JackServerRunning();

} // namespace port::rtmidi
