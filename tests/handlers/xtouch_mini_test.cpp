// The X-TOUCH MINI handler: its reset stream, the range its user touched
// last, and the sorting of events by range.
#include "handlers/xtouch_mini.h"

#include <gtest/gtest.h>

#include <memory>

#include "midi/device.h"
#include "midi/port/simulated/controllers/xtouch_mini_controller.h"
#include "tests/support/probe_harness.h"

namespace {

using Bytes = std::vector<uint8_t>;
using port::sim::XTouchMiniController;

// The reset stream from its description: program 1, its controllers 11 to
// 18 at 64 and notes 0 to 15 at velocity 0, then the same for program 0
// with controllers 1 to 8.
Bytes DescribedResetStream() {
  Bytes stream = {0xB0, 0x7F, 0x00};
  for (uint8_t program : {1, 0}) {
    stream.insert(stream.end(), {0xC0, program});
    const uint8_t first = program == 1 ? 11 : 1;
    for (uint8_t controller = first; controller < first + 8; ++controller)
      stream.insert(stream.end(), {0xBA, controller, 0x40});
    for (uint8_t note = 0; note < 16; ++note) stream.insert(stream.end(), {0x90, note, 0x00});
  }
  return stream;
}

TEST(XTouchMiniRun, ControllerGetsTheResetStreamOnceInOneBuffer) {
  ConsoleCapture console;
  port::sim::SimulatedService service;
  auto controller = std::make_shared<XTouchMiniController>();
  service.AddDevice("X-TOUCH MINI", controller);
  CMIDIManagerWin manager(service);
  manager.Start();
  WaitForQuiet(service, manager);

  const port::sim::OutputRecord output = service.Output(0);
  ASSERT_EQ(output.messages.size(), 1u);
  const Bytes& sent = output.messages[0];
  ASSERT_EQ(sent.size(), 151u);
  EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 5), Bytes({0xB0, 0x7F, 0x00, 0xC0, 0x01}));
  EXPECT_EQ(Bytes(sent.end() - 3, sent.end()), Bytes({0x90, 0x0F, 0x00}));
  EXPECT_EQ(sent, DescribedResetStream());
  // The controller took 51 messages from it and was left on program 0.
  EXPECT_EQ(controller->Received().size(), 1u);
  EXPECT_EQ(controller->ShortMessagesReceived(), 51);
  EXPECT_EQ(controller->Layer(), 0);
  EXPECT_EQ(manager.devices.at(0)->handler->GetSysExBufferSize(), 512u);
  // Starting sends, and logs nothing of its own.
  EXPECT_EQ(app::logsink::CaptureContents(), "MIM_OPEN\nMIDI device found: X-TOUCH MINI\n");
  manager.Stop();
}

TEST(XTouchMiniRun, LastNoteOrControlChangeDecidesTheRange) {
  struct Step {
    uint8_t status, data1, data2;
    bool lowerRangeActive;
  };
  const Step steps[] = {
      {0x9A, 24, 0x7F, false}, // note 24: upper
      {0x8A, 23, 0x00, true},  // note-off counts like note-on
      {0xBA, 10, 0x40, false}, // controller 10: upper
      {0xB0, 9, 0x00, true},   // controller 9: lower
      {0x90, 24, 0x00, false}, // velocity 0 is still a note
      {0xBF, 0, 0x7F, true},   {0x9A, 127, 0x7F, false},
      {0xB1, 1, 0x40, false}, // control change on channel 2: not passed on
      {0xE0, 0, 0x40, false}, // pitch bend: not passed on
      {0xBA, 1, 0x80, true},  // a value above 127 still reaches the handler
  };
  ConsoleCapture console;
  port::sim::SimulatedService service;
  auto controller = std::make_shared<XTouchMiniController>();
  service.AddDevice("X-TOUCH MINI", controller);
  CMIDIManagerWin manager(service);
  manager.Start();
  auto* handler = static_cast<CXTouchMini*>(manager.devices.at(0)->handler);
  EXPECT_TRUE(handler->lowerRangeActive);
  for (const Step& step : steps) {
    controller->Send(port::sim::ControllerEvent::ShortMessage(step.status, step.data1, step.data2));
    WaitForQuiet(service, manager);
    EXPECT_EQ(handler->lowerRangeActive, step.lowerRangeActive)
        << std::hex << int(step.status) << " " << std::dec << int(step.data1);
  }
  manager.Stop();
}

TEST(XTouchMini, MapEventsSortsByRangeAndPutsTheTouchedRangeFirst) {
  const MIDIEvent lowerSeed{1, 0, 0, 0};
  const MIDIEvent upperSeed{1, 0, 1, 0};
  struct Case {
    const char* name;
    bool lowerRangeActive;
    std::vector<MIDIEvent> input;
    std::vector<MIDIEvent> output;
  };
  const Case cases[] = {
      {"empty, lower active", true, {}, {lowerSeed}},
      {"empty, upper active", false, {}, {lowerSeed, upperSeed}},
      {"upper controller, lower active", true, {{0, 0, 12, 0}}, {upperSeed, {0, 0, 12, 0}, lowerSeed}},
      {"lower controller, lower active", true, {{0, 0, 5, 0}}, {lowerSeed, {0, 0, 5, 0}}},
      {"upper note, upper active", false, {{1, 0, 40, 0}}, {lowerSeed, upperSeed, {1, 0, 8, 0}}},
      {"controllers 9 and 10 dropped", false, {{0, 0, 9, 1}, {0, 0, 10, 1}}, {lowerSeed, upperSeed}},
      {"notes outside both ranges dropped",
       true,
       {{1, 0, 0, 0}, {1, 0, 7, 0}, {1, 0, 24, 0}, {1, 0, 31, 0}, {1, 0, 48, 0}, {1, 0, 0xFFFFFFFF, 0}},
       {lowerSeed}},
      {"range edges",
       false,
       {{1, 0, 8, 0}, {1, 0, 23, 0}, {1, 0, 32, 0}, {1, 0, 47, 0}, {0, 0, 0, 0}, {0, 0, 8, 0}, {0, 0, 11, 0}},
       {lowerSeed,
        {1, 0, 0, 0},
        {1, 0, 15, 0},
        {0, 0, 0, 0},
        {0, 0, 8, 0},
        upperSeed,
        {1, 0, 0, 0},
        {1, 0, 15, 0},
        {0, 0, 11, 0}}},
      {"controller numbers have no upper bound",
       true,
       {{0, 0, 200, 0}, {0, 0, 0xFFFFFFFF, 0}},
       {upperSeed, {0, 0, 200, 0}, {0, 0, 0xFFFFFFFF, 0}, lowerSeed}},
      {"any non-zero kind is a note, copied out as it is",
       true,
       {{7, 3, 9, -5}, {-1, 0, 33, 2}},
       {upperSeed, {-1, 0, 1, 2}, lowerSeed, {7, 3, 1, -5}}},
      {"input order kept within each list",
       false,
       {{0, 0, 13, 1}, {0, 0, 2, 2}, {0, 0, 12, 3}, {0, 0, 1, 4}},
       {lowerSeed, {0, 0, 2, 2}, {0, 0, 1, 4}, upperSeed, {0, 0, 13, 1}, {0, 0, 12, 3}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CXTouchMini handler;
    handler.lowerRangeActive = c.lowerRangeActive;
    std::vector<MIDIEvent> events = c.input;
    handler.MapEvents(events);
    EXPECT_EQ(events, c.output);
  }
}

} // namespace
