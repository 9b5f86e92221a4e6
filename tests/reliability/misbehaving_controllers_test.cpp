// Misbehaving controllers, each a named scenario run whole: System
// Exclusive that never ends or is far too long, replies that are garbage or
// of the wrong length, replies faster than they can be answered, and device
// text made to drive a terminal. None may crash or hang the run, and each
// report says what the tool makes of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "app/console_text.h"
#include "handlers/bcf2000.h"
#include "handlers/nano_kontrol.h"
#include "midi/device.h"
#include "midi/input.h"
#include "midi/port/simulated/controllers/bc_controller.h"
#include "midi/port/simulated/controllers/scripted_controller.h"
#include "midi/port/simulated/protocol_tables.h"
#include "testkit/controllers/runaway_sysex_controller.h"
#include "testkit/misbehaving_scenes.h"
#include "testkit/scenarios.h"
#include "tests/support/holds_in_order.h"
#include "tests/support/probe_harness.h"
#include "tests/support/recorders.h"

namespace {

using Bytes = std::vector<uint8_t>;

// One run of a named scenario with a listener of the test's own, and a look
// at the device records before the stop forgets them.
struct ScenarioRun {
  explicit ScenarioRun(const std::string& name) {
    EXPECT_TRUE(testkit::BuildScenario(name, service)) << name;
    manager.listeners.push_back(&listener);
    app::RunProbe(
        manager,
        [&] {
          WaitForQuiet(service, manager);
          for (CMIDIDevice* device : manager.devices) devices.push_back(static_cast<CMIDIDeviceWin*>(device));
        },
        [&](const app::ReportText& joined) {
          const std::string text = joined.Joined();
          report = text;
          consoleText = console.Text();
        });
  }
  // What the listener heard, the activity workers' notices left out.
  std::vector<std::string> Heard() {
    std::vector<std::string> heard;
    for (const std::string& entry : journal.Entries()) {
      if (entry.find("OnDevicesChanged") == std::string::npos) heard.push_back(entry);
    }
    return heard;
  }
  int Output(const std::string& name, size_t length) {
    int count = 0;
    for (unsigned index = 0; index < service.OutputCount(); ++index) {
      std::string portName;
      if (service.OutputName(index, portName) != port::kNoError || portName != name) continue;
      for (const Bytes& message : service.Output(index).messages) count += message.size() == length ? 1 : 0;
    }
    return count;
  }

