// The input path: the callback's six events, short-message decoding, System
// Exclusive assembly and the start of the activity worker.
#include "midi/input.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "midi/device.h"
#include "midi/manager.h"
#include "midi/port/simulated/simulated_service.h"
#include "tests/support/console_capture.h"
#include "tests/support/recorders.h"

namespace {

using port::sim::ControllerEvent;

std::atomic<int> workersStarted{0};
// Worker bodies are kept and run only when the bench closes the workers, so
// no stopwatch line lands in the log while a test looks at it.
std::vector<std::function<void()>> deferredWorkers;
bool CountingStarter(std::function<void()>&& body) {
  ++workersStarted;
  deferredWorkers.push_back(std::move(body));
  return true;
}
bool FailingStarter(std::function<void()>&& /*body*/) {
  ++workersStarted;
  return false;
}

// One device record over a simulated port, with a recording handler (or
// none) and a recording listener; events go straight into the callback on
// the test's thread, or through the service's own thread with Inject.
struct InputBench {
  explicit InputBench(bool withHandler = true) {
    workersStarted = 0;
    manager.Workers().SetThreadStarter(CountingStarter);
    manager.listeners.push_back(&listener);
    input = service.AddInput("Port A");
    device = std::make_unique<CMIDIDeviceWin>(manager, service);
    EXPECT_EQ(service.OpenInput(input, MidiInProc, Context(), device->inputHandle), port::kNoError);
    if (withHandler) {
      device->handler = &handler;
      handler.device = device.get();
    }
    device->StartInput();
    console.reset(new ConsoleCapture); // forget the open
  }
  ~InputBench() {
    service.DetachInput(device->inputHandle);
    service.Shutdown();
    manager.Workers().Close();
    for (auto& body : deferredWorkers) body();
    deferredWorkers.clear();
  }
  uintptr_t Context() { return reinterpret_cast<uintptr_t>(device.get()); }
  void Event(uint32_t message, uintptr_t param1 = 0) { MidiInProc(device->inputHandle, message, Context(), param1, 0); }
  void Short(uint8_t status, uint8_t data1, uint8_t data2) {
    Event(port::kEventData, port::sim::ShortWord(status, data1, data2));
  }
  void Packets(std::initializer_list<std::array<uint8_t, 3>> packets) {
    for (const auto& packet : packets) Short(packet[0], packet[1], packet[2]);
  }

