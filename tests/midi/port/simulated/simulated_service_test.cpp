// The simulated service's own promises, which every other test relies on.
#include "midi/port/simulated/simulated_service.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "midi/port/simulated/controllers/bc_controller.h"

namespace {

using port::sim::ControllerEvent;

struct Received {
  std::mutex lock;
  std::vector<uint32_t> words;
  std::vector<uint32_t> messages;
};

void Record(port::InputHandle, uint32_t message, uintptr_t context, uintptr_t param1, uintptr_t) {
  auto* received = reinterpret_cast<Received*>(context);
  std::lock_guard<std::mutex> guard(received->lock);
  received->messages.push_back(message);
  if (message == port::kEventData) received->words.push_back(static_cast<uint32_t>(param1));
}

TEST(SimulatedService, StreamPlaysInOrderWithConstantQueue) {
  port::sim::SimulatedService service;
  const unsigned input = service.AddInput("Flood");
  constexpr uint32_t kEvents = 20000;
  uint32_t produced = 0;
  service.AddStream(input, [&produced](ControllerEvent& next) {
    if (produced == kEvents) return false;
    next = ControllerEvent::ShortMessage(0x90, produced & 0x7F, (produced >> 7) & 0x7F, std::chrono::microseconds(1));
    ++produced;
    return true;
  });
  Received received;
  port::InputHandle handle = nullptr;
  ASSERT_EQ(service.OpenInput(input, Record, reinterpret_cast<uintptr_t>(&received), handle), 0u);
  ASSERT_EQ(service.StartInput(handle), 0u);
  service.WaitUntilIdle();
  std::lock_guard<std::mutex> guard(received.lock);
  ASSERT_EQ(received.words.size(), kEvents);
  for (uint32_t i = 0; i < kEvents; ++i) {
    ASSERT_EQ(received.words[i], port::sim::ShortWord(0x90, i & 0x7F, (i >> 7) & 0x7F)) << i;
  }
}

TEST(SimulatedService, InputBeforeTheStartAndAfterTheStopIsLost) {
  port::sim::SimulatedService service;
  const unsigned input = service.AddInput("Port");
  service.Inject(input, ControllerEvent::ShortMessage(0x90, 1, 1)); // before the open
  service.WaitUntilIdle();
  Received received;
  port::InputHandle handle = nullptr;
  ASSERT_EQ(service.OpenInput(input, Record, reinterpret_cast<uintptr_t>(&received), handle), 0u);
  // Open, not started: lost even though the start follows at once, before
  // the service's own thread has looked at the event.
  service.Inject(input, ControllerEvent::ShortMessage(0x90, 2, 2));
  ASSERT_EQ(service.StartInput(handle), 0u);
  service.Inject(input, ControllerEvent::ShortMessage(0x90, 3, 3));
  service.WaitUntilIdle();
  ASSERT_EQ(service.StopInput(handle), 0u);
  service.Inject(input, ControllerEvent::ShortMessage(0x90, 4, 4));
  service.WaitUntilIdle();
  std::lock_guard<std::mutex> guard(received.lock);
  EXPECT_EQ(received.messages, (std::vector<uint32_t>{port::kEventOpen, port::kEventData}));
  EXPECT_EQ(received.words, (std::vector<uint32_t>{port::sim::ShortWord(0x90, 3, 3)}));
  EXPECT_EQ(service.Input(input).droppedWhileStopped, 3);
}

TEST(SimulatedService, PortsOpenOnceAndHeadersFollowWinmmRules) {
  port::sim::SimulatedService service;
  const unsigned input = service.AddInput("Port");
  service.AddOutput("Port");
  Received received;
  port::InputHandle handle = nullptr;
  ASSERT_EQ(service.OpenInput(input, Record, reinterpret_cast<uintptr_t>(&received), handle), 0u);
  port::InputHandle again = nullptr;
  EXPECT_EQ(service.OpenInput(input, Record, 0, again), port::kAllocated);
  port::OutputHandle output = nullptr;
  ASSERT_EQ(service.OpenOutput(0, output), 0u);
  EXPECT_EQ(service.OpenOutput(0, output), port::kAllocated);
  EXPECT_EQ(service.OpenOutput(1, output), port::kBadDeviceId);
  std::string name;
  EXPECT_EQ(service.InputName(1, name), port::kBadDeviceId);

  uint8_t bytes[16] = {};
  port::MidiHeader header;
  header.lpData = bytes;
  header.dwBufferLength = sizeof bytes;
  EXPECT_EQ(service.AddInputBuffer(handle, header), port::kUnprepared);
  ASSERT_EQ(service.PrepareInputBuffer(handle, header), 0u);
  ASSERT_EQ(service.AddInputBuffer(handle, header), 0u);
  EXPECT_EQ(service.AddInputBuffer(handle, header), port::kStillPlaying);
  // A running port keeps its queued buffer; a stopped one hands it back.
  ASSERT_EQ(service.StartInput(handle), 0u);
  EXPECT_EQ(service.UnprepareInputBuffer(handle, header), port::kStillPlaying);
  ASSERT_EQ(service.StopInput(handle), 0u);
  EXPECT_EQ(service.UnprepareInputBuffer(handle, header), port::kNoError);
  EXPECT_EQ(header.dwFlags & (port::kHeaderInQueue | port::kHeaderPrepared), 0u);
  EXPECT_EQ(service.AddInputBuffer(handle, header), port::kUnprepared);

  port::MidiHeader send;
  send.lpData = bytes;
  send.dwBufferLength = 3;
  EXPECT_EQ(service.SendLong(output, send), port::kUnprepared);
  EXPECT_EQ(service.UnprepareInputBuffer(nullptr, header), port::kInvalidHandle);
}

} // namespace

