#include "app/run.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "app/console_writer.h"
#include "app/log_sink.h"
#include "app/report_export.h"
#include "midi/manager.h"

ReportText BuildReport(ReportText capture, CMIDIManager& manager) {
  std::string summary;
  manager.DescribeDevices(summary);
  ReportText report = std::move(capture);
  report.Append("\r\n\r\n" + summary);
  return report;
}

int RunProbe(CMIDIManager& manager, const std::function<void()>& wait,
             const std::function<void(const ReportText&)>& exportReport) {
  logsink::BeginCapture();
  manager.Start();
  wait();
  // Whatever is logged after this does not reach the report. The capture is
  // taken, not copied: the report is then the only copy of the log.
  const ReportText report = BuildReport(logsink::TakeCapture(), manager);
  manager.Stop();
  exportReport(report);
  logsink::FlushConsole(true);
  return 0;
}

void WaitFlushingConsole(std::chrono::milliseconds duration) {
  const auto end = std::chrono::steady_clock::now() + duration;
  constexpr auto kStep = std::chrono::milliseconds(logsink::kFlushDelayNanoseconds / 1'000'000);
  for (auto now = std::chrono::steady_clock::now(); now < end; now = std::chrono::steady_clock::now()) {
    // Whole milliseconds, rounded up: on Windows a sleep shorter than one
    // returns at once, and the last sliver of the wait would spin.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - now);
    std::this_thread::sleep_for(std::min(kStep, left));
    logsink::FlushConsole(false);
  }
}

int RunProbe(CMIDIManager& manager, std::chrono::milliseconds duration) {
  return RunProbe(manager, [duration] { WaitFlushingConsole(duration); }, ExportReport);
}
