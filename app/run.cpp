#include "app/run.h"

#include <thread>

#include "app/log_sink.h"
#include "app/report_export.h"
#include "midi/manager.h"

std::string BuildReport(const std::string& capture, CMIDIManager& manager) {
  std::string summary;
  manager.DescribeDevices(summary);
  std::string report = capture;
  report += "\r\n\r\n";
  report += summary;
  return report;
}

int RunProbe(CMIDIManager& manager, const std::function<void()>& wait,
             const std::function<void(const std::string&)>& exportReport) {
  logsink::BeginCapture();
  manager.Start();
  wait();
  // Whatever is logged after this copy does not reach the report.
  const std::string report = BuildReport(logsink::CaptureContents(), manager);
  manager.Stop();
  exportReport(report);
  return 0;
}

int RunProbe(CMIDIManager& manager, std::chrono::milliseconds duration) {
  return RunProbe(
      manager, [duration] { std::this_thread::sleep_for(duration); }, ExportReport);
}
