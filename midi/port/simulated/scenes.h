// Ready-made sets of virtual devices: the demo's, and named scenarios that
// the stand-in services (winmm under Wine, JACK) play.
#pragma once

#include <string>
#include <vector>

#include "midi/port/simulated/simulated_service.h"

namespace sim {

// The demo: one controller of every family the tool has a dialogue with,
// plus the ports that show what the report says about failures.
void BuildDemoScene(SimulatedService& service);

// Builds the named scenario; false when there is none of that name.
//  "demo"            the demo scene
//  "none"            no ports at all
//  "nano-good-scene" a nanoKONTROL2 that already holds the required scene
//  "nano-bad-scene"  a nanoKONTROL2 with one byte of its scene changed, which
//                    takes the upload and the write at the first attempt
//  "nano-channel"    a nanoKONTROL2 holding the required scene on global
//                    channel 4, so its dump never matches
//  "nano-failing"    a nanoKONTROL2 with a changed scene that fails ten
//                    acknowledgements (refused, too short, upload and write)
//  "xtouch-mini"     an X-TOUCH MINI that turns a knob and presses a button
//  "twister"         a Midi Fighter Twister that turns and pushes an encoder
// and the floods and misbehaving controllers of misbehaving_scenes.h.
bool BuildScenario(const std::string& name, SimulatedService& service);
std::vector<std::string> ScenarioNames();

} // namespace sim
