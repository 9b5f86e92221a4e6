// A flood of input: devices that send short messages back to back at the
// USB-MIDI full-speed rate (one message every 62.5 microseconds), some of
// them with System Exclusive messages in packets or in long buffers between
// their notes.
//
// Every event says which device sent it and where it stands in that
// device's stream, so a report can be checked for events lost, doubled or
// out of order:
//  - note on, channel d: 9d, sequence bits 0-6, sequence bits 7-13;
//  - packets F0 7D d, then d s7 s0 (bits 7-13 and 0-6), then F7 d 00: one
//    9-byte message once assembled (7D is the ID for non-commercial use);
//  - long message F0 7D d s14 s7 s0 F7: 7 bytes, too short for any handler's
//    dialogue, so no handler answers it.
// The streams are pulled one event at a time (SimulatedService::AddStream),
// so a flood of any length takes constant memory.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "midi/port/simulated/simulated_service.h"

namespace port::sim {

struct FloodDevice {
  std::string name;
  // Every so many events, one System Exclusive message cut into three
  // packets (the three events that start there); 0 for none.
  uint32_t packetsEvery = 0;
  // Every so many events, one long message in place of a note; 0 for none.
  // Only a device whose name gets a handler has a buffer to receive it.
  uint32_t longEvery = 0;
  // The controller behind an input and output of the device's name, or none
  // (then the device has an input port only).
  std::shared_ptr<VirtualController> controller;
};

struct FloodPlan {
  std::vector<FloodDevice> devices; // at most 16: the channel names the device
  // Events per device; 0 for a stream that never ends while the port runs.
  uint32_t eventsPerDevice = 0;
};

// The interval between a device's events: 62 and 63 microseconds in turn,
// 62.5 on average, the time one short message takes on a full-speed USB-MIDI
// cable.
std::chrono::microseconds FloodInterval(uint32_t index);
// How many events one device sends at that rate in the given time.
uint32_t FloodEventsIn(std::chrono::milliseconds duration);

// Event number index of the plan's device number device. Packets start only
// where all three fit before the end of the stream.
ControllerEvent FloodEvent(const FloodPlan& plan, uint8_t device, uint32_t index);

// Sixteen devices for the given time: two Twisters, a BCF2000, a
// nanoKONTROL2 with a scene to rewrite and an X-TOUCH MINI, each with its
// virtual controller and long messages between its notes, and eleven
// keyboards without a dialogue, every other one with packets.
FloodPlan FullSpeedFlood(std::chrono::milliseconds duration);

// Adds the plan's ports and controllers and its streams, which start with
// each port's input.
void AddFlood(SimulatedService& service, const FloodPlan& plan);

} // namespace port::sim
