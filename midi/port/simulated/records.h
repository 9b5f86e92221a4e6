// What the simulated service records of each port for tests and benchmarks
// to read: nothing the program under test can see.
#pragma once

#include <cstdint>
#include <vector>

namespace port::sim {

// What one output port was asked to do.
struct OutputRecord {
  int opens = 0;                              // successful opens
  std::vector<std::vector<uint8_t>> messages; // every accepted long message
  int prepareCalls = 0;
  int sendCalls = 0;
  int releaseCalls = 0;
  // Sends begun while an earlier one on this port was not yet released.
  int overlappingSends = 0;
  int stalledSends = 0; // sends the device stopped taking
};

// What happened on one input port.
struct InputRecord {
  int delivered = 0;            // events delivered to the callback
  int droppedLongMessages = 0;  // SysEx, or the rest of one, that found no queued buffer
  int bufferWaits = 0;          // times a SysEx found no buffer and was given time to get one
  int droppedWhileStopped = 0;  // events that came while input was not started
  int brokenNotReported = 0;    // broken input and unknown codes a service that reports none dropped
  int deliveredBeforeStop = -1; // `delivered` when the input was first stopped; -1 until then
};

} // namespace port::sim
