#include "app/run.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "app/console_writer.h"
#include "app/log_sink.h"
#include "app/report_export.h"
#include "midi/manager.h"

namespace {

// Room left after the captured log for "\r\n\r\n" and the device summary
// (a line of at most some 60 bytes per device), so that appending them does
// not move the report, which may be tens of megabytes after a busy run.
constexpr size_t kSummaryRoom = 64 * 1024;

} // namespace

std::string BuildReport(std::string capture, CMIDIManager& manager) {
  std::string summary;
  manager.DescribeDevices(summary);
  std::string report = std::move(capture);
  report += "\r\n\r\n";
  report += summary;
  return report;
}

int RunProbe(CMIDIManager& manager, const std::function<void()>& wait,
             const std::function<void(const std::string&)>& exportReport) {
  logsink::BeginCapture();
  manager.Start();
  wait();
  // Whatever is logged after this does not reach the report. The capture is
  // taken, not copied: the report is then the only whole copy of the log.
  const std::string report = BuildReport(logsink::TakeCapture(kSummaryRoom), manager);
  manager.Stop();
  exportReport(report);
  logsink::FlushConsole(true);
  return 0;
}

void WaitFlushingConsole(std::chrono::milliseconds duration) {
  const auto end = std::chrono::steady_clock::now() + duration;
  constexpr std::chrono::nanoseconds kStep{logsink::kFlushDelayNanoseconds};
  for (auto now = std::chrono::steady_clock::now(); now < end; now = std::chrono::steady_clock::now()) {
    std::this_thread::sleep_for(std::min<std::chrono::nanoseconds>(kStep, end - now));
    logsink::FlushConsole(false);
  }
}

int RunProbe(CMIDIManager& manager, std::chrono::milliseconds duration) {
  return RunProbe(manager, [duration] { WaitFlushingConsole(duration); }, ExportReport);
}
