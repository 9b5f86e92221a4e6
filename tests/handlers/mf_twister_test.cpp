// The Midi Fighter Twister: a handler that only gives its device a
// long-message buffer.
#include "handlers/mf_twister.h"

#include <gtest/gtest.h>

#include <memory>
#include <regex>

#include "midi/device.h"
#include "midi/port/simulated/controllers/twister_controller.h"
#include "tests/support/probe_harness.h"

namespace {

using port::sim::TwisterController;

TEST(MFTwisterRun, TwisterIsSentNothingAndItsMessagesAreOnlyLogged) {
  std::vector<port::sim::ControllerEvent> script = {TwisterController::Encoder(3, 70)};
  for (const port::sim::ControllerEvent& event : TwisterController::Push(3)) script.push_back(event);
  script.push_back(port::sim::ControllerEvent::SysExMessage({0xF0, 0x00, 0x01, 0x02, 0xF7}));
  script.push_back(port::sim::ControllerEvent::ShortMessage(0x90, 0x10, 0x7F));
  auto controller = std::make_shared<TwisterController>(script);

  ConsoleCapture console;
  port::sim::SimulatedService service;
  service.AddDevice("Midi Fighter Twister", controller);
  CMIDIManagerWin manager(service);
  const ProbeRun run = RunOver(service, manager, console);

  const port::sim::OutputRecord output = service.Output(0);
  EXPECT_EQ(output.prepareCalls, 0);
  EXPECT_EQ(output.sendCalls, 0);
  EXPECT_TRUE(controller->Received().empty());
  // With its handler's 512-byte buffer the System Exclusive message is
  // delivered and logged; nothing else follows any message.
  const std::regex stopwatch("Run Time: [0-9.]+  Interval Time: [0-9.]+\r\n");
  EXPECT_EQ(std::regex_replace(run.report, stopwatch, ""),
            "MIM_OPEN\n"
            "MIDI device found: Midi Fighter Twister\n"
            "got MIDI: B0 3 46\n"
            "got MIDI: B1 3 7F\n"
            "got MIDI: B1 3 0\n"
            "SysEx message received:\r\n"
            "{ 0xF0, 0x00, 0x01, 0x02, 0xF7,};\r\n"
            "got MIDI: 90 10 7F\n"
            "\r\n\r\n"
            "\"Midi Fighter Twister\" Supported by Veltrakon.\r\n"
            "\r\n");
}

} // namespace
