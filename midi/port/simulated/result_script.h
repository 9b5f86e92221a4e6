// The results a simulated port gives to successive calls of one operation,
// so that a test can make any call fail with any code, once or always.
#pragma once

#include <deque>

#include "midi/port/port.h"

namespace port::sim {

// A result no call gives back: the call never returns, as a driver that
// deadlocks or waits on a device that is gone. The simulated service holds
// such a call until the test releases it (or the service shuts down), and
// then lets it succeed.
constexpr port::Result kNeverReturns = 0xFFFFFFFFu;
// For a send only: the device stops taking data. The send waits the
// model's stalled-send limit, then fails with MMSYSERR_ERROR, and every
// later send on the port fails at once (ServiceModel).
constexpr port::Result kStalls = 0xFFFFFFFEu;

class ResultScript {
 public:
  ResultScript() = default;
  static ResultScript Always(port::Result code) { return ResultScript({}, code); }
  // The first count calls give code, later ones succeed.
  static ResultScript FirstN(int count, port::Result code) {
    return ResultScript(std::deque<port::Result>(static_cast<size_t>(count), code), port::kNoError);
  }
  // Explicit results for the first calls, then thereafter.
  ResultScript(std::deque<port::Result> upcoming, port::Result thereafter)
      : upcoming(std::move(upcoming)), thereafter(thereafter) {}

  [[nodiscard]] port::Result Next() {
    if (upcoming.empty()) return thereafter;
    const port::Result code = upcoming.front();
    upcoming.pop_front();
    return code;
  }

 private:
  std::deque<port::Result> upcoming;
  port::Result thereafter = port::kNoError;
};

} // namespace port::sim