namespace {

using Bytes = std::vector<uint8_t>;

// A port read the way the device layer reads it: every event recorded with
// the bytes of a filled buffer, and the buffer given back at once.
struct Reader {
  struct Event {
    uint32_t message;
    uint32_t word;
    Bytes bytes;
    bool givenBack = false; // not compared: the tests ask for the bytes
    bool operator==(const Event& other) const {
      return message == other.message && word == other.word && bytes == other.bytes;
    }
  };
  static void Callback(port::InputHandle handle, uint32_t message, uintptr_t context, uintptr_t param1, uintptr_t) {
    auto* reader = reinterpret_cast<Reader*>(context);
    Event event{message, 0, {}};
    if (message == port::kEventLongData || message == port::kEventLongError) {
      auto* header = reinterpret_cast<port::MidiHeader*>(param1);
      event.bytes.assign(header->lpData, header->lpData + header->dwBytesRecorded);
      // A refused give-back would show as a message that finds no buffer.
      if (reader->giveBack) event.givenBack = reader->service->AddInputBuffer(handle, *header) == port::kNoError;
    } else if (message != port::kEventOpen) {
      event.word = static_cast<uint32_t>(param1);
    }
    std::lock_guard<std::mutex> guard(reader->lock);
    reader->events.push_back(std::move(event));
  }
  std::vector<Event> Events() {
    std::lock_guard<std::mutex> guard(lock);
    return events;
  }

