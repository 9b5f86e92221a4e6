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
#include "bench/flood_arguments.h"
#include "midi/manager.h"
#include "midi/port/simulated/simulated_service.h"
#include "testkit/flood.h"

namespace flood = testkit::flood;

int main(int argc, char** argv) {
  double devices = 16, perSecond = 16000, seconds = 4.5;
  if (argc > 4 || !ParsePositiveArgument(argc, argv, 1, devices) || !ParsePositiveArgument(argc, argv, 2, perSecond) ||
      !ParsePositiveArgument(argc, argv, 3, seconds)) {
    std::fprintf(stderr, "usage: portprobe-flood [DEVICES [PER_SECOND [SECONDS]]]\n");
    return 2;
  }
  const flood::Plan plan = flood::Numbered(static_cast<unsigned>(devices), perSecond, seconds);
  if (plan.devices.empty()) {
    std::fprintf(stderr, "portprobe-flood: 1 to %u devices and 1 to %u messages per device\n", flood::kMaxDevices,
                 flood::kShortMessageNumbers);
    return 2;
  }

  std::vector<std::shared_ptr<flood::Lateness>> lateness;
  int code;
  {
    port::sim::SimulatedService service;
    flood::Add(service, plan, &lateness);
    CMIDIManagerWin manager(service);
    code = app::RunTool(manager);
  }
  int64_t worst = 0;
  for (const auto& stream : lateness) worst = std::max(worst, stream->worstMicroseconds.load());
  std::fprintf(stderr, "\nflood: %zu devices x %u messages at %.0f/s each; latest delivery %.3f ms behind schedule\n",
               plan.devices.size(), plan.eventsPerDevice, perSecond, static_cast<double>(worst) / 1e3);
  return code;
}
