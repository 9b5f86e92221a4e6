// The demo: one controller of every family the tool has a dialogue with,
// plus a keyboard and a port whose capabilities cannot be read, as
// portprobe-demo plays them. The pieces are the named scenarios' too
// (testkit/scenarios.h).
#pragma once

#include "midi/port/simulated/controllers/nano_kontrol_controller.h"
#include "midi/port/simulated/simulated_service.h"

namespace port::sim {

void BuildDemoScene(SimulatedService& service);

// A nanoKONTROL2 as it names its USB jacks: "nanoKONTROL2 _ SLIDER/KNOB"
// (the host's input) and "nanoKONTROL2 _ CTRL" (the host's output).
UsbDevice NanoKontrolJacks();

// A port pair named nanoKONTROL2 with the controller behind it.
void AddNanoKontrol(SimulatedService& service, NanoKontrolController::Settings settings);
// An X-TOUCH MINI that turns a knob and presses a button.
void AddXTouchMini(SimulatedService& service);
// A Midi Fighter Twister that turns and pushes an encoder.
void AddTwister(SimulatedService& service);

} // namespace port::sim