  port::sim::SimulatedService* service = nullptr;
  bool giveBack = true;
  std::mutex lock;
  std::vector<Event> events;
};

void PrintTo(const Reader::Event& event, std::ostream* out) {
  *out << std::hex << event.message << " " << event.word << " [";
  for (uint8_t byte : event.bytes) *out << " " << static_cast<int>(byte);
  *out << " ]";
}

Reader::Event Data(uint32_t word) {
  return {port::kEventData, word, {}};
}
Reader::Event Long(Bytes bytes) {
  return {port::kEventLongData, 0, std::move(bytes)};
}
Reader::Event LongError(Bytes bytes) {
  return {port::kEventLongError, 0, std::move(bytes)};
}

// One port open and started with buffers of the given size queued.
struct OpenPort {
  OpenPort(port::sim::SimulatedService& service, size_t buffers, uint32_t size) : service(service) {
    input = service.AddInput("Port");
    reader.service = &service;
    EXPECT_EQ(service.OpenInput(input, Reader::Callback, reinterpret_cast<uintptr_t>(&reader), handle), 0u);
    for (size_t i = 0; i < buffers; ++i) Queue(size);
    EXPECT_EQ(service.StartInput(handle), 0u);
  }
  // One more buffer queued; the ones before stay where they are.
  void Queue(uint32_t size) {
    storage.emplace_back(size);
    headers.emplace_back();
    headers.back().lpData = storage.back().data();
    headers.back().dwBufferLength = size;
    EXPECT_EQ(service.PrepareInputBuffer(handle, headers.back()), 0u);
    EXPECT_EQ(service.AddInputBuffer(handle, headers.back()), 0u);
  }
  std::vector<Reader::Event> Received() {
    service.WaitUntilIdle();
    std::vector<Reader::Event> events = reader.Events();
    events.erase(events.begin()); // "port opened"
    return events;
  }

