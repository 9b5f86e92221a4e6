// The run: start every port, let the controllers talk for a while, then put
// the log and the device summary where the user can mail them.
//
// Called on the main thread. Everything MIDI happens meanwhile on the port
// layer's input thread and on activity workers.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "app/report_text.h"

class CMIDIManager;

// What the user mails to support: the captured log, "\r\n\r\n", the summary.
// The log is taken over and extended.
ReportText BuildReport(ReportText capture, CMIDIManager& manager);

// Starts the manager, calls wait, then builds the report, stops the manager
// and hands the report to exportReport. Returns the program's exit code.
int RunProbe(CMIDIManager& manager, const std::function<void()>& wait,
             const std::function<void(const ReportText&)>& exportReport);

// Sleeps for duration, flushing console text that has waited its time
// (console_writer.h) every so often.
void WaitFlushingConsole(std::chrono::milliseconds duration);

// The run as the programs use it: wait for duration, then export the report
// to the clipboard (or its stand-in on this platform).
int RunProbe(CMIDIManager& manager, std::chrono::milliseconds duration);

// The length of the tool's run.
constexpr std::chrono::milliseconds kRunDuration{5000};
