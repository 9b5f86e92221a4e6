// portprobe-flood [DEVICES [PER_SECOND [SECONDS]]]
//
// The tool's own five-second run, as portprobe-demo runs it, over the
// simulated service with DEVICES ports (16) each streaming PER_SECOND short
// messages (16,000, USB-MIDI's full-speed rate) for SECONDS (4.5, so that
// every message is due well before the report is taken). The streams keep a
// fixed schedule: a receiver that cannot keep up makes messages late, and
// what is not logged when the report is taken is lost. flood-check counts
// the messages in the report or the console log afterwards.
//
// On standard error, once the run is over: what was sent, and how far the
// deliveries fell behind their schedule at worst.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/run.h"
#include "midi/manager.h"
#include "midi/port/simulated/instruments/numbered_flood.h"
#include "midi/port/simulated/simulated_service.h"

int main(int argc, char** argv) {
  double devices = 16, perSecond = 16000, seconds = 4.5;
  if (argc > 4 || !flood::ParsePositiveArgument(argc, argv, 1, devices) ||
      !flood::ParsePositiveArgument(argc, argv, 2, perSecond) ||
      !flood::ParsePositiveArgument(argc, argv, 3, seconds)) {
    std::fprintf(stderr, "usage: portprobe-flood [DEVICES [PER_SECOND [SECONDS]]]\n");
    return 2;
  }
  const auto deviceCount = static_cast<unsigned>(devices);
  const auto perDevice = static_cast<uint32_t>(perSecond * seconds);
  if (deviceCount == 0 || deviceCount > flood::kMaxDevices || perDevice > flood::kMaxSequence) {
    std::fprintf(stderr, "portprobe-flood: at most %u devices and %u messages per device\n", flood::kMaxDevices,
                 flood::kMaxSequence);
    return 2;
  }

  std::vector<std::shared_ptr<flood::Lateness>> lateness;
  int code;
  {
    port::sim::SimulatedService service;
    flood::AddNumberedFlood(service, deviceCount, perSecond, seconds, &lateness);
    CMIDIManagerWin manager(service);
    code = RunTool(manager);
  }
  int64_t worst = 0;
  for (const auto& stream : lateness) worst = std::max(worst, stream->worstMicroseconds.load());
  std::fprintf(stderr, "\nflood: %u devices x %u messages at %.0f/s each; latest delivery %.3f ms behind schedule\n",
               deviceCount, perDevice, perSecond, static_cast<double>(worst) / 1e3);
  return code;
}
