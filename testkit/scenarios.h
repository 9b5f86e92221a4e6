// Named scenarios: ready-made sets of virtual devices, faults among them,
// that the tests, portprobe-demo and the stand-in services (winmm under
// Wine, JACK) play by name.
#pragma once

#include <string>
#include <vector>

#include "midi/port/simulated/simulated_service.h"

namespace testkit {

// The kit is built on the simulated service and speaks its language.
using namespace port::sim;

// Builds the named scenario; false when there is none of that name.
//  "demo"            the demo scene
//  "none"            no ports at all
//  "nano-good-scene" a nanoKONTROL2 that already holds the required scene
//  "nano-bad-scene"  a nanoKONTROL2 with one byte of its scene changed, which
//                    takes the upload and the write at the first attempt
//  "nano-named-jacks" the same nanoKONTROL2 naming its USB jacks, so that the
//                    current Windows names its input and output differently
//  "nano-channel"    a nanoKONTROL2 holding the required scene on global
//                    channel 4, so its dump never matches
//  "nano-failing"    a nanoKONTROL2 with a changed scene that fails ten
//                    acknowledgements (refused, too short, upload and write)
//  "xtouch-mini"     an X-TOUCH MINI that turns a knob and presses a button
//  "twister"         a Midi Fighter Twister that turns and pushes an encoder
//  "bcf2000-rename"  a BCF2000 that answers with a name of its own
//  "unknown-port"    a device of no known family sending every kind of event
//  "unusable-ports"  ports whose names cannot be read or that do not open
//  "busy-output"     BCR2000 and BCF2000 outputs that are busy or keep the bytes
//  "sysex-on-the-wire" System Exclusive longer than a buffer, interrupted,
//                    with a real-time byte inside, and unfinished at the end
//  "unplugged"       a nanoKONTROL2 unplugged in the middle of its dialogue
//  "stalled-send"    a nanoKONTROL2 whose output stops taking data at the
//                    upload of its scene, beside a keyboard that plays
//  "two-nanokontrol2", "two-bcf2000", "two-bcr2000", "two-xtouch-mini"
//                    two USB units of one model, named as the service names
//                    them (alike before November 2026); the nanoKONTROL2s'
//                    scenes both differ, the BCs answer "MODEL Left" and
//                    "MODEL Right", the second unit always well after the first
//  "flood-through-stop" four Twisters sending short and long messages every
//                    millisecond without end (flood::ThroughTheStop)
//  "numbered-flood DEVICES PER_SECOND SECONDS"
//                    the benchmarks' numbered flood (flood.h)
// and the floods and misbehaving controllers of misbehaving_scenes.h.
bool BuildScenario(const std::string& name, SimulatedService& service);
std::vector<std::string> ScenarioNames();

} // namespace testkit
