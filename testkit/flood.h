// The flood: devices that each send a numbered stream of messages at a
// steady rate, so that a log of the run shows exactly which of them arrived
// (flood_check.h counts them). One flood serves every user: the reliability
// tests, portprobe-flood and jack-flood, the stand-in winmm.dll (scenarios
// "flood" and "numbered-flood DEVICES PER_SECOND SECONDS") and
// jack-controllers.
//
// Every event names its device and its place in the device's stream:
//  - a short message is a three-byte channel message: status | device, the
//    data bytes the low 14 bits of the number, and the status's kind (note
//    off, note on, key pressure, control change, pitch bend, in that order)
//    counting the 16384s, so a device's first 81,920 messages are distinct;
//  - packets F0 7D d, then d n7 n0 (bits 7-13 and 0-6 of the middle one's
//    number), then F7 d 00: one 9-byte message once assembled (7D is the ID
//    for non-commercial use);
//  - a long message F0 7D d n14 n7 n0 F7: 7 bytes, too short for any
//    handler's dialogue, so no handler answers it.
// A device is its MIDI channel (16 devices at most).
//
// Threads: the functions are pure; a stream added to a service is pulled
// by the service's thread; a Lateness is written there and read once the
// service has stopped.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "midi/port/simulated/virtual_controller.h"

namespace port::sim {
class SimulatedService;
}

namespace testkit::flood {

// The kit is built on the simulated service and speaks its language.
using namespace port::sim;

constexpr unsigned kMaxDevices = 16;
constexpr uint32_t kShortMessageNumbers = 5u * 16384u; // five kinds of three-byte message

// The short-message word of message `number` of `device`, lowest byte first.
uint32_t MessageWord(unsigned device, uint32_t number);
// The inverse; false for three bytes that no flood sends as a short message.
// The number is the message's modulo kShortMessageNumbers.
bool DecodeMessage(unsigned status, unsigned data1, unsigned data2, unsigned& device, uint32_t& number);

// The delay before event `index` of a stream of perSecond events a second,
// in whole microseconds, never drifting from the exact schedule by one:
// 16,000 a second (a full-speed USB-MIDI cable) is 62 and 63 in turn.
std::chrono::microseconds DelayBefore(double perSecond, uint32_t index);

struct Device {
  std::string name;
  // Every so many events, one System Exclusive message cut into three
  // packets (the three events that start there); 0 for none.
  uint32_t packetsEvery = 0;
  // Every so many events, one long message in place of a short one; 0 for
  // none. Only a device whose name gets a handler has a buffer to receive it.
  uint32_t longEvery = 0;
  // The controller behind an input and output of the device's name, or none
  // (then the device has an input port only).
  std::shared_ptr<VirtualController> controller;
};

struct Plan {
  std::vector<Device> devices; // at most kMaxDevices
  double perSecond = 16000;    // each device's events
  // Events per device; 0 for a stream that never ends while the port runs.
  uint32_t eventsPerDevice = 0;
};

// Event number `index` of the plan's device number `device`. Packets start
// only where all three fit before the end of the stream.
ControllerEvent Event(const Plan& plan, uint8_t device, uint32_t index);

// Sixteen devices for the given time at the full-speed rate: two Twisters,
// a BCF2000, a nanoKONTROL2 with a scene to rewrite and an X-TOUCH MINI,
// each with its virtual controller and long messages between its short
// ones, and eleven keyboards without a dialogue, every other one with
// packets.
Plan FullSpeed(std::chrono::milliseconds duration);
// `devices` keyboards named "Flood 01" and on, short messages only,
// perSecond a second for `seconds`. An empty plan when the numbers are out
// of range (devices 1 to kMaxDevices, 1 to kShortMessageNumbers messages
// each, so that every one is distinct).
Plan Numbered(unsigned devices, double perSecond, double seconds);
// Four Twisters (a handler each, so a buffer for the long messages), each
// sending a short message every millisecond and a long one in place of
// every 25th, without end: a flood that runs on through a run's stop.
Plan ThroughTheStop();

// How late a stream's deliveries were, at worst, against the schedule of
// its first delivery.
struct Lateness {
  std::atomic<int64_t> worstMicroseconds{0};
};

// Adds the plan's ports, controllers and streams; each stream starts with
// its port's input. When lateness is given, it gets one entry per device.
void Add(SimulatedService& service, const Plan& plan, std::vector<std::shared_ptr<Lateness>>* lateness = nullptr);

} // namespace testkit::flood
