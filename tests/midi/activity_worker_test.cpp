// Activity workers and listeners over a whole run.
#include "midi/activity_worker.h"

#include <gtest/gtest.h>

#include <regex>

#include "midi/port/simulated/controllers/scripted_controller.h"
#include "tests/support/probe_harness.h"
#include "tests/support/recorders.h"

namespace {

using port::sim::ControllerEvent;
using port::sim::ScriptedController;

int Count(const std::string& text, const std::regex& pattern) {
  return static_cast<int>(
      std::distance(std::sregex_iterator(text.begin(), text.end(), pattern), std::sregex_iterator()));
}

TEST(ActivityWorkerRun, EachActiveDeviceNotifiesListenersOnceWithTheWholeList) {
  ConsoleCapture console;
  port::sim::SimulatedService service;
  const std::vector<ControllerEvent> threeNotes = {ControllerEvent::ShortMessage(0x90, 60, 100),
                                                   ControllerEvent::ShortMessage(0x90, 61, 100),
                                                   ControllerEvent::ShortMessage(0x90, 62, 100)};
  service.AddDevice("Keys A", std::make_shared<ScriptedController>(threeNotes));
  service.AddDevice("Keys B", std::make_shared<ScriptedController>(threeNotes));
  service.AddDevice("Quiet", nullptr);
  CMIDIManagerWin manager(service);
  Journal journal;
  RecordingListener listener(journal);
  manager.listeners.push_back(&listener);
  const ProbeRun run = RunOver(service, manager, console);

  int notifications = 0;
  for (const std::string& entry : journal.Entries()) {
    if (entry.rfind("listener OnDevicesChanged", 0) == 0) {
      EXPECT_EQ(entry, "listener OnDevicesChanged 3");
      ++notifications;
    }
  }
  EXPECT_EQ(notifications, 2);
  // Two workers, two marks each; the first mark of the run only arms it.
  EXPECT_EQ(Count(run.report, std::regex("Run Time: [0-9.]+  Interval Time: [0-9.]+\r\n")), 3);
}

TEST(ActivityWorkerRun, SecondMarkComesAtLeast100msAfterTheFirst) {
  ConsoleCapture console;
  port::sim::SimulatedService service;
  service.AddDevice("Keys", std::make_shared<ScriptedController>(
                                std::vector<ControllerEvent>{ControllerEvent::ShortMessage(0x90, 60, 100)}));
  CMIDIManagerWin manager(service);
  const ProbeRun run = RunOver(service, manager, console);
  std::smatch match;
  const std::regex mark("Run Time: ([0-9.]+)  Interval Time: ([0-9.]+)\r\n");
  ASSERT_TRUE(std::regex_search(run.report, match, mark)) << run.report;
  EXPECT_EQ(match[1], match[2]);
  EXPECT_GE(std::stod(match[1]), 0.1);
}

TEST(ActivityWorkerRun, NoListenerAndStoppedManagerNotifyNobody) {
  ConsoleCapture console;
  port::sim::SimulatedService service;
  CMIDIManagerWin manager(service);
  Journal journal;
  RecordingListener listener(journal);
  manager.listeners.push_back(&listener);
  // Empty device list: the worker takes the lock and calls nobody.
  manager.NotifyDevicesChanged();
  EXPECT_TRUE(journal.Entries().empty());
}

TEST(ActivityWorkerShutdown, ManagerDestroyedWhileWorkersSleepEndsThemAtOnce) {
  ConsoleCapture console;
  auto service = std::make_unique<port::sim::SimulatedService>();
  for (int i = 0; i < 8; ++i) {
    service->AddDevice("Keys " + std::to_string(i), std::make_shared<ScriptedController>(std::vector<ControllerEvent>{
                                                        ControllerEvent::ShortMessage(0x90, 60, 100)}));
  }
  auto manager = std::make_unique<CMIDIManagerWin>(*service);
  // However slow the machine, no worker wakes from its pause on its own.
  manager->Workers().SetPause(std::chrono::hours(1));
  manager->Start();
  service->WaitUntilIdle();
  EXPECT_EQ(manager->Workers().Running(), 8);
  // Workers are asleep; the manager goes away under them.
  manager.reset();
  service.reset();
  // Each worker made its first mark (the very first only arms the
  // stopwatch) and none the mark after its sleep.
  EXPECT_EQ(Count(app::logsink::CaptureContents(), std::regex("Run Time")), 7);
}

} // namespace