  Journal journal;
  RecordingHandler handler{journal};
  RecordingListener listener{journal};
  port::sim::SimulatedService service;
  CMIDIManagerWin manager{service};
  unsigned input = 0;
  std::unique_ptr<CMIDIDeviceWin> device;
  std::unique_ptr<ConsoleCapture> console;
};

struct DecodeCase {
  std::array<uint8_t, 3> packet;
  const char* logLine;
  std::vector<std::string> heard; // handler first, then the listener
};

TEST(Decoder, ShortMessagesReachHandlerThenListenersByChannelRules) {
  const DecodeCase cases[] = {
      {{0x90, 0x3C, 0x64}, "got MIDI: 90 3C 64\n", {"handler OnNote 60", "listener OnNoteOn 0 60 100"}},
      {{0x80, 0x3C, 0x00}, "got MIDI: 80 3C 0\n", {"handler OnNote 60", "listener OnNoteOff 0 60 0"}},
      // Velocity 0 stays a note on.
      {{0x90, 0x3C, 0x00}, "got MIDI: 90 3C 0\n", {"handler OnNote 60", "listener OnNoteOn 0 60 0"}},
      {{0x9F, 0x10, 0x7F}, "got MIDI: 9F 10 7F\n", {"handler OnNote 16", "listener OnNoteOn 15 16 127"}},
      {{0x8A, 0x00, 0x40}, "got MIDI: 8A 0 40\n", {"handler OnNote 0", "listener OnNoteOff 10 0 64"}},
      // Control change only on channels 1, 11 and 16.
      {{0xB0, 0x07, 0x64},
       "got MIDI: B0 7 64\n",
       {"handler OnControlChange 7 100", "listener OnControlChange 0 7 100"}},
      {{0xBA, 0x01, 0x02}, "got MIDI: BA 1 2\n", {"handler OnControlChange 1 2", "listener OnControlChange 10 1 2"}},
      {{0xBF, 0x7F, 0x7F},
       "got MIDI: BF 7F 7F\n",
       {"handler OnControlChange 127 127", "listener OnControlChange 15 127 127"}},
      {{0xB1, 0x07, 0x64}, "got MIDI: B1 7 64\n", {}},
      {{0xB9, 0x07, 0x64}, "got MIDI: B9 7 64\n", {}},
      {{0xBB, 0x07, 0x64}, "got MIDI: BB 7 64\n", {}},
      {{0xBE, 0x07, 0x64}, "got MIDI: BE 7 64\n", {}},
      // A value above 127 reaches the handler only.
      {{0xB0, 0x07, 0x80}, "got MIDI: B0 7 80\n", {"handler OnControlChange 7 128"}},
      // Pitch bend: listeners only, 14-bit value.
      {{0xE0, 0x00, 0x40}, "got MIDI: E0 0 40\n", {"listener OnPitchBend 0 8192"}},
      {{0xE0, 0x7F, 0x7F}, "got MIDI: E0 7F 7F\n", {"listener OnPitchBend 0 16383"}},
      {{0xE5, 0x01, 0x00}, "got MIDI: E5 1 0\n", {"listener OnPitchBend 5 1"}},
      // Everything else is logged and ignored.
      {{0xC0, 0x05, 0x00}, "got MIDI: C0 5 0\n", {}},
      {{0xD3, 0x40, 0x00}, "got MIDI: D3 40 0\n", {}},
      {{0xA0, 0x3C, 0x10}, "got MIDI: A0 3C 10\n", {}},
      {{0xF8, 0x00, 0x00}, "got MIDI: F8 0 0\n", {}},
      {{0xFE, 0x00, 0x00}, "got MIDI: FE 0 0\n", {}},
      {{0xF7, 0x00, 0x00}, "got MIDI: F7 0 0\n", {}},
  };
  for (const DecodeCase& c : cases) {
    InputBench bench;
    bench.Short(c.packet[0], c.packet[1], c.packet[2]);
    EXPECT_EQ(app::logsink::CaptureContents(), c.logLine);
    EXPECT_EQ(bench.journal.Entries(), c.heard) << c.logLine;
    EXPECT_EQ(bench.service.KeepAwakeCalls(), 1) << c.logLine;
  }
}

TEST(Decoder, DeviceWithoutHandlerStillServesListeners) {
  InputBench bench(false);
  bench.Short(0xB0, 0x07, 0x80);
  bench.Short(0x90, 0x3C, 0x64);
  EXPECT_EQ(bench.journal.Entries(), (std::vector<std::string>{"listener OnNoteOn 0 60 100"}));
}

struct AssemblyCase {
  const char* what;
  std::vector<std::array<uint8_t, 3>> packets;
  std::vector<std::vector<uint8_t>> delivered;
  std::vector<std::string> heard;
};

TEST(Assembly, PacketsBecomeWholeMessages) {
  const AssemblyCase cases[] = {
      {"two packets",
       {{0xF0, 0x7E, 0x7F}, {0x06, 0x01, 0xF7}},
       {{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}},
       {"handler OnSysEx 6"}},
      {"byte after the end is kept",
       {{0xF0, 0x7E, 0x7F}, {0x06, 0xF7, 0x00}},
       {{0xF0, 0x7E, 0x7F, 0x06, 0xF7, 0x00}},
       {"handler OnSysEx 6"}},
      {"one packet, then decoding again",
       {{0xF0, 0x01, 0xF7}, {0x90, 0x3C, 0x64}},
       {{0xF0, 0x01, 0xF7}},
       {"handler OnSysEx 3", "handler OnNote 60", "listener OnNoteOn 0 60 100"}},
      {"notes are swallowed while assembling",
       {{0xF0, 0x01, 0x02}, {0x90, 0x3C, 0x64}, {0xB0, 0x07, 0x64}, {0xF7, 0x00, 0x00}},
       {{0xF0, 0x01, 0x02, 0x90, 0x3C, 0x64, 0xB0, 0x07, 0x64, 0xF7, 0x00, 0x00}},
       {"handler OnSysEx 12"}},
      {"a start inside a message is data",
       {{0xF0, 0x01, 0x02}, {0xF0, 0x03, 0xF7}},
       {{0xF0, 0x01, 0x02, 0xF0, 0x03, 0xF7}},
       {"handler OnSysEx 6"}},
  };
  for (const AssemblyCase& c : cases) {
    InputBench bench;
    for (const auto& packet : c.packets) bench.Short(packet[0], packet[1], packet[2]);
    EXPECT_EQ(bench.handler.sysex, c.delivered) << c.what;
    EXPECT_EQ(bench.journal.Entries(), c.heard) << c.what;
    EXPECT_FALSE(bench.device->sysexInProgress) << c.what;
    EXPECT_TRUE(bench.device->sysexBuffer.empty()) << c.what;
  }
}

TEST(Assembly, DeliveryIsLoggedAsLineAndHexDump) {
  InputBench bench;
  bench.Packets({{0xF0, 0x7E, 0x7F}, {0x06, 0x01, 0xF7}});
  EXPECT_EQ(app::logsink::CaptureContents(),
            "got MIDI: F0 7E 7F\ngot MIDI: 6 1 F7\n"
            "SysEx message received:\r\n{ 0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7,};\r\n");
}

// Feeds a message of F0 plus filler packets so that the packet holding the
// F7 brings the buffer to exactly totalLength bytes.
void FeedMessageOfLength(InputBench& bench, size_t totalLength) {
  ASSERT_EQ(totalLength % 3, 0u);
  bench.Short(0xF0, 0x00, 0x00);
  for (size_t length = 3; length + 3 < totalLength; length += 3) bench.Short(0x01, 0x02, 0x03);
  bench.Short(0x04, 0x05, 0xF7);
}

TEST(Assembly, LongestDeliverableMessageKeepsItsLength) {
  InputBench bench;
  FeedMessageOfLength(bench, 65535);
  ASSERT_EQ(bench.handler.sysex.size(), 1u);
  EXPECT_EQ(bench.handler.sysex[0].size(), 65535u);
  EXPECT_EQ(bench.handler.sysex[0].back(), 0xF7);
}

TEST(Assembly, OversizedMessageIsDroppedAndDecodingResumesAtItsEnd) {
  InputBench bench;
  bench.Short(0xF0, 0x00, 0x00);
  for (int i = 0; i < 30000; ++i) bench.Short(0x01, 0x02, 0x03); // 90003 bytes, no end yet
  EXPECT_FALSE(bench.device->sysexBuffer.capacity() > 70000) << "assembly must not keep growing";
  bench.Short(0x04, 0xF7, 0x00);
  bench.Short(0x90, 0x3C, 0x64);
  EXPECT_TRUE(bench.handler.sysex.empty());
  EXPECT_EQ(bench.journal.Entries(), (std::vector<std::string>{"handler OnNote 60", "listener OnNoteOn 0 60 100"}));
  const std::string log = app::logsink::CaptureContents();
  const std::string dropped = "SysEx message longer than 65535 bytes dropped.\n";
  ASSERT_NE(log.find(dropped), std::string::npos);
  EXPECT_EQ(log.find(dropped), log.rfind(dropped)) << "dropped once";
  EXPECT_EQ(log.find("SysEx message received:"), std::string::npos);
}

TEST(Assembly, MessageThatEndsJustPastTheLimitIsDropped) {
  InputBench bench;
  FeedMessageOfLength(bench, 65538);
  EXPECT_TRUE(bench.handler.sysex.empty());
  EXPECT_FALSE(bench.device->sysexInProgress);
  bench.Packets({{0xF0, 0x01, 0xF7}});
  EXPECT_EQ(bench.handler.sysex.size(), 1u);
}

TEST(ActivityWorker, FirstShortMessageOfAnyKindStartsExactlyOne) {
  InputBench bench;
  bench.Short(0xFE, 0x00, 0x00);
  EXPECT_EQ(workersStarted, 1);
  EXPECT_TRUE(bench.device->workerStarted);
  bench.Short(0x90, 0x3C, 0x64);
  bench.Packets({{0xF0, 0x01, 0x02}, {0x03, 0xF7, 0x00}});
  EXPECT_EQ(workersStarted, 1);
}

TEST(ActivityWorker, LongMessagesAloneStartNone) {
  InputBench bench;
  bench.service.Inject(bench.input, ControllerEvent::SysExMessage({0xF0, 0x01, 0xF7}));
  bench.service.WaitUntilIdle();
  EXPECT_EQ(workersStarted, 0);
  EXPECT_FALSE(bench.device->workerStarted);
}

TEST(ActivityWorker, FailedThreadStartLeavesFlagClearAndIsTriedAgain) {
  InputBench bench;
  bench.manager.Workers().SetThreadStarter(FailingStarter);
  bench.Short(0x90, 0x3C, 0x64);
  EXPECT_FALSE(bench.device->workerStarted);
  bench.Short(0x90, 0x3C, 0x64);
  EXPECT_EQ(workersStarted, 2);
  EXPECT_EQ(bench.manager.Workers().Running(), 0);
  // Decoding went on regardless.
  EXPECT_EQ(bench.journal.Entries().size(), 4u);
}

TEST(Callback, EventsAreLoggedByKind) {
  struct Case {
    uint32_t message;
    const char* log;
  };
  const Case cases[] = {
      {port::kEventOpen, "MIM_OPEN\n"},
      {port::kEventClose, "MIM_CLOSE\n"},
      {port::kEventError, "MIM_ERROR\n"},
      {port::kEventMoreData, ""},
      {0x3C7, ""},
      {0, ""},
  };
  for (const Case& c : cases) {
    InputBench bench;
    bench.Event(c.message, port::sim::ShortWord(0x90, 0x3C, 0x64));
    EXPECT_EQ(app::logsink::CaptureContents(), c.log) << std::hex << c.message;
    EXPECT_TRUE(bench.journal.Entries().empty());
    // An invalid short message is not decoded and keeps nobody awake.
    EXPECT_EQ(bench.service.KeepAwakeCalls(), 0);
    EXPECT_FALSE(bench.device->workerStarted);
  }
}

TEST(Callback, LongMessageIsDeliveredAndBufferGivenBack) {
  InputBench bench;
  bench.service.Inject(bench.input, ControllerEvent::SysExMessage({0xF0, 0x42, 0x01, 0xF7}));
  bench.service.WaitUntilIdle();
  EXPECT_EQ(bench.handler.sysex, (std::vector<std::vector<uint8_t>>{{0xF0, 0x42, 0x01, 0xF7}}));
  EXPECT_EQ(app::logsink::CaptureContents(), "SysEx message received:\r\n{ 0xF0, 0x42, 0x01, 0xF7,};\r\n");
  EXPECT_NE(bench.device->inputHeader.dwFlags & port::kHeaderInQueue, 0u);
}

TEST(Callback, MessageLongerThanTheBufferComesInSeparateDeliveries) {
  InputBench bench;
  std::vector<uint8_t> message(1000, 0x11);
  message.front() = 0xF0;
  message.back() = 0xF7;
  bench.service.Inject(bench.input, ControllerEvent::SysExMessage(message));
  bench.service.WaitUntilIdle();
  ASSERT_EQ(bench.handler.sysex.size(), 2u);
  EXPECT_EQ(bench.handler.sysex[0], std::vector<uint8_t>(message.begin(), message.begin() + 512));
  EXPECT_EQ(bench.handler.sysex[1], std::vector<uint8_t>(message.begin() + 512, message.end()));
}

TEST(Callback, EmptyAndBrokenLongMessagesAreNotDeliveredButBufferReturns) {
  InputBench bench;
  ControllerEvent empty = ControllerEvent::SysExMessage({});
  ControllerEvent broken;
  broken.kind = ControllerEvent::Kind::InvalidLong;
  broken.bytes = {0xF0, 0x01};
  bench.service.Inject(bench.input, empty);
  bench.service.Inject(bench.input, broken);
  bench.service.Inject(bench.input, ControllerEvent::SysExMessage({0xF0, 0x02, 0xF7}));
  bench.service.WaitUntilIdle();
  EXPECT_EQ(app::logsink::CaptureContents(), "MIM_LONGERROR\nSysEx message received:\r\n{ 0xF0, 0x02, 0xF7,};\r\n");
  EXPECT_EQ(bench.handler.sysex.size(), 1u);
}

TEST(Callback, FailedGiveBackIsPrintedAndLaterSysExIsDropped) {
  InputBench bench;
  port::sim::InputFaults faults;
  // Rebuild the bench's port with a give-back that fails after the first queueing.
  port::sim::SimulatedService service;
  faults.addBuffer = port::sim::ResultScript({port::kNoError, port::kInvalParam}, port::kNoError);
  const unsigned input = service.AddInput("Port B", std::move(faults));
  CMIDIDeviceWin device(bench.manager, service);
  ASSERT_EQ(service.OpenInput(input, MidiInProc, reinterpret_cast<uintptr_t>(&device), device.inputHandle), 0u);
  device.handler = &bench.handler;
  device.StartInput();
  ConsoleCapture console;
  service.Inject(input, ControllerEvent::SysExMessage({0xF0, 0x01, 0xF7}));
  service.Inject(input, ControllerEvent::SysExMessage({0xF0, 0x02, 0xF7}));
  service.WaitUntilIdle();
  EXPECT_EQ(bench.handler.sysex.size(), 1u);
  EXPECT_EQ(service.Input(input).droppedLongMessages, 1);
  EXPECT_EQ(console.Text(), "SysEx message received:\n{ 0xF0, 0x01, 0xF7,};\nmidiInAddBuffer MMSYSERR 11");
  EXPECT_EQ(app::logsink::CaptureContents(), "SysEx message received:\r\n{ 0xF0, 0x01, 0xF7,};\r\n");
  service.DetachInput(device.inputHandle);
  service.Shutdown();
}

TEST(Callback, DeviceWithoutHandlerGetsNoLongMessages) {
  InputBench bench(false);
  bench.service.Inject(bench.input, ControllerEvent::SysExMessage({0xF0, 0x01, 0xF7}));
  bench.service.Inject(bench.input, ControllerEvent::ShortMessage(0xF0, 0x01, 0xF7));
  bench.service.WaitUntilIdle();
  EXPECT_EQ(bench.service.Input(bench.input).droppedLongMessages, 1);
  // Packets are still assembled and logged, with nobody to hand them to.
  EXPECT_EQ(app::logsink::CaptureContents(), "got MIDI: F0 1 F7\nSysEx message received:\r\n{ 0xF0, 0x01, 0xF7,};\r\n");
}

TEST(Callback, RecordedCountIsNeverTrustedBeyondTheBuffer) {
  InputBench bench;
  std::fill(bench.device->inputHeader.lpData, bench.device->inputHeader.lpData + 512, 0x11);
  bench.device->inputHeader.dwBytesRecorded = 100000; // a broken service
  bench.Event(port::kEventLongData);
  ASSERT_EQ(bench.handler.sysex.size(), 1u);
  EXPECT_EQ(bench.handler.sysex[0].size(), 512u);
}

} // namespace