  Journal journal;
  RecordingListener listener{journal};
  ConsoleCapture console;
  port::sim::SimulatedService service;
  CMIDIManagerWin manager{service};
  std::vector<CMIDIDeviceWin*> devices; // in port order; live as long as the manager
  std::string report;
  std::string consoleText;
};

int Count(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

// The bytes of every hex dump in the report whose first bytes are prefix.
std::vector<Bytes> DumpsStartingWith(const std::string& report, const Bytes& prefix) {
  std::vector<Bytes> dumps;
  const std::string heading = "SysEx message received:\r\n{";
  for (size_t at = report.find(heading); at != std::string::npos; at = report.find(heading, at + 1)) {
    Bytes bytes;
    size_t item = at + heading.size();
    unsigned byte = 0;
    while (report.compare(item, 3, " 0x") == 0 && std::sscanf(report.c_str() + item, " 0x%2X,", &byte) == 1) {
      bytes.push_back(static_cast<uint8_t>(byte));
      item += 6;
    }
    if (bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin()))
      dumps.push_back(bytes);
  }
  return dumps;
}

const std::string kDropped = "SysEx message longer than 65535 bytes dropped.\n";

TEST(MisbehavingController, SysExThatNeverEndsSwallowsLaterInputInBoundedMemory) {
  ScenarioRun run("runaway-sysex");
  ASSERT_EQ(run.devices.size(), 2u);
  // Every packet is logged; the message past 65535 bytes is dropped once,
  // and nothing is ever delivered.
  EXPECT_EQ(Count(run.report, "got MIDI: "), (1 + 40000 + 2) + (1 + 1000 + 2));
  EXPECT_EQ(Count(run.report, kDropped), 1);
  EXPECT_EQ(Count(run.report, "SysEx message received:"), 0);
  // Only the notes before the messages were decoded.
  EXPECT_EQ(run.Heard(), (std::vector<std::string>{"listener OnNoteOn 0 60 100", "listener OnNoteOn 0 60 100"}));

  const CMIDIDeviceWin* runaway = run.devices[0];
  EXPECT_TRUE(runaway->sysexInProgress) << "still waiting for the end byte";
  EXPECT_LE(runaway->sysexBuffer.capacity(), kMaxSysExLength + 3) << "assembly must not grow without bound";
  const CMIDIDeviceWin* unfinished = run.devices[1];
  EXPECT_TRUE(unfinished->sysexInProgress);
  EXPECT_EQ(unfinished->sysexBuffer.size(), 3000u + 2 * 3) << "its notes went into the message";
}

TEST(MisbehavingController, OversizedSysExIsDroppedOnceAndDecodingResumesAtItsEnd) {
  ScenarioRun run("oversized-sysex");
  // In packets: dropped once, then the note after its F7 is decoded and the
  // next message delivered.
  EXPECT_EQ(Count(run.report, kDropped), 1);
  EXPECT_TRUE(HoldsInOrder(run.report, {kDropped, "got MIDI: F7 0 0\n", "got MIDI: 90 3C 64\n",
                                        "SysEx message received:\r\n{ 0xF0, 0x01, 0xF7,};\r\n"}));
  EXPECT_EQ(DumpsStartingWith(run.report, {0xF0, 0x01, 0xF7}).size(), 1u);

  // As one long message: the port cuts it into the 512-byte buffer, each
  // part delivered by itself, nothing lost and nothing joined.
  const Bytes message = testkit::RunawaySysExController::Message(100000, true);
  Bytes joined;
  size_t parts = 0;
  for (const Bytes& part : DumpsStartingWith(run.report, {})) {
    if (part == Bytes{0xF0, 0x01, 0xF7}) continue;
    EXPECT_LE(part.size(), 512u);
    joined.insert(joined.end(), part.begin(), part.end());
    ++parts;
  }
  EXPECT_EQ(parts, 196u); // 195 full buffers and 160 bytes
  EXPECT_TRUE(joined == message) << "the long message arrived whole, in order";
  for (unsigned input = 0; input < run.service.InputCount(); ++input) {
    EXPECT_EQ(run.service.Input(input).droppedLongMessages, 0);
  }

  // Both devices went on being heard after the message.
  std::vector<std::string> heard = run.Heard();
  std::sort(heard.begin(), heard.end());
  EXPECT_EQ(heard, (std::vector<std::string>{"listener OnControlChange 0 4 65", "listener OnNoteOn 0 60 100"}));
}

TEST(MisbehavingController, GarbageRepliesLeaveEachDialogueWaitingAndTheBufferCirculating) {
  ScenarioRun run("garbage-replies");
  ASSERT_EQ(run.devices.size(), 2u);
  auto* bc = static_cast<CBCF2000*>(run.devices[0]->handler);
  auto* nano = static_cast<CKorgNanoControl*>(run.devices[1]->handler);
  EXPECT_TRUE(bc->awaitingIdentity);
  EXPECT_EQ(run.devices[0]->name.Get(), "BCF2000");
  EXPECT_EQ(nano->state, CKorgNanoControl::AwaitingScene);
  EXPECT_EQ(run.report.find("Updated device name"), std::string::npos);
  EXPECT_EQ(run.report.find("Bad response"), std::string::npos);
  EXPECT_EQ(run.report.find("current settings are"), std::string::npos);
  // The garbage was heard: each reply became a burst of events.
  EXPECT_GT(Count(run.report, "got MIDI: "), 0);
  EXPECT_GT(Count(run.report, "SysEx message received:"), 0);
  // Whatever came, the long-message buffer was given back every time.
  for (unsigned input = 0; input < run.service.InputCount(); ++input) {
    EXPECT_EQ(run.service.Input(input).droppedLongMessages, 0) << input;
  }
  EXPECT_EQ(run.consoleText.find("midiInAddBuffer"), std::string::npos);
  EXPECT_TRUE(HoldsInOrder(run.report, {"\r\n\r\n\"BCF2000\" Supported by Veltrakon.\r\n",
                                        "\"nanoKONTROL2\" Supported by Veltrakon.\r\n\r\n"}));
}

TEST(MisbehavingController, RepliesOfTheWrongLengthAreJudgedByTheirLength) {
  ScenarioRun run("wrong-length-replies");
  ASSERT_EQ(run.devices.size(), 4u);
  // BCF2000, cut to ten bytes with its end byte kept: an identity reply without a name.
  const auto* bcf = static_cast<CBCF2000*>(run.devices[0]->handler);
  EXPECT_FALSE(bcf->awaitingIdentity);
  EXPECT_EQ(run.devices[0]->name.Get(), "BCF2000");
  EXPECT_EQ(run.devices[0]->modelCode, 'G');
  EXPECT_EQ(Count(run.report, "Bad response, no device name."), 1);
  // BCR2000, stretched: the padding becomes part of its name, shown escaped.
  const std::string stretched = "BCR2000 Stage" + std::string(11, '\x01');
  EXPECT_EQ(run.devices[1]->name.Get(), stretched);
  EXPECT_EQ(run.devices[1]->modelCode, 'H');
  EXPECT_NE(run.report.find("Updated device name: " + stretched), std::string::npos);
  std::string escaped = "Updated device name: BCR2000 Stage";
  for (int i = 0; i < 11; ++i) escaped += "\\x01";
  EXPECT_NE(run.consoleText.find(escaped), std::string::npos);
  // nanoKONTROL2 dumps of 201 and of 604 bytes (two buffers): not a scene.
  for (size_t device : {2u, 3u}) {
    EXPECT_EQ(static_cast<CKorgNanoControl*>(run.devices[device]->handler)->state, CKorgNanoControl::AwaitingScene);
  }
  EXPECT_EQ(run.report.find("current settings are"), std::string::npos);
  std::vector<size_t> dumps;
  for (const Bytes& dump : DumpsStartingWith(run.report, {0xF0, 0x42})) dumps.push_back(dump.size());
  std::sort(dumps.begin(), dumps.end());
  EXPECT_EQ(dumps, (std::vector<size_t>{201, 512}));
  EXPECT_EQ(DumpsStartingWith(run.report, Bytes(5, 0x01)).size(), 1u) << "the rest of the stretched dump";
  EXPECT_TRUE(HoldsInOrder(run.report, {"\r\n\r\n\"BCF2000\" Supported by Veltrakon.\r\n",
                                        "\"" + stretched + "\" Supported by Veltrakon.\r\n"}));
}

TEST(MisbehavingController, RepliesFasterThanTheyCanBeAnsweredAreTakenOneByOne) {
  ScenarioRun run("reply-flood");
  ASSERT_EQ(run.devices.size(), 2u);
  // A thousand identity replies: the first is taken, the rest only logged.
  EXPECT_EQ(DumpsStartingWith(run.report, {0xF0, 0x00, 0x20, 0x32, 0x00, 0x14, 0x02}).size(), 1000u);
  EXPECT_EQ(Count(run.report, "Got identity response"), 1);
  EXPECT_EQ(Count(run.report, "Updated device name: BCF2000 Stage"), 1);
  // Fifty dumps: the first is checked, each later one is an awaited
  // acknowledgement that says something else, a failure, until the tenth
  // ends the dialogue; the image went out ten times and no more.
  const auto* nano = static_cast<CKorgNanoControl*>(run.devices[1]->handler);
  EXPECT_EQ(nano->state, CKorgNanoControl::Failed);
  EXPECT_EQ(nano->retryCount, 10);
  EXPECT_EQ(run.Output("nanoKONTROL2", port::sim::protocol::kNanoKontrolScene.size()), 10);
  EXPECT_EQ(Count(run.report, "current settings are bad!\n"), 1);
  EXPECT_EQ(run.report.find("data upload"), std::string::npos);
  // Each upload was answered fifty times: all of it logged, none lost.
  EXPECT_EQ(DumpsStartingWith(run.report, {0xF0, 0x42, 0x40, 0x00, 0x01, 0x13, 0x00, 0x7F}).size(), 50u);
  EXPECT_EQ(DumpsStartingWith(run.report, {0xF0, 0x42, 0x40, 0x00, 0x01, 0x13, 0x00, 0x5F, 0x23}).size(), 500u);
  // Two busy answers before each of the eleven sends the port took.
  EXPECT_EQ(run.service.Pauses(), std::vector<unsigned>(22, 10));
  EXPECT_EQ(run.report.find("midi send failed!"), std::string::npos);
}

TEST(MisbehavingController, DeviceTextReachesTheConsoleEscapedAndTheReportAsItIs) {
  ScenarioRun run("hostile-names");
  ASSERT_EQ(run.devices.size(), 2u);
  EXPECT_EQ(run.devices[0]->name.Get(), testkit::kHostileIdentityText) << "the name keeps every byte";

  // Nothing written to the terminal can drive it.
  EXPECT_TRUE(app::IsConsoleSafe(run.consoleText.data(), run.consoleText.size()));
  EXPECT_TRUE(HoldsInOrder(run.consoleText, {"MIDI device found: BCF2000 \\x1B[2J\\x1B]0;pwned\\x07\n",
                                             "Updated device name: Stage\\x1B[31m\\x0D\\x086n\\x7F"}));
  EXPECT_NE(run.consoleText.find("MIDI device found: Keyboard \\xC2\\x9B31m\\x0D\\xFF\\xFE\n"), std::string::npos);

  // The report keeps the bytes; the printed name ends at its zero byte.
  const std::string shown =
      "Stage\x1B[31m\r\x08"
      "6n\x7F";
  EXPECT_TRUE(HoldsInOrder(run.report, {std::string("MIDI device found: ") + testkit::kHostileBCPortName + "\n",
                                        "Updated device name: " + shown}));
  EXPECT_NE(run.report.find(std::string("MIDI device found: ") + testkit::kHostileKeyboardPortName + "\n"),
            std::string::npos);
  EXPECT_TRUE(HoldsInOrder(run.report, {"\r\n\r\n\"" + shown + "\" Supported by Veltrakon.\r\n",
                                        std::string("\"") + testkit::kHostileKeyboardPortName + "\"\r\n\r\n"}));
  EXPECT_EQ(run.report.find("hidden"), std::string::npos);
  EXPECT_NE(run.report.find("0x1B, 0x5B, 0x33, 0x31, 0x6D, 0x0D, 0x08, 0x36"), std::string::npos);
}

// Port names and identity text are data, never a format: printf's
// directives in them reach the log and the summary as the characters they
// are (a %n taken as a directive would write through a stray pointer).
TEST(MisbehavingController, PrintfDirectivesInDeviceTextArePlainText) {
  ConsoleCapture console;
  port::sim::SimulatedService service;
  const std::string bcPort = "BCF2000 %s%n%x%%";
  const std::string identity = "Desk %n%s%x%%d";
  const std::string keysPort = "Keys %n %s %x %";
  service.AddDevice(bcPort, std::make_shared<port::sim::BCController>(port::sim::BCController::BCF2000(identity)));
  service.AddDevice(keysPort, std::make_shared<port::sim::ScriptedController>(std::vector<port::sim::ControllerEvent>{
                                  port::sim::ControllerEvent::ShortMessage(0x90, 0x3C, 0x64)}));
  CMIDIManagerWin manager(service);
  const ProbeRun run = RunOver(service, manager, console);
  // The desk's answer may come in before or after the second port is
  // opened: only the order within one device is fixed.
  for (const std::string* text : {&run.report, &run.console}) {
    EXPECT_TRUE(HoldsInOrder(*text, {"MIDI device found: " + bcPort + "\n", "Updated device name: " + identity}))
        << *text;
    EXPECT_NE(text->find("MIDI device found: " + keysPort + "\n"), std::string::npos) << *text;
  }
  EXPECT_TRUE(HoldsInOrder(run.report,
                           {"\r\n\r\n\"" + identity + "\" Supported by Veltrakon.\r\n", "\"" + keysPort + "\"\r\n"}))
      << run.report;
}

} // namespace
