// Counts a flood (flood.h) in a log: portprobe's report or console, or
// jack_midi_dump's output.
//
// The log is read as units: each "got MIDI" line (or jack_midi_dump line),
// and each "SysEx message received:" line with its hex dump. A unit names
// its device (the channel of a short message, the device byte of a packet
// or of a flood message) and its place in the device's stream; units that
// do not come from the flood (a controller's replies) are passed over. Each
// unit must be the one the plan has at that place, once, in the device's
// order. An event sent as packets has two units: its own line, and after
// its last packet the assembled message's dump.
//
// Memory grows with the log's units only: the expected ones are made one at
// a time from the plan.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "testkit/flood.h"

namespace testkit::flood {

using namespace port::sim;

struct DeviceTally {
  uint32_t logged = 0;      // distinct events logged
  uint32_t gaps = 0;        // places where the log jumps ahead of the next unit
  uint32_t repeated = 0;    // a unit logged again
  uint32_t late = 0;        // logged for the first time after a later one
  uint32_t beyond = 0;      // a unit of the device that its stream does not have there
  uint32_t unassembled = 0; // packets logged whole whose assembled message was not
  uint64_t saidLost = 0;    // what the report says the port layer lost of it
};

struct Tally {
  std::vector<DeviceTally> devices;
  uint64_t expected = 0; // events of all devices; 0 for endless streams
  uint64_t logged = 0;
  uint64_t lost = 0; // expected minus logged
  uint64_t gaps = 0;
  uint64_t repeated = 0;
  uint64_t late = 0;
  uint64_t beyond = 0;
  uint64_t unassembled = 0;
  uint64_t saidLost = 0;

  // Each device's units, as far as they go, are its stream's from the
  // start: none skipped, doubled, out of order or foreign.
  bool Unbroken() const { return gaps == 0 && repeated == 0 && late == 0 && beyond == 0 && unassembled == 0; }
  // Every event there once and in order.
  bool Exact() const { return Unbroken() && lost == 0; }
  // Every event there once and in order, or missing from a device that the
  // report says lost exactly that many: nothing lost without a word.
  bool Accounted() const;
};

// "N MIDI events lost on "NAME"." lines count for the plan's device NAME.
Tally CheckLog(std::istream& log, const Plan& plan);
Tally CheckText(const std::string& text, const Plan& plan);
std::string Describe(const Tally& tally);

// A flood that ran on through the stop of a run (ThroughTheStop), as the
// report and the console show it, against what the service delivered to
// each device's input before its stop began (the open event included): each
// device's stream unbroken from its start in both; on the console every
// event delivered before the stop; in the report all of those but at most
// `slack` (those that came while the report was being taken, before the
// stop), and none the console lacks.
struct StopCheck {
  bool passed = false;
  std::string description;
};
StopCheck CheckThroughTheStop(const std::string& report, const std::string& console,
                              const std::vector<uint32_t>& deliveredBeforeStop, uint32_t slack);

} // namespace testkit::flood
