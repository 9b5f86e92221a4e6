// Test support: one run of the tool over a simulated service, waiting until
// the controllers have said everything instead of for five seconds.
#pragma once

#include <string>

#include "app/run.h"
#include "midi/manager.h"
#include "midi/port/simulated/simulated_service.h"
#include "tests/support/console_capture.h"

struct ProbeRun {
  std::string report;
  std::string console; // everything written before the report was exported
};

// Waits for the service to go idle and for every activity worker to finish,
// so the run's log is complete and in a known order.
inline void WaitForQuiet(port::sim::SimulatedService& service, CMIDIManager& manager) {
  for (;;) {
    service.WaitUntilIdle();
    manager.Workers().WaitUntilNoneRunning();
    service.WaitUntilIdle();
    if (manager.Workers().Running() == 0) return;
  }
}

// Whether a run may send a controller a request before its input can take
// the answer: only where a port fault keeps input from starting or its
// buffer from being queued.
enum class EarlyRequests { Refused, Allowed };

inline ProbeRun RunOver(port::sim::SimulatedService& service, CMIDIManagerWin& manager, ConsoleCapture& console,
                        EarlyRequests early = EarlyRequests::Refused) {
  ProbeRun run;
  app::RunProbe(
      manager, [&] { WaitForQuiet(service, manager); },
      [&](const app::ReportText& text) {
        const std::string report = text.Joined();
        run.report = report;
        run.console = console.Text();
      });
  if (early == EarlyRequests::Refused) {
    const std::vector<std::string> early = service.EarlyRequests();
    EXPECT_TRUE(early.empty()) << early.front();
  }
  return run;
}
