#include "app/run.h"

#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "app/console_setup.h"
#include "app/log_sink.h"
#include "app/log_texts.h"
#include "app/report_export.h"
#include "app/watchdog.h"
#include "midi/manager.h"

namespace app {

namespace {

// How long the watchdog waits for listLock, held by the stuck call perhaps,
// before it describes the devices without it.
constexpr std::chrono::milliseconds kListPatience{1000};
// How long the watchdog lets an export the run has begun go on before it
// gives up: the clipboard's own retries take about a second.
constexpr std::chrono::milliseconds kExportPatience{5000};

ReportText Assemble(ReportText capture, const std::string& summary) {
  ReportText report = std::move(capture);
  report.Append("\r\n\r\n" + summary);
  return report;
}

// Who exports the report, the run or the watchdog, and how far each got.
// Its lock is never held across anything that could block.
class Handover {
 public:
  enum class Stage { Running, Building, Built, ExportingByRun, TakenByWatchdog, Done };

  // The run has waited: true when it may build the report (the watchdog
  // has not taken over).
  bool RunBuilds() {
    std::lock_guard<std::mutex> guard(lock);
    if (stage != Stage::Running) return false;
    stage = Stage::Building;
    return true;
  }
  void RunBuilt(std::shared_ptr<const ReportText> report) {
    std::lock_guard<std::mutex> guard(lock);
    built = std::move(report);
    stage = Stage::Built;
    changed.notify_all();
  }
  // True when the run exports the report it built.
  bool RunExports() {
    std::lock_guard<std::mutex> guard(lock);
    if (stage != Stage::Built) return false;
    stage = Stage::ExportingByRun;
    return true;
  }
  void RunExported() {
    std::lock_guard<std::mutex> guard(lock);
    stage = Stage::Done;
    changed.notify_all();
  }
  // The watchdog: whether to build a report of its own (the run never got
  // to it), export the run's (the run is stuck after building it), end a
  // run whose export does not end, or do nothing (the run is done).
  enum class Take { Build, ExportBuilt, GiveUp, Nothing };
  Take WatchdogTakes(std::shared_ptr<const ReportText>& report) {
    std::unique_lock<std::mutex> guard(lock);
    // Building takes no lock a stuck call could hold; it ends soon.
    changed.wait(guard, [this] { return stage != Stage::Building; });
    switch (stage) {
      case Stage::Running:
        stage = Stage::TakenByWatchdog;
        return Take::Build;
      case Stage::Built:
        stage = Stage::TakenByWatchdog;
        report = built;
        return Take::ExportBuilt;
      case Stage::ExportingByRun:
        // A clipboard that does not let go; give it its time, no more.
        if (changed.wait_for(guard, kExportPatience, [this] { return stage == Stage::Done; })) return Take::Nothing;
        return Take::GiveUp;
      default:
        return Take::Nothing;
    }
  }

 private:
  std::mutex lock;
  std::condition_variable changed;
  Stage stage = Stage::Running;
  std::shared_ptr<const ReportText> built;
};

} // namespace

ReportText BuildReport(CMIDIManager& manager) {
  manager.LogLostEvents();
  // Taken, not copied: the report is then the only copy of the log.
  ReportText capture = logsink::TakeCapture();
  std::string summary;
  manager.DescribeDevices(summary);
  return Assemble(std::move(capture), summary);
}

int RunProbe(CMIDIManager& manager, const std::function<void()>& wait,
             const std::function<void(const ReportText&)>& exportReport, const RunDeadline* deadline) {
  logsink::BeginCapture();
  Handover handover;
  std::unique_ptr<Watchdog> watchdog;
  if (deadline != nullptr) {
    watchdog = std::make_unique<Watchdog>(deadline->after, [&manager, &handover, &exportReport, deadline] {
      std::shared_ptr<const ReportText> report;
      switch (handover.WatchdogTakes(report)) {
        case Handover::Take::Build: {
          const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(deadline->after).count();
          LogPrintf(logtext::kGaveUp, static_cast<unsigned>(seconds));
          // A lock the stuck call holds is waited for once, not twice.
          const bool listFree = manager.LogLostEventsWithin(kListPatience);
          ReportText capture = logsink::TakeCapture();
          std::string summary;
          manager.DescribeDevicesWithin(summary, listFree ? kListPatience : std::chrono::milliseconds(0));
          exportReport(Assemble(std::move(capture), summary));
          break;
        }
        case Handover::Take::ExportBuilt:
          exportReport(*report);
          break;
        case Handover::Take::GiveUp:
          break;
        case Handover::Take::Nothing:
          return; // the run got there after all
      }
      deadline->giveUp();
    });
  }

  manager.Start();
  wait();
  if (handover.RunBuilds()) {
    auto report = std::make_shared<const ReportText>(BuildReport(manager));
    handover.RunBuilt(report);
    manager.Stop();
    if (handover.RunExports()) {
      exportReport(*report);
      handover.RunExported();
    }
  }
  // Stands the watchdog down, or waits for the export it has begun.
  watchdog.reset();
  // The report is out; the console gets a moment to catch up, and no more.
  logsink::DrainConsole(kConsolePatience);
  return 0;
}

void WaitForRun(std::chrono::milliseconds duration) {
  const auto end = std::chrono::steady_clock::now() + duration;
  for (auto now = std::chrono::steady_clock::now(); now < end; now = std::chrono::steady_clock::now()) {
    // Whole milliseconds, rounded up: on Windows a sleep shorter than one
    // returns at once, and the last sliver of the wait would spin.
    std::this_thread::sleep_for(std::chrono::ceil<std::chrono::milliseconds>(end - now));
  }
}

namespace {

// Ends the process at once: what hangs (a driver call, the console, a lock
// the manager's destructor would wait for) is not waited for.
[[noreturn]] void EndNow(int code) {
  RestoreConsole();
  std::_Exit(code);
}

} // namespace

int RunTool(CMIDIManager& manager) {
  PrepareConsole();
  ReportPlace place = ReportPlace::Nowhere;
  const RunDeadline deadline{kRunDeadline, [] {
                               logsink::DrainConsole(kConsolePatience);
                               EndNow(0);
                             }};
  const int code = RunProbe(
      manager, [] { WaitForRun(kRunDuration); }, [&place](const ReportText& report) { place = ExportReport(report); },
      &deadline);
  if (ShouldWaitForKey(place, ConsoleOfItsOwn())) WaitForKey();
  // Standard output is flushed as the process exits normally, which would
  // wait for a console that does not take it.
  if (logsink::ConsoleStuck()) EndNow(code);
  RestoreConsole();
  return code;
}

} // namespace app
