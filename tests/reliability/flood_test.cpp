// Floods: sixteen controllers sending short messages at the USB-MIDI
// full-speed rate for the whole run, some with System Exclusive messages in
// packets and in long buffers between them, while the BCF2000, nanoKONTROL2
// and X-TOUCH MINI dialogues go on.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <string>
#include <string_view>
#include <thread>

#include "midi/listener.h"
#include "testkit/flood.h"
#include "testkit/flood_check.h"
#include "tests/support/console_capture.h"
#include "tests/support/probe_harness.h"

namespace {

namespace flood = testkit::flood;
using std::chrono::milliseconds;

// The sanitizers make every memory access dearer (ThreadSanitizer many
// times so), so the flood there is shorter; the events still come at the
// full rate, and the input path falls behind instead of the stream slowing.
milliseconds FloodDuration() {
#if defined(__SANITIZE_THREAD__)
  return milliseconds(300);
#elif defined(__SANITIZE_ADDRESS__)
  return milliseconds(1000);
#else
  return milliseconds(1500);
#endif
}

// The console of a flood is as long as its report; kept, it would double the
// memory being measured. Counted instead.
class CountingConsole final : public app::logsink::ConsoleWriter {
 public:
  CountingConsole() {
    app::logsink::BeginCapture();
    app::logsink::SetConsoleWriter(this);
  }
  ~CountingConsole() override { app::logsink::SetConsoleWriter(nullptr); }
  // Called on the console's thread with many lines at once; read after
  // DrainConsole, which orders the reads after the writes.
  void Write(const char* text, size_t length) override {
    // Whole logged texts come in each batch, so none is split between two;
    // a line may follow text that did not end its own ("Updated device
    // name: ..."), so every occurrence counts.
    static constexpr std::string_view kLine = "got MIDI: ";
    const std::string_view batch(text, length);
    for (size_t at = batch.find(kLine); at != std::string_view::npos; at = batch.find(kLine, at + kLine.size())) {
      ++shortMessageLines;
    }
  }
  size_t shortMessageLines = 0;
};

int Count(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(Flood, EveryEventIsLoggedOnceInEachDevicesOrderWhileDialoguesGoOn) {
  const milliseconds duration = FloodDuration();
  const flood::Plan plan = flood::FullSpeed(duration);
  ASSERT_EQ(plan.devices.size(), 16u);
  size_t consoleLines = 0;
  std::string report;
  port::sim::SimulatedService service;
  flood::Add(service, plan);
  {
    CountingConsole console;
    CMIDIManagerWin manager(service);
    app::RunProbe(
        manager, [&] { WaitForQuiet(service, manager); },
        [&](const app::ReportText& joined) { report = joined.Joined(); });
    for (unsigned input = 0; input < service.InputCount(); ++input) {
      EXPECT_EQ(service.Input(input).droppedLongMessages, 0) << input;
    }
    for (unsigned output = 0; output < service.OutputCount(); ++output) {
      std::string name;
      ASSERT_EQ(service.OutputName(output, name), port::kNoError);
      if (name == "X-TOUCH MINI") {
        EXPECT_EQ(service.Output(output).messages.size(), 1u) << "one reset stream";
      }
    }
    app::logsink::DrainConsole(std::chrono::seconds(60));
    consoleLines = console.shortMessageLines;
  }

  const flood::Tally tally = flood::CheckText(report, plan);
  EXPECT_TRUE(tally.Exact()) << flood::Describe(tally);
  EXPECT_EQ(static_cast<size_t>(Count(report, "got MIDI: ")), consoleLines)
      << "the console shows what the report holds";

  // The dialogues went on between the flood's events.
  EXPECT_EQ(Count(report, "Updated device name: BCF2000 under flood"), 1);
  const size_t bad = report.find("current settings are bad!\n");
  ASSERT_NE(bad, std::string::npos);
  EXPECT_NE(report.find("data upload success!\n", bad), std::string::npos);
  EXPECT_NE(report.find("\"BCF2000 under flood\" Supported by Veltrakon.\r\n"), std::string::npos);
  EXPECT_NE(report.find("\"Flood Keyboard 15\"\r\n"), std::string::npos);
  // Time and memory under a flood are the benchmarks' (docs/performance.md).
}

// Counts each channel's messages as the decoder hands them on, after their
// lines were logged.
class NoteCounter final : public CMIDIListener {
 public:
  void OnControlChange(CMIDIDevice*, uint8_t channel, uint8_t, uint8_t) override { ++messages[channel]; }
  void OnNoteOn(CMIDIDevice*, uint8_t channel, uint8_t, uint8_t) override { ++messages[channel]; }
  void OnNoteOff(CMIDIDevice*, uint8_t channel, uint8_t, uint8_t) override { ++messages[channel]; }
  void OnPitchBend(CMIDIDevice*, uint8_t channel, uint16_t) override { ++messages[channel]; }
  void OnDevicesChanged(const std::vector<CMIDIDevice*>&) override {}
  bool EveryChannelHas(uint32_t count, size_t channels = 16) const {
    for (size_t channel = 0; channel < channels; ++channel) {
      if (messages[channel] < count) return false;
    }
    return true;
  }

 private:
  std::array<std::atomic<uint32_t>, 16> messages{};
};

// The tool's own run, its report taken once every one of the first
// `channels` channels has been heard `count` times, however slow the build;
// then the stopped ports have ended their streams and nothing is left to
// deliver.
std::string ReportOnceEveryChannelHas(port::sim::SimulatedService& service, uint32_t count, size_t channels) {
  std::string report;
  CMIDIManagerWin manager(service);
  NoteCounter counter;
  manager.listeners.push_back(&counter);
  app::RunProbe(
      manager,
      [&] {
        while (!counter.EveryChannelHas(count, channels)) std::this_thread::sleep_for(milliseconds(1));
      },
      [&](const app::ReportText& joined) { report = joined.Joined(); });
  service.WaitUntilIdle();
  manager.Workers().WaitUntilNoneRunning();
  return report;
}

// The tool's own run takes the report while the controllers go on sending:
// the report and the stop must not wait for the flood (an endless one: a run
// that waited would never end), and the report must hold an unbroken
// beginning of every stream.
TEST(Flood, RunEndsOnTimeWhileTheFloodGoesOn) {
  flood::Plan plan = flood::FullSpeed(milliseconds(0));
  plan.eventsPerDevice = 0; // until the port is stopped
  port::sim::SimulatedService service;
  flood::Add(service, plan);
  constexpr uint32_t kHeard = 200;
  std::string report;
  {
    CountingConsole console;
    report = ReportOnceEveryChannelHas(service, kHeard, plan.devices.size());
  }
  ASSERT_NE(report.rfind("\r\n\r\n\"Midi Fighter Twister 1\""), std::string::npos) << "the summary is there";
  const flood::Tally tally = flood::CheckText(report, plan);
  EXPECT_TRUE(tally.Unbroken()) << flood::Describe(tally);
  for (size_t device = 0; device < plan.devices.size(); ++device) {
    EXPECT_GE(tally.devices[device].logged, kHeard) << "device " << device;
  }
}

// Four controllers, each on a delivery thread of its own as on the current
// Windows service, send on through the stop: what the service delivered
// before it stopped a port is all on the console, and all in the report but
// what came while the report was being taken; each stream unbroken.
TEST(Flood, WhatCameBeforeTheStopIsLoggedUnbrokenWhileTheFloodGoesOn) {
  const flood::Plan plan = flood::ThroughTheStop();
  port::sim::SimulatedService service(port::sim::ServiceModel::CurrentWindows());
  flood::Add(service, plan);
  constexpr uint32_t kHeard = 200;
  ConsoleCapture console;
  const std::string report = ReportOnceEveryChannelHas(service, kHeard, plan.devices.size());
  std::vector<uint32_t> delivered;
  for (unsigned input = 0; input < service.InputCount(); ++input) {
    delivered.push_back(static_cast<uint32_t>(service.Input(input).deliveredBeforeStop));
    EXPECT_EQ(service.Input(input).droppedLongMessages, 0) << "every long message found a buffer";
  }
  // The report is taken a moment before the stop: what came in that moment
  // is on the console only. A generous bound, for a loaded machine.
  const flood::StopCheck check = flood::CheckThroughTheStop(report, console.Text(), delivered, 250);
  EXPECT_TRUE(check.passed) << check.description;
  EXPECT_EQ(Count(report, "lost"), 0);
}

} // namespace