  port::sim::SimulatedService& service;
  unsigned input = 0;
  port::InputHandle handle = nullptr;
  Reader reader;
  std::deque<Bytes> storage;
  std::deque<port::MidiHeader> headers; // the service holds them where they are
};

TEST(SimulatedService, BytesAreReadAsTheWindowsServiceReadsThem) {
  struct Case {
    const char* what;
    Bytes wire;
    std::vector<Reader::Event> expected;
  };
  const Case cases[] = {
      {"a message that fits", {0xF0, 0x01, 0x02, 0xF7}, {Long({0xF0, 0x01, 0x02, 0xF7})}},
      {"a message longer than a buffer goes on in the next, without F0",
       {0xF0, 0x01, 0x02, 0x03, 0x04, 0x05, 0xF7},
       {Long({0xF0, 0x01, 0x02, 0x03}), Long({0x04, 0x05, 0xF7})}},
      {"a status byte ends the message unfinished, then counts as itself",
       {0xF0, 0x01, 0x02, 0x90, 0x3C, 0x64},
       {LongError({0xF0, 0x01, 0x02}), Data(port::sim::ShortWord(0x90, 0x3C, 0x64))}},
      {"a real-time byte inside comes on its own, the message around it whole",
       {0xF0, 0x01, 0xF8, 0x02, 0xF7},
       {Data(0xF8), Long({0xF0, 0x01, 0x02, 0xF7})}},
      {"short messages, a new F0 interrupting an unfinished one",
       {0xB0, 0x07, 0x64, 0xC0, 0x05, 0xF0, 0x01, 0xF0, 0x02, 0xF7},
       {Data(port::sim::ShortWord(0xB0, 0x07, 0x64)), Data(port::sim::ShortWord(0xC0, 0x05)), LongError({0xF0, 0x01}),
        Long({0xF0, 0x02, 0xF7})}},
      {"data bytes of no message are broken short messages",
       {0x01, 0x90, 0x3C},
       {{port::kEventError, 0x01, {}}, {port::kEventError, 0x3C90, {}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    port::sim::SimulatedService service;
    OpenPort open(service, 1, 4);
    service.Inject(open.input, ControllerEvent::SysExMessage(c.wire));
    EXPECT_EQ(open.Received(), c.expected);
  }
}

TEST(SimulatedService, AnUnfinishedMessageKeepsItsBufferUntilInputStops) {
  port::sim::SimulatedService service;
  OpenPort open(service, 1, 16);
  service.Inject(open.input, ControllerEvent::SysExMessage({0xF0, 0x01, 0x02}));
  EXPECT_TRUE(open.Received().empty());
  // More of it comes later and still lands in the same buffer.
  service.Inject(open.input, ControllerEvent::SysExMessage({0x03}));
  EXPECT_TRUE(open.Received().empty());
  open.reader.giveBack = false;
  ASSERT_EQ(service.StopInput(open.handle), 0u);
  EXPECT_EQ(open.Received(), (std::vector<Reader::Event>{LongError({0xF0, 0x01, 0x02, 0x03})}));
  EXPECT_EQ(service.UnprepareInputBuffer(open.handle, open.headers[0]), 0u);
}

TEST(SimulatedService, AMessageThatFindsNoBufferIsLostWholeOrFromWhereTheBuffersRanOut) {
  // Classic timing waits for no buffer; a buffer queued right after the
  // message came is too late, however soon the service looks.
  port::sim::SimulatedService service;
  OpenPort open(service, 0, 4);
  service.Inject(open.input, ControllerEvent::SysExMessage({0xF0, 0x01, 0xF7}));
  open.Queue(4); // late
  service.WaitUntilIdle();
  EXPECT_EQ(service.Input(open.input).droppedLongMessages, 1);
  // The buffer is there for the next message; one not given back leaves
  // the rest of a longer message without a buffer.
  open.reader.giveBack = false;
  service.Inject(open.input, ControllerEvent::SysExMessage({0xF0, 0x01, 0x02, 0x03, 0x04, 0xF7, 0xF0, 0x05, 0xF7}));
  EXPECT_EQ(open.Received(), (std::vector<Reader::Event>{Long({0xF0, 0x01, 0x02, 0x03})}));
  EXPECT_EQ(service.Input(open.input).droppedLongMessages, 3);
}

TEST(SimulatedService, AnUnpluggedDeviceClosesAndNeverGivesItsBuffersBack) {
  port::sim::SimulatedService service;
  OpenPort open(service, 1, 16);
  const unsigned output = service.AddOutput("Port");
  port::OutputHandle out = nullptr;
  ASSERT_EQ(service.OpenOutput(output, out), 0u);
  ControllerEvent unplug;
  unplug.kind = ControllerEvent::Kind::Unplug;
  service.Inject(open.input, unplug);
  service.Inject(open.input, ControllerEvent::ShortMessage(0x90, 1, 1));
  EXPECT_EQ(open.Received(), (std::vector<Reader::Event>{{port::kEventClose, 0, {}}}));
  EXPECT_EQ(service.StopInput(open.handle), port::kNoDriver);
  EXPECT_EQ(service.StartInput(open.handle), port::kNoDriver);
  EXPECT_EQ(service.UnprepareInputBuffer(open.handle, open.headers[0]), port::kStillPlaying);
  EXPECT_EQ(service.AddInputBuffer(open.handle, open.headers[0]), port::kNoDriver);
}

// The order the device layer once had, and the one it has now, played by
// hand: a request sent before the input that gets its answer is started and
// has a buffer is caught whatever the timing.
TEST(SimulatedService, ARequestBeforeItsInputCanAnswerIsCaughtAndItsAnswerLost) {
  const Bytes request = {0xF0, 0x00, 0x20, 0x32, 0x00, 0x7F, 0x01, 0xF7};
  for (const bool inputFirst : {false, true}) {
    for (const port::sim::ServiceModel& timing :
         {port::sim::ServiceModel::Classic(), port::sim::ServiceModel::CurrentWindows()}) {
      SCOPED_TRACE(std::string(inputFirst ? "input first" : "request first") +
                   (timing.sendDoneInCall ? ", current Windows" : ", classic"));
      port::sim::SimulatedService service(timing);
      service.AddDevice("BCF2000", std::make_shared<port::sim::BCController>(port::sim::BCController::BCF2000()));
      Reader reader;
      reader.service = &service;
      port::InputHandle input = nullptr;
      ASSERT_EQ(service.OpenInput(0, Reader::Callback, reinterpret_cast<uintptr_t>(&reader), input), 0u);
      port::OutputHandle output = nullptr;
      ASSERT_EQ(service.OpenOutput(0, output), 0u);
      Bytes storage(512);
      port::MidiHeader buffer;
      buffer.lpData = storage.data();
      buffer.dwBufferLength = 512;
      const auto startInput = [&] {
        ASSERT_EQ(service.PrepareInputBuffer(input, buffer), 0u);
        ASSERT_EQ(service.AddInputBuffer(input, buffer), 0u);
        ASSERT_EQ(service.StartInput(input), 0u);
      };
      Bytes sent = request;
      port::MidiHeader send;
      send.lpData = sent.data();
      send.dwBufferLength = static_cast<uint32_t>(sent.size());
      if (inputFirst) startInput();
      ASSERT_EQ(service.PrepareOutput(output, send), 0u);
      ASSERT_EQ(service.SendLong(output, send), 0u);
      if (!inputFirst) startInput();
      service.WaitUntilIdle();

      const std::vector<std::string> early = service.EarlyRequests();
      const std::vector<Reader::Event> events = reader.Events();
      if (inputFirst) {
        EXPECT_TRUE(early.empty());
        ASSERT_EQ(events.size(), 2u);
        EXPECT_EQ(events[1].bytes, port::sim::BCController(port::sim::BCController::BCF2000()).IdentityReply());
      } else {
        EXPECT_EQ(early,
                  (std::vector<std::string>{"BCF2000: a message reached the controller before its input was started"}));
        // Answered at once, the answer is lost; answered a millisecond
        // later, it arrives only because this start was quicker than that,
        // which a real service does not promise: the check catches both.
        if (timing.answerLatency.count() == 0) {
          EXPECT_EQ(events.size(), 1u) << "only \"port opened\"";
          EXPECT_EQ(service.Input(0).droppedWhileStopped, 1);
        }
      }
      EXPECT_EQ((send.dwFlags & port::kHeaderDone) != 0, timing.sendDoneInCall);
    }
  }
}

// A callback that holds its port's delivery until released.
struct Holder {
  static void Callback(port::InputHandle, uint32_t message, uintptr_t context, uintptr_t, uintptr_t) {
    auto* holder = reinterpret_cast<Holder*>(context);
    if (message != port::kEventData) return;
    std::unique_lock<std::mutex> guard(holder->lock);
    ++holder->inside;
    holder->changed.notify_all();
    holder->changed.wait(guard, [holder] { return holder->released; });
  }
  void WaitUntilInside(int count) {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [this, count] { return inside >= count; });
  }
  void Release() {
    std::lock_guard<std::mutex> guard(lock);
    released = true;
    changed.notify_all();
  }
  std::mutex lock;
  std::condition_variable changed;
  int inside = 0;
  bool released = false;
};

// Each port has a delivery thread of its own: one port's callback that
// waits holds up no other port, and a stop waits for its port's callback
// however long it runs.
TEST(SimulatedService, PortsDeliverOnThreadsOfTheirOwnAndAStopWaitsForItsCallback) {
  port::sim::SimulatedService service(port::sim::ServiceModel::CurrentWindows());
  Holder holder;
  port::InputHandle handles[2] = {};
  for (unsigned port = 0; port < 2; ++port) {
    service.AddInput("Port " + std::to_string(port));
    ASSERT_EQ(service.OpenInput(port, Holder::Callback, reinterpret_cast<uintptr_t>(&holder), handles[port]), 0u);
    ASSERT_EQ(service.StartInput(handles[port]), 0u);
  }
  service.Inject(0, ControllerEvent::ShortMessage(0x90, 1, 1));
  service.Inject(1, ControllerEvent::ShortMessage(0x90, 2, 2));
  // With one thread for both ports the second callback would never begin
  // while the first is held.
  holder.WaitUntilInside(2);

  std::atomic<bool> stopped{false};
  port::Result stopResult = port::kError;
  std::thread stopper([&] {
    stopResult = service.StopInput(handles[0]);
    stopped = true;
  });
  service.WaitForDeliveryWaiters(1);
  EXPECT_FALSE(stopped) << "the stop returned while its port's callback was running";
  holder.Release();
  stopper.join();
  EXPECT_EQ(stopResult, 0u);
  EXPECT_TRUE(service.SelfWaits().empty());
  service.WaitUntilIdle(); // the other port's callback, before the holder goes
}

// A stop from inside the port's own callback would wait for itself on the
// current Windows service; the simulated one returns, and says so.
TEST(SimulatedService, AStopFromInsideItsOwnCallbackIsRecordedAsNeverReturning) {
  struct Stopper {
    static void Callback(port::InputHandle handle, uint32_t message, uintptr_t context, uintptr_t, uintptr_t) {
      auto* service = reinterpret_cast<port::sim::SimulatedService*>(context);
      if (message == port::kEventData) (void)service->StopInput(handle);
    }
  };
  port::sim::SimulatedService service(port::sim::ServiceModel::CurrentWindows());
  service.AddInput("Selfish");
  port::InputHandle handle = nullptr;
  ASSERT_EQ(service.OpenInput(0, Stopper::Callback, reinterpret_cast<uintptr_t>(&service), handle), 0u);
  ASSERT_EQ(service.StartInput(handle), 0u);
  service.Inject(0, ControllerEvent::ShortMessage(0x90, 1, 1));
  service.WaitUntilIdle();
  EXPECT_EQ(service.SelfWaits(), (std::vector<std::string>{"Selfish: midiInStop from inside the port's own callback"}));
}

// The current service waits for a buffer once; when the wait runs out it
// drops later messages that find none at once, until one finds a buffer.
TEST(SimulatedService, AfterABufferWaitRanOutMessagesWithoutABufferAreDroppedAtOnce) {
  port::sim::ServiceModel model = port::sim::ServiceModel::CurrentWindows();
  port::sim::SimulatedService service(model);
  OpenPort open(service, 0, 16);
  const auto sysEx = [&](uint8_t id) {
    service.Inject(open.input, ControllerEvent::SysExMessage({0xF0, id, 0xF7}));
    service.WaitUntilIdle();
  };
  sysEx(1);
  EXPECT_EQ(service.Input(open.input).bufferWaits, 1);
  EXPECT_EQ(service.Input(open.input).droppedLongMessages, 1);
  sysEx(2);
  EXPECT_EQ(service.Input(open.input).bufferWaits, 1) << "waited again while discarding";
  EXPECT_EQ(service.Input(open.input).droppedLongMessages, 2);

  open.Queue(16);
  open.reader.giveBack = false;
  sysEx(3);
  EXPECT_EQ(open.Received(), (std::vector<Reader::Event>{Long({0xF0, 3, 0xF7})}));
  // A message that found a buffer ends the discarding: the next one waits.
  sysEx(4);
  EXPECT_EQ(service.Input(open.input).bufferWaits, 2);
  EXPECT_EQ(service.Input(open.input).droppedLongMessages, 3);
}

// What the classic stack passes on from its driver, Windows MIDI Services
// never sends: broken short messages, unknown codes, System Exclusive cut
// into short-message packets.
TEST(SimulatedService, TheCurrentServiceReportsNothingBrokenAndReadsPacketsAsBytes) {
  ControllerEvent broken;
  broken.kind = ControllerEvent::Kind::InvalidShort;
  broken.word = 0xF4;
  ControllerEvent moreData;
  moreData.kind = ControllerEvent::Kind::RawEvent;
  moreData.word = port::kEventMoreData;
  const std::vector<ControllerEvent> events = {
      broken,
      moreData,
      ControllerEvent::SysExMessage({0x01, 0x90, 0x3C}), // a stray data byte, an unfinished message
      ControllerEvent::ShortMessage(0xF0, 0x7E, 0x7F),   // packets of F0 7E 7F 06 01 F7
      ControllerEvent::ShortMessage(0x06, 0x01, 0xF7),
      ControllerEvent::ShortMessage(0xC0, 0x05),
      ControllerEvent::ShortMessage(0xF8),
  };
  {
    SCOPED_TRACE("classic");
    port::sim::SimulatedService service(port::sim::ServiceModel::Classic());
    OpenPort open(service, 1, 16);
    for (const ControllerEvent& event : events) service.Inject(open.input, event);
    EXPECT_EQ(open.Received(), (std::vector<Reader::Event>{{port::kEventError, 0xF4, {}},
                                                           {port::kEventMoreData, 0, {}},
                                                           {port::kEventError, 0x01, {}},
                                                           {port::kEventError, 0x3C90, {}},
                                                           Data(port::sim::ShortWord(0xF0, 0x7E, 0x7F)),
                                                           Data(port::sim::ShortWord(0x06, 0x01, 0xF7)),
                                                           Data(port::sim::ShortWord(0xC0, 0x05)),
                                                           Data(0xF8)}));
  }
  {
    SCOPED_TRACE("current");
    port::sim::SimulatedService service(port::sim::ServiceModel::CurrentWindows());
    OpenPort open(service, 1, 16);
    for (const ControllerEvent& event : events) service.Inject(open.input, event);
    EXPECT_EQ(open.Received(), (std::vector<Reader::Event>{Long({0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}),
                                                           Data(port::sim::ShortWord(0xC0, 0x05)), Data(0xF8)}));
    EXPECT_EQ(service.Input(open.input).brokenNotReported, 4);
  }
}

// A device that stops taking data: the send waits the service's limit and
// fails, later ones fail at once; the header comes back from November 2026
// on, and never before.
TEST(SimulatedService, AStalledSendFailsAfterTheLimitAndItsHeaderComesBackOnlyOnTheNewerService) {
  for (const bool comesBack : {false, true}) {
    SCOPED_TRACE(comesBack ? "November 2026" : "before");
    port::sim::ServiceModel model = comesBack ? port::sim::ServiceModel::CurrentWindows()
                                              : port::sim::ServiceModel::CurrentWindowsBeforeNovember2026();
    model.stalledSendLimit = std::chrono::milliseconds(20); // the test's patience, not the service's
    // The bytes outlive the service, which may hold them to the end.
    Bytes first = {0xF0, 0x01, 0xF7};
    Bytes second = {0xF0, 0x02, 0xF7};
    port::MidiHeader headers[2];
    port::sim::SimulatedService service(model);
    port::sim::OutputFaults faults;
    faults.send = port::sim::ResultScript({port::sim::kStalls}, port::kNoError);
    service.AddOutput("Stuck", std::move(faults));
    port::OutputHandle output = nullptr;
    ASSERT_EQ(service.OpenOutput(0, output), 0u);
    headers[0].lpData = first.data();
    headers[0].dwBufferLength = 3;
    headers[1].lpData = second.data();
    headers[1].dwBufferLength = 3;
    for (port::MidiHeader& header : headers) ASSERT_EQ(service.PrepareOutput(output, header), 0u);
    EXPECT_EQ(service.SendLong(output, headers[0]), port::kError);
    EXPECT_EQ(service.SendLong(output, headers[1]), port::kError);
    const port::sim::OutputRecord record = service.Output(0);
    EXPECT_EQ(record.stalledSends, 1) << "the second send waited too";
    EXPECT_TRUE(record.messages.empty());
    EXPECT_EQ(service.UnprepareOutput(output, headers[1]), 0u);
    for (int attempt = 0; attempt < 3; ++attempt) {
      EXPECT_EQ(service.UnprepareOutput(output, headers[0]), comesBack ? port::kNoError : port::kStillPlaying);
    }
  }
}

} // namespace
