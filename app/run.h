// The run: start every port, let the controllers talk for a while, then put
// the log and the device summary where the user can mail them.
//
// Called on the main thread. Everything MIDI happens meanwhile on the port
// layer's input thread and on activity workers; a watchdog thread stands by
// in case a call never returns (watchdog.h).
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "app/report_text.h"

class CMIDIManager;

namespace app {

// What the user mails to support: the lines of devices that lost events,
// the captured log, "\r\n\r\n", the summary. Takes the capture: whatever is
// logged afterwards does not reach the report.
ReportText BuildReport(CMIDIManager& manager);

// When the run gives up on a call that does not return.
struct RunDeadline {
  std::chrono::milliseconds after; // counted from the start of the run
  // Runs on the watchdog's thread once the report it built is exported;
  // ends the process (tests record it instead).
  std::function<void()> giveUp;
};

// Starts the manager, calls wait, then builds the report, stops the manager
// and hands the report to exportReport, and gives the console a moment to
// show what is left. With a deadline, a run that has not exported its
// report by then has it exported by the watchdog instead: what was captured
// until then, a line saying why, and the summary of the devices that can be
// read safely. Exactly one of the two exports. Returns the exit code.
int RunProbe(CMIDIManager& manager, const std::function<void()>& wait,
             const std::function<void(const ReportText&)>& exportReport, const RunDeadline* deadline = nullptr);

// Sleeps for duration, however the platform rounds its sleeps.
void WaitForRun(std::chrono::milliseconds duration);

// The programs' whole run: the console prepared, the run of kRunDuration
// with the watchdog at kRunDeadline, the report to the clipboard (or its
// stand-in), the window kept open when the user must read where the report
// went, the console put back. Returns the exit code, or ends the process at
// once when the console would hold up its end.
int RunTool(CMIDIManager& manager);

// The length of the tool's run.
constexpr std::chrono::milliseconds kRunDuration{5000};

// How long the console may take, once the report is out, to show what is
// left before the program ends anyway.
constexpr std::chrono::milliseconds kConsolePatience{1000};

// When the watchdog stops waiting for a run stuck in a call, from the
// start: the five seconds, plus a start and a stop that are slow but not
// stuck (a service that takes seconds to start; sixteen devices whose
// sends each wait out their 20 busy and 10 release retries, 0.3 s apiece,
// once at the start and again at the end), with room to spare; and well
// within half a minute, which is as long as a user waits before giving up.
constexpr std::chrono::milliseconds kRunDeadline{20000};

} // namespace app
