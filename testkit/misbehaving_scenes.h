// Named scenarios of floods and of controllers that misbehave, played like
// the others through BuildScenario (scenarios.h):
//  "flood"                sixteen controllers sending at the USB-MIDI
//                         full-speed rate for five seconds, with System
//                         Exclusive in packets and long messages between
//  "runaway-sysex"        two keyboards whose System Exclusive in packets
//                         never ends, one of them past 65535 bytes
//  "oversized-sysex"      a 100,000-byte System Exclusive message, in
//                         packets from a keyboard and as one long message
//                         from a Twister, each followed by more input
//  "garbage-replies"      a BCF2000 and a nanoKONTROL2 that answer their
//                         requests with bursts of garbage
//  "wrong-length-replies" BCF2000, BCR2000 and two nanoKONTROL2 whose
//                         replies are cut short or stretched
//  "reply-flood"          a BCF2000 that answers 1000 times, and a
//                         nanoKONTROL2 that dumps its scene 50 times, and
//                         answers each upload 50 times, into a port that is
//                         busy twice before every send it takes
//  "hostile-names"        port names and an identity text holding control
//                         characters, terminal escape sequences, C1
//                         controls, invalid UTF-8 and a zero byte
//  "hung-open"            a BCF2000 that answers, then a port whose open
//                         never returns
//  "hung-start"           a nanoKONTROL2 whose midiInStart never returns
//  "hung-send"            a BCF2000 whose identity request never leaves: the
//                         send does not return, with the list lock held
#pragma once

#include <string>
#include <vector>

#include "midi/port/simulated/simulated_service.h"

namespace testkit {

// The kit is built on the simulated service and speaks its language.
using namespace port::sim;

bool BuildMisbehavingScenario(const std::string& name, SimulatedService& service);
std::vector<std::string> MisbehavingScenarioNames();

// The texts of "hostile-names": port names and the BCF2000's identity text.
extern const char kHostileBCPortName[];
extern const char kHostileKeyboardPortName[];
extern const std::string kHostileIdentityText; // holds a zero byte

} // namespace testkit
