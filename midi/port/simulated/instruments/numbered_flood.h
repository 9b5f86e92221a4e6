// The flood: many devices each sending short messages at a steady rate,
// every message naming its device and its place in the device's sequence,
// so that a log of the run shows exactly which messages arrived.
//
// A message is a well-formed three-byte channel message: status | device,
// data bytes the low 14 bits of the sequence number, and the status's kind
// (note off, note on, key pressure, control change, pitch bend, in that
// order) counting the 16384s. So a device's first 81,920 messages are all
// distinct, and a device is its MIDI channel (16 devices at most).
//
// The same flood serves the benchmarks (portprobe-flood, and jack-flood on
// a JACK server), the stand-in winmm.dll (the scenario "numbered-flood
// DEVICES PER_SECOND SECONDS"), and flood-check, which counts it in a log.
//
// Threads: the functions are pure; a Pacer belongs to one stream; a
// Lateness is written by the simulated service's thread and read once the
// service has stopped.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <istream>
#include <memory>
#include <string>
#include <vector>

namespace port::sim {
class SimulatedService;
}

namespace flood {

constexpr unsigned kMaxDevices = 16;
constexpr uint32_t kMaxSequence = 5u * 16384u; // five kinds of three-byte message

// The short-message word of message `sequence` of `device`, lowest byte first.
uint32_t MessageWord(unsigned device, uint32_t sequence);
// The inverse for the three bytes of a "got MIDI" line; false for a message
// that no flood sends.
bool DecodeMessage(unsigned status, unsigned data1, unsigned data2, unsigned& device, uint32_t& sequence);

// Delays of a steady rate in whole microseconds: 16,000 a second is 62 and
// 63 in turn, never drifting from the exact schedule by a microsecond.
class Pacer {
 public:
  explicit Pacer(double perSecond) : perSecond(perSecond) {}
  std::chrono::microseconds Next();

 private:
  double perSecond;
  uint64_t count = 0;
};

struct DeviceTally {
  uint32_t logged = 0;   // distinct numbers logged
  uint32_t gaps = 0;     // places where the log jumps ahead of the next number
  uint32_t repeated = 0; // a number logged again
  uint32_t late = 0;     // logged for the first time after a higher number
  uint32_t beyond = 0;   // numbers the device never sent
  uint64_t saidLost = 0; // what the report says the port layer lost of it
};

struct Tally {
  std::vector<DeviceTally> devices;
  uint64_t expected = 0;
  uint64_t logged = 0;
  uint64_t lost = 0;     // expected minus logged
  uint64_t repeated = 0; // all devices
  uint64_t late = 0;
  uint64_t beyond = 0;
  uint64_t saidLost = 0;
  // Every message there once and in order.
  bool Exact() const { return lost == 0 && repeated == 0 && late == 0 && beyond == 0; }
  // Every message there once and in order, or missing from a device that
  // the report says lost exactly that many: nothing lost without a word.
  bool Accounted() const;
};

// Reads a log (portprobe's report or console, or jack_midi_dump's output)
// and counts the flood's messages of each of `devices` devices, each of
// which sent `perDevice` messages numbered from 0, and the report's lines
// "N MIDI events lost on "Flood NN"." for them.
Tally CheckLog(std::istream& log, unsigned devices, uint32_t perDevice);
std::string Describe(const Tally& tally);

// How late a stream's deliveries were, at worst, against the schedule of
// its first delivery.
struct Lateness {
  std::atomic<int64_t> worstMicroseconds{0};
};

// Adds `devices` input ports named "Flood 01" and on, each streaming
// perSecond messages a second for `seconds` from its start. When lateness
// is given, it gets one entry per device. False when the numbers are out
// of range (at most kMaxDevices devices and kMaxSequence messages each).
bool AddNumberedFlood(port::sim::SimulatedService& service, unsigned devices, double perSecond, double seconds,
                      std::vector<std::shared_ptr<Lateness>>* lateness = nullptr);

// The flood programs' optional numeric arguments (devices, rate, seconds):
// argv[index] when given, which must be a positive number; true when it is
// absent (value keeps its default) or valid.
bool ParsePositiveArgument(int argc, char** argv, int index, double& value);

} // namespace flood
