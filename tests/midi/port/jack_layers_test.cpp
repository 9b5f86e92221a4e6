// The two port layers that reach JACK, RtMidi's and the one-client layer,
// over a real JACK server (dummy backend, started by the test), with virtual
// controllers published the way a2jmidid names them.
#include "midi/port/jack/jack_service.h"
#include "midi/port/rtmidi/rtmidi_service.h"

#include <gtest/gtest.h>
#include <jack/jack.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "app/run.h"
#include "handlers/bcf2000.h"
#include "handlers/nano_kontrol.h"
#include "midi/device.h"
#include "midi/manager.h"
#include "midi/port/simulated/controllers/bc_controller.h"
#include "midi/port/simulated/controllers/nano_kontrol_controller.h"
#include "testkit/jack_controllers/jack_host.h"
#include "tests/support/console_capture.h"
#include "tests/support/early_request_check.h"
#include "tests/support/holds_in_order.h"
#include "tests/support/jack_server.h"

namespace {

using Bytes = std::vector<uint8_t>;
using port::sim::ControllerEvent;
constexpr auto kPatience = std::chrono::seconds(20);

// The controller on the far side: plays a script once portprobe's input
// connects and the test has started that input (Play), and keeps every
// message it receives. What it sent before the start would be lost, as it
// is on Windows.
class PeerController final : public port::sim::VirtualController {
 public:
  explicit PeerController(std::vector<ControllerEvent> script = {}) : script(std::move(script)) {}
  void OnInputStarted(port::sim::ControllerLink& link) override {
    if (script.empty()) return;
    {
      std::unique_lock<std::mutex> guard(lock);
      changed.wait_for(guard, kPatience, [&] { return playing; });
    }
    for (const ControllerEvent& event : script) link.Send(event);
  }
  void Play() {
    std::lock_guard<std::mutex> guard(lock);
    playing = true;
    changed.notify_all();
  }
  void OnReceive(const uint8_t* bytes, size_t length, port::sim::ControllerLink&) override {
    std::lock_guard<std::mutex> guard(lock);
    received.emplace_back(bytes, bytes + length);
    changed.notify_all();
  }
  std::vector<Bytes> WaitForReceived(size_t count) {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait_for(guard, kPatience, [&] { return received.size() >= count; });
    return received;
  }
  std::vector<Bytes> Received() {
    std::lock_guard<std::mutex> guard(lock);
    return received;
  }

 private:
  std::vector<ControllerEvent> script;
  std::mutex lock;
  std::condition_variable changed;
  bool playing = false;
  std::vector<Bytes> received;
};

// What the device layer's callback was given.
struct Inbox {
  struct Event {
    uint32_t message;
    uintptr_t param1;
    Bytes longBytes;
    std::thread::id thread;
  };
  static void Callback(port::InputHandle handle, uint32_t message, uintptr_t context, uintptr_t param1, uintptr_t) {
    auto* inbox = reinterpret_cast<Inbox*>(context);
    Event event{message, param1, {}, std::this_thread::get_id()};
    const bool longMessage = message == port::kEventLongData || message == port::kEventLongError;
    if (longMessage) {
      event.longBytes.assign(inbox->header.lpData, inbox->header.lpData + inbox->header.dwBytesRecorded);
    }
    {
      std::unique_lock<std::mutex> guard(inbox->lock);
      inbox->events.push_back(event);
      inbox->changed.notify_all();
      // Held here, the layer's thread takes nothing from its queue.
      if (message == port::kEventData && inbox->holdAtFirstData) {
        inbox->changed.wait_for(guard, kPatience, [&] { return inbox->released; });
        inbox->holdAtFirstData = false;
      }
    }
    // As the device layer does: the buffer goes back after each delivery.
    if (longMessage) inbox->service->AddInputBuffer(handle, inbox->header);
  }
  std::vector<Event> WaitFor(size_t count) {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait_for(guard, kPatience, [&] { return events.size() >= count; });
    return events;
  }
  void Release() {
    std::lock_guard<std::mutex> guard(lock);
    released = true;
    changed.notify_all();
  }

  port::MidiService* service = nullptr;
  Bytes storage = Bytes(512);
  port::MidiHeader header;
  std::mutex lock;
  std::condition_variable changed;
  std::vector<Event> events;
  // The first short message's callback waits until Release, as a device
  // layer that falls behind would hold the layer's thread.
  bool holdAtFirstData = false;
  bool released = false;
};

Bytes SysExOfLength(size_t length) {
  Bytes message = {0xF0};
  message.resize(length - 1, 0x01);
  message.push_back(0xF7);
  return message;
}

jack_controllers::JackDevice Device(const std::string& client, int id,
                                    std::shared_ptr<port::sim::VirtualController> controller, bool playback = true) {
  jack_controllers::JackDevice device;
  device.alsaClient = client;
  device.clientId = id;
  device.alsaPort = client + " MIDI 1";
  device.playback = playback;
  device.controller = std::move(controller);
  device.file = client;
  return device;
}

// What the tests need of a layer beyond the port interface.
struct Layer {
  std::string name;
  std::function<std::unique_ptr<port::MidiService>()> make;
  // The same with input hand-over queues of the given size.
  std::function<std::unique_ptr<port::MidiService>(size_t)> makeWithInputQueue;
  std::function<void(port::MidiService&)> closeClients;
  std::function<uint64_t(port::MidiService&)> droppedInput;
  // The longest System Exclusive message a send may hold; asked once an
  // output is open (0 while the layer does not know it yet).
  std::function<size_t(port::MidiService&)> longestSysEx;
};

template <class Service>
Service& As(port::MidiService& service) {
  return static_cast<Service&>(service);
}

const Layer kRtMidiLayer{
    "RtMidi",
    [] { return std::make_unique<port::rtmidi::RtMidiService>(RtMidi::UNIX_JACK); },
    [](size_t bytes) { return std::make_unique<port::rtmidi::RtMidiService>(RtMidi::UNIX_JACK, bytes); },
    [](port::MidiService& service) { As<port::rtmidi::RtMidiService>(service).CloseClients(); },
    [](port::MidiService& service) { return As<port::rtmidi::RtMidiService>(service).DroppedInputMessages(); },
    [](port::MidiService&) { return port::rtmidi::kJackSysExLimit; },
};

const Layer kJackLayer{
    "OneClient",
    [] { return std::make_unique<port::jack::JackService>(); },
    [](size_t bytes) { return std::make_unique<port::jack::JackService>(bytes); },
    [](port::MidiService& service) { As<port::jack::JackService>(service).CloseClients(); },
    [](port::MidiService& service) { return As<port::jack::JackService>(service).DroppedInputMessages(); },
    [](port::MidiService& service) { return As<port::jack::JackService>(service).LongestMessage(); },
};

void PrintTo(const Layer& layer, std::ostream* out) {
  *out << layer.name;
}

std::string LayerName(const ::testing::TestParamInfo<Layer>& info) {
  return info.param.name;
}

class OnJack : public ::testing::TestWithParam<Layer> {
 protected:
  void SetUp() override {
    if (std::system("command -v jackd >/dev/null 2>&1") != 0) GTEST_SKIP() << "jackd is not installed";
    server = std::make_unique<TestJackServer>(ServerMode());
    ASSERT_TRUE(server->Running()) << "the test's JACK server did not come up: " << server->Why()
                                   << " (with no jackd running, scripts/clear-stale-jack.sh frees the registry)";
    char pattern[] = "/tmp/portprobe-jack-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    directory = pattern;
  }
  void TearDown() override {
    // The layer's thread may still be calling back into the inbox (a failed
    // assertion leaves the test body early): it ends with the service, and
    // RtMidi's clients close before the server goes.
    service.reset();
    if (host) host->Stop();
    if (host && HasFailure()) {
      // Missed cycles lose their events: say so next to the failure.
      host->WriteTiming(directory);
      std::system(("cat '" + directory + "/timing'").c_str());
    }
    host.reset();
    record.reset();
    if (!directory.empty()) std::system(("rm -rf '" + directory + "'").c_str());
    server.reset();
  }
  virtual TestJackServer::Mode ServerMode() const { return TestJackServer::Mode::Synchronous; }
  void Publish(std::vector<jack_controllers::JackDevice> devices, size_t inputQueueBytes = 0) {
    record = std::make_unique<jack_controllers::WireRecord>(directory);
    host = std::make_unique<jack_controllers::JackHost>(std::move(devices), *record);
    ASSERT_TRUE(host->Start("a2j"));
    service = inputQueueBytes == 0 ? GetParam().make() : GetParam().makeWithInputQueue(inputQueueBytes);
    inbox.service = service.get();
  }
  unsigned InputNamed(const std::string& name) {
    const unsigned count = service->InputCount();
    for (unsigned index = 0; index < count; ++index) {
      std::string found;
      if (service->InputName(index, found) == port::kNoError && found == name) return index;
    }
    ADD_FAILURE() << "no input " << name;
    return count;
  }
  port::OutputHandle OpenOutputNamed(const std::string& name) {
    const unsigned count = service->OutputCount();
    for (unsigned index = 0; index < count; ++index) {
      std::string found;
      port::OutputHandle handle = nullptr;
      if (service->OutputName(index, found) == port::kNoError && found == name &&
          service->OpenOutput(index, handle) == port::kNoError) {
        return handle;
      }
    }
    ADD_FAILURE() << "no output " << name;
    return nullptr;
  }
  port::Result Send(port::OutputHandle output, Bytes bytes) {
    port::MidiHeader header;
    header.lpData = bytes.data();
    header.dwBufferLength = static_cast<uint32_t>(bytes.size());
    EXPECT_EQ(service->PrepareOutput(output, header), port::kNoError);
    const port::Result result = service->SendLong(output, header);
    EXPECT_EQ(service->UnprepareOutput(output, header), port::kNoError);
    return result;
  }

  std::unique_ptr<TestJackServer> server;
  std::string directory;
  std::unique_ptr<jack_controllers::WireRecord> record;
  std::unique_ptr<jack_controllers::JackHost> host;
  Inbox inbox;                                     // outlives the service, whose thread calls into it
  std::vector<std::unique_ptr<Inbox>> moreInboxes; // the same, for tests of several inputs
  std::unique_ptr<port::MidiService> service;
};

std::vector<std::string> Names(port::MidiService& service, bool inputs) {
  std::vector<std::string> names;
  const unsigned count = inputs ? service.InputCount() : service.OutputCount();
  for (unsigned index = 0; index < count; ++index) {
    std::string name;
    EXPECT_EQ(inputs ? service.InputName(index, name) : service.OutputName(index, name), port::kNoError);
    names.push_back(name);
  }
  return names;
}

TEST_P(OnJack, PortsArePairedByNameAndItsOwnPortsStayHidden) {
  ASSERT_NO_FATAL_FAILURE(Publish({Device("Pad A", 30, std::make_shared<PeerController>()),
                                   Device("Pad B", 31, std::make_shared<PeerController>(), false)}));
  const std::vector<std::string> inputs = {"a2j:Pad A [30]: Pad A MIDI 1", "a2j:Pad B [31]: Pad B MIDI 1"};
  const std::vector<std::string> outputs = {"a2j:Pad A [30]: Pad A MIDI 1"};
  EXPECT_EQ(Names(*service, true), inputs);
  EXPECT_EQ(Names(*service, false), outputs);
  // Both halves of a bridged device tell the same ALSA client.
  const struct {
    port::Direction direction;
    unsigned index;
    const char* device;
  } devices[] = {{port::Direction::Input, 0, "alsa:30"},
                 {port::Direction::Input, 1, "alsa:31"},
                 {port::Direction::Output, 0, "alsa:30"}};
  for (const auto& expected : devices) {
    std::string device;
    EXPECT_EQ(service->DeviceOf(expected.direction, expected.index, device), port::kNoError);
    EXPECT_EQ(device, expected.device);
  }

  port::InputHandle input = nullptr;
  ASSERT_EQ(service->OpenInput(0, Inbox::Callback, reinterpret_cast<uintptr_t>(&inbox), input), port::kNoError);
  ASSERT_NE(OpenOutputNamed(outputs[0]), nullptr);
  // Each open added a port of this program's own to the server.
  EXPECT_EQ(Names(*service, true), inputs);
  EXPECT_EQ(Names(*service, false), outputs);
  std::string none;
  EXPECT_EQ(service->InputName(2, none), port::kBadDeviceId);
}

TEST_P(OnJack, InputReachesTheCallbackOnTheLayersThreadAfterTheOpenEvent) {
  const Bytes sysex = {0xF0, 0x00, 0x20, 0x32, 0x00, 0x14, 0x02, 0x42, 0xF7};
  auto peer = std::make_shared<PeerController>(
      std::vector<ControllerEvent>{ControllerEvent::ShortMessage(0x90, 0x3C, 0x64), ControllerEvent::ShortMessage(0xF8),
                                   ControllerEvent::ShortMessage(0xFE), ControllerEvent::SysExMessage(sysex),
                                   ControllerEvent::ShortMessage(0xC0, 0x05)});
  ASSERT_NO_FATAL_FAILURE(Publish({Device("Pad A", 30, peer)}));
  inbox.header.lpData = inbox.storage.data();
  inbox.header.dwBufferLength = static_cast<uint32_t>(inbox.storage.size());
  port::InputHandle input = nullptr;
  ASSERT_EQ(service->InputCount(), 1u);
  ASSERT_EQ(service->OpenInput(0, Inbox::Callback, reinterpret_cast<uintptr_t>(&inbox), input), port::kNoError);
  {
    std::lock_guard<std::mutex> guard(inbox.lock);
    ASSERT_EQ(inbox.events.size(), 1u); // before OpenInput returned
    EXPECT_EQ(inbox.events[0].message, port::kEventOpen);
    EXPECT_EQ(inbox.events[0].thread, std::this_thread::get_id());
  }
  ASSERT_EQ(service->PrepareInputBuffer(input, inbox.header), port::kNoError);
  ASSERT_EQ(service->AddInputBuffer(input, inbox.header), port::kNoError);
  ASSERT_EQ(service->StartInput(input), port::kNoError);
  peer->Play();

  const auto events = inbox.WaitFor(6);
  ASSERT_EQ(events.size(), 6u);
  EXPECT_EQ(events[1].message, port::kEventData);
  EXPECT_EQ(events[1].param1, 0x643C90u);
  EXPECT_EQ(events[2].param1, 0xF8u); // timing clock, not filtered out
  EXPECT_EQ(events[3].param1, 0xFEu); // active sensing
  EXPECT_EQ(events[4].message, port::kEventLongData);
  EXPECT_EQ(events[4].longBytes, sysex);
  EXPECT_EQ(events[5].param1, 0x05C0u);
  for (size_t at = 1; at < events.size(); ++at) EXPECT_NE(events[at].thread, std::this_thread::get_id());

  EXPECT_EQ(service->StopInput(input), port::kNoError);
  EXPECT_EQ(service->UnprepareInputBuffer(input, inbox.header), port::kNoError);
  EXPECT_EQ(GetParam().droppedInput(*service), 0u);
}

// A long System Exclusive message that the ALSA sequencer's bridge hands on
// in pieces, each a JACK event of its own, reaches the device layer as
// winmm fills its buffer from the wire: one stream, a delivery for each full
// buffer and one at its end; a real-time byte between the pieces at once, a
// status byte that cuts the message off ending it as an invalid long
// message, and a message still unfinished at the stop handed back by it.
Bytes NumberedSysEx(size_t length) {
  Bytes message = SysExOfLength(length);
  for (size_t at = 1; at + 1 < length; ++at) message[at] = static_cast<uint8_t>(at % 128);
  return message;
}

std::vector<ControllerEvent> InPieces(const Bytes& message, size_t piece, size_t from = 0, size_t to = SIZE_MAX) {
  std::vector<ControllerEvent> events;
  for (size_t at = from; at < std::min(to, message.size()); at += piece) {
    const size_t end = std::min({at + piece, to, message.size()});
    events.push_back(ControllerEvent::SysExMessage(
        Bytes(message.begin() + static_cast<std::ptrdiff_t>(at), message.begin() + static_cast<std::ptrdiff_t>(end))));
  }
  return events;
}

Bytes Slice(const Bytes& bytes, size_t from, size_t to) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(to));
}

TEST_P(OnJack, ASystemExclusiveMessageInPiecesIsDeliveredAsWinmmFillsItsBuffer) {
  struct Delivery {
    uint32_t message;
    uintptr_t word; // for short messages
    Bytes bytes;    // for long ones
  };
  struct Case {
    const char* what;
    std::vector<ControllerEvent> script;
    std::vector<Delivery> deliveries;
    bool endsAtTheStop;
    // RtMidi's own JACK input (5.0) joins pieces itself: it appends every
    // event to an unfinished message until one ends in F7, so whatever comes
    // between the pieces reaches the layer inside the message (where the
    // layer reads a clock out of it as winmm does) and a message that never
    // ends never reaches it: nothing to test the layer's stop with.
    bool rtMidiToo = true;
  };
  const Bytes scene = NumberedSysEx(402);
  const Bytes large = NumberedSysEx(1200);
  const ControllerEvent clock = ControllerEvent::ShortMessage(0xF8);
  auto then = [](std::vector<ControllerEvent> events, std::vector<ControllerEvent> more) {
    events.insert(events.end(), more.begin(), more.end());
    return events;
  };
  std::vector<Case> cases = {
      {"a scene in the bridge's pieces of 256", InPieces(scene, 256), {{port::kEventLongData, 0, scene}}, false},
      {"a scene in pieces of 100", InPieces(scene, 100), {{port::kEventLongData, 0, scene}}, false},
      {"a scene a USB packet at a time", InPieces(scene, 3), {{port::kEventLongData, 0, scene}}, false},
      {"1200 bytes across the buffer's end",
       InPieces(large, 256),
       {{port::kEventLongData, 0, Slice(large, 0, 512)},
        {port::kEventLongData, 0, Slice(large, 512, 1024)},
        {port::kEventLongData, 0, Slice(large, 1024, 1200)}},
       false},
      {"a clock between two pieces",
       then(then(InPieces(scene, 256, 0, 256), {clock}), InPieces(scene, 256, 256)),
       {{port::kEventData, 0xF8, {}}, {port::kEventLongData, 0, scene}},
       false},
      {"a note that cuts the message off",
       then(InPieces(scene, 256, 0, 256), {ControllerEvent::ShortMessage(0x90, 0x3C, 0x64)}),
       {{port::kEventLongError, 0, Slice(scene, 0, 256)}, {port::kEventData, 0x643C90, {}}},
       false,
       false},
      // The clock tells the test that the first piece has been read.
      {"a message whose last piece never comes",
       then(InPieces(scene, 256, 0, 256), {clock}),
       {{port::kEventData, 0xF8, {}}, {port::kEventLongError, 0, Slice(scene, 0, 256)}},
       true,
       false},
  };
  if (GetParam().name == kRtMidiLayer.name) {
    cases.erase(std::remove_if(cases.begin(), cases.end(), [](const Case& c) { return !c.rtMidiToo; }), cases.end());
  }
  std::vector<jack_controllers::JackDevice> devices;
  std::vector<std::shared_ptr<PeerController>> peers;
  for (size_t at = 0; at < cases.size(); ++at) {
    peers.push_back(std::make_shared<PeerController>(cases[at].script));
    devices.push_back(Device("Pad " + std::to_string(at + 1), 30 + static_cast<int>(at), peers.back(), false));
  }
  ASSERT_NO_FATAL_FAILURE(Publish(devices));
  ASSERT_EQ(service->InputCount(), cases.size());
  std::vector<port::InputHandle> inputs;
  for (size_t at = 0; at < cases.size(); ++at) {
    moreInboxes.push_back(std::make_unique<Inbox>());
    Inbox& box = *moreInboxes.back();
    box.service = service.get();
    box.header.lpData = box.storage.data();
    box.header.dwBufferLength = static_cast<uint32_t>(box.storage.size());
    port::InputHandle input = nullptr;
    ASSERT_EQ(service->OpenInput(InputNamed("a2j:Pad " + std::to_string(at + 1) + " [" + std::to_string(30 + at) +
                                            "]: Pad " + std::to_string(at + 1) + " MIDI 1"),
                                 Inbox::Callback, reinterpret_cast<uintptr_t>(&box), input),
              port::kNoError);
    ASSERT_EQ(service->PrepareInputBuffer(input, box.header), port::kNoError);
    ASSERT_EQ(service->AddInputBuffer(input, box.header), port::kNoError);
    ASSERT_EQ(service->StartInput(input), port::kNoError);
    inputs.push_back(input);
    peers[at]->Play();
  }
  for (size_t at = 0; at < cases.size(); ++at) {
    SCOPED_TRACE(cases[at].what);
    Inbox& box = *moreInboxes[at];
    const size_t expected = cases[at].deliveries.size() + 1; // "port opened" first
    box.WaitFor(cases[at].endsAtTheStop ? expected - 1 : expected);
    if (cases[at].endsAtTheStop) {
      ASSERT_EQ(service->StopInput(inputs[at]), port::kNoError);
    }
    const std::vector<Inbox::Event> events = box.WaitFor(expected);
    ASSERT_EQ(events.size(), expected);
    for (size_t n = 0; n < cases[at].deliveries.size(); ++n) {
      const Delivery& delivery = cases[at].deliveries[n];
      const Inbox::Event& event = events[n + 1];
      EXPECT_EQ(event.message, delivery.message) << "delivery " << n;
      if (delivery.message == port::kEventData) {
        EXPECT_EQ(event.param1, delivery.word) << "delivery " << n;
      } else {
        EXPECT_EQ(event.longBytes, delivery.bytes) << "delivery " << n;
      }
    }
    // Handed back from inside the stop, on the thread that stopped.
    if (cases[at].endsAtTheStop) {
      EXPECT_EQ(events.back().thread, std::this_thread::get_id());
    }
  }
  EXPECT_EQ(GetParam().droppedInput(*service), 0u);
}

// A burst far beyond what the input's hand-over queue holds arrives within
// a cycle or two: what does not fit is lost, and counted for the port, so
// that the report can say so. Nothing is lost without a count.
TEST_P(OnJack, AFullHandOverQueueCountsWhatItLoses) {
  constexpr int kBurst = 1000;
  std::vector<ControllerEvent> burst;
  burst.reserve(kBurst);
  for (int n = 0; n < kBurst; ++n) {
    burst.push_back(ControllerEvent::ShortMessage(0x90, static_cast<uint8_t>(n % 128), static_cast<uint8_t>(n / 128)));
  }
  auto peer = std::make_shared<PeerController>(std::move(burst));
  // Room for nine three-byte messages, and the layer's thread held at the
  // first: the rest of the burst finds the queue full however fast or slow
  // either side is.
  ASSERT_NO_FATAL_FAILURE(Publish({Device("Pad A", 30, peer)}, 64));
  inbox.holdAtFirstData = true;
  port::InputHandle input = nullptr;
  ASSERT_EQ(service->InputCount(), 1u);
  ASSERT_EQ(service->OpenInput(0, Inbox::Callback, reinterpret_cast<uintptr_t>(&inbox), input), port::kNoError);
  ASSERT_EQ(service->StartInput(input), port::kNoError);
  peer->Play();
  auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (service->LostInputEvents(input) == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  inbox.Release();
  deadline = std::chrono::steady_clock::now() + kPatience;
  size_t delivered = 0;
  uint64_t lost = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    {
      std::lock_guard<std::mutex> guard(inbox.lock);
      delivered = inbox.events.size() - 1; // "port opened" first
    }
    lost = service->LostInputEvents(input);
    if (delivered + lost >= static_cast<size_t>(kBurst)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_GT(lost, 0u);
  EXPECT_EQ(delivered + lost, static_cast<size_t>(kBurst));
  EXPECT_EQ(GetParam().droppedInput(*service), lost);
  // The ones that came are in order: a gap, never a shuffle.
  std::lock_guard<std::mutex> guard(inbox.lock);
  uintptr_t previous = 0;
  for (size_t at = 1; at < inbox.events.size(); ++at) {
    const uintptr_t word = inbox.events[at].param1;
    const uintptr_t number = ((word >> 8) & 0x7F) + 128 * ((word >> 16) & 0x7F);
    if (at > 1) {
      EXPECT_GT(number, previous);
    }
    previous = number;
  }
}

TEST_P(OnJack, LongSendLeavesAsOneJackEventPerMessage) {
  auto peer = std::make_shared<PeerController>();
  ASSERT_NO_FATAL_FAILURE(Publish({Device("Pad A", 30, peer)}));
  const port::OutputHandle output = OpenOutputNamed("a2j:Pad A [30]: Pad A MIDI 1");
  ASSERT_NE(output, nullptr);
  // 151 bytes, 51 messages, with a SysEx in the middle and running status.
  Bytes stream = {0xB0, 0x7F, 0x00, 0xC0, 0x01};
  std::vector<Bytes> expected = {{0xB0, 0x7F, 0x00}, {0xC0, 0x01}};
  for (uint8_t control = 0; control < 46; ++control) {
    stream.insert(stream.end(), {0xB0, control, 0x00});
    expected.push_back({0xB0, control, 0x00});
  }
  stream.insert(stream.end(), {0xF0, 0x7E, 0xF7, 0x90, 0x0E, 0x00, 0x0F, 0x00});
  expected.push_back({0xF0, 0x7E, 0xF7});
  expected.push_back({0x90, 0x0E, 0x00});
  expected.push_back({0x90, 0x0F, 0x00});
  ASSERT_EQ(stream.size(), 151u);
  ASSERT_EQ(expected.size(), 51u);

  EXPECT_EQ(Send(output, stream), port::kNoError);
  EXPECT_EQ(peer->WaitForReceived(51), expected);
}

TEST_P(OnJack, SendsThatCouldNotLeaveWholeAreRefused) {
  auto peer = std::make_shared<PeerController>();
  ASSERT_NO_FATAL_FAILURE(Publish({Device("Pad A", 30, peer)}));
  const port::OutputHandle output = OpenOutputNamed("a2j:Pad A [30]: Pad A MIDI 1");
  ASSERT_NE(output, nullptr);
  // The JACK layer learns its limit in the first cycle that runs the new
  // output, which may come just after the open returns.
  size_t limit = GetParam().longestSysEx(*service);
  while (limit == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    limit = GetParam().longestSysEx(*service);
  }
  ASSERT_GT(limit, 402u); // a nanoKONTROL2 scene
  const Bytes largest = SysExOfLength(limit);
  const Bytes tooLarge = SysExOfLength(limit + 1);

  EXPECT_EQ(Send(output, tooLarge), port::kInvalParam);
  EXPECT_EQ(Send(output, {0x90, 0x3C, 0x64, 0xB0, 0x07}), port::kInvalParam); // cut short: none of it goes
  EXPECT_EQ(Send(output, largest), port::kNoError);
  EXPECT_EQ(Send(output, {0x80, 0x3C, 0x00}), port::kNoError);
  const std::vector<Bytes> received = peer->WaitForReceived(2);
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0], largest);
  EXPECT_EQ(received[1], (Bytes{0x80, 0x3C, 0x00}));
}

// Another client of the server, which looks at the graph from outside and
// misses its cycles on demand, as a client does on a busy machine: while
// held, each of its process calls takes kStall. The server starts running a
// changed graph only once every client has finished the cycle before, so
// meanwhile it holds back every new connection, while the clients that keep
// up go on running the old graph.
class OtherClient {
 public:
  static constexpr auto kStall = std::chrono::milliseconds(300);

  OtherClient() {
    client = jack_client_open("other", JackNoStartServer, nullptr);
    if (client == nullptr) return;
    jack_set_process_callback(client, &OtherClient::Process, this);
    if (jack_activate(client) != 0) {
      jack_client_close(client);
      client = nullptr;
    }
  }
  ~OtherClient() {
    Release();
    if (client != nullptr) jack_client_close(client);
  }
  bool Running() const { return client != nullptr; }
  // Returns once a process call is being held.
  void Hold() {
    held = true;
    std::unique_lock<std::mutex> guard(lock);
    changed.wait_for(guard, kPatience, [this] { return stalls > 0; });
  }
  void Release() { held = false; }
  // The ports connected to the named one in the graph the server runs now.
  std::vector<std::string> Connections(const std::string& name) {
    std::vector<std::string> names;
    jack_port_t* port = jack_port_by_name(client, name.c_str());
    const char** connected = port != nullptr ? jack_port_get_all_connections(client, port) : nullptr;
    for (const char** at = connected; at != nullptr && *at != nullptr; ++at) names.emplace_back(*at);
    if (connected != nullptr) jack_free(connected);
    return names;
  }
  // The full names of the server's ports that match the regular expression.
  std::vector<std::string> Ports(const std::string& pattern) {
    std::vector<std::string> names;
    const char** ports = jack_get_ports(client, pattern.c_str(), nullptr, 0);
    for (const char** at = ports; at != nullptr && *at != nullptr; ++at) names.emplace_back(*at);
    if (ports != nullptr) jack_free(ports);
    return names;
  }

 private:
  static int Process(jack_nframes_t, void* self) {
    auto* late = static_cast<OtherClient*>(self);
    if (!late->held) return 0;
    {
      std::lock_guard<std::mutex> guard(late->lock);
      ++late->stalls;
    }
    late->changed.notify_all();
    std::this_thread::sleep_for(kStall);
    return 0;
  }

  jack_client_t* client = nullptr;
  std::atomic<bool> held{false};
  std::mutex lock;
  std::condition_variable changed;
  int stalls = 0;
};

// An asynchronous server, the kind a desktop runs, where a late client
// really holds the graph back.
class OnJackWithALateClient : public OnJack {
 protected:
  TestJackServer::Mode ServerMode() const override { return TestJackServer::Mode::Asynchronous; }
};

TEST_P(OnJackWithALateClient, ARequestSentRightAfterTheOutputOpensReachesTheDevice) {
#if defined(__SANITIZE_THREAD__)
  // On an asynchronous server every cycle a client misses loses its
  // events; under ThreadSanitizer the peer's own process calls miss cycle
  // after cycle, so what this would measure is the sanitizer's slowness.
  // The layer's threads are checked by the synchronous-server tests.
  GTEST_SKIP() << "timing on an asynchronous server is not meaningful under ThreadSanitizer";
#endif
  auto peer = std::make_shared<PeerController>();
  ASSERT_NO_FATAL_FAILURE(Publish({Device("Pad A", 30, peer)}));
  const std::string playback = "a2j:Pad A [30] (playback): Pad A MIDI 1";
  OtherClient late;
  ASSERT_TRUE(late.Running());
  late.Hold();

  // As a handler's Start does during attach: the request goes out the
  // moment the output is open.
  const port::OutputHandle output = OpenOutputNamed("a2j:Pad A [30]: Pad A MIDI 1");
  ASSERT_NE(output, nullptr);
  const std::vector<std::string> connected = late.Connections(playback);
  const Bytes request = {0xF0, 0x00, 0x20, 0x32, 0x00, 0x7F, 0x01, 0xF7};
  EXPECT_EQ(Send(output, request), port::kNoError);
  late.Release();

  EXPECT_EQ(peer->WaitForReceived(1), std::vector<Bytes>{request});
  // The open returned only once the server ran the new connection.
  ASSERT_EQ(connected.size(), 1u);
  EXPECT_EQ(connected[0].rfind("portprobe", 0), 0u) << connected[0];
}

// The device layer over the layer, with a BCF2000 and a nanoKONTROL2 whose
// scene differs, both answering in the very next process cycle (5.3 ms at
// the tests' 256 frames and 48 kHz): both dialogues complete, and no request
// reaches a controller before its input can take the answer.
TEST_P(OnJack, DialoguesAnsweredInTheNextCycleComplete) {
  auto nano =
      std::make_shared<port::sim::NanoKontrolController>(port::sim::NanoKontrolController::HoldingAnEditedScene());
  ASSERT_NO_FATAL_FAILURE(
      Publish({Device("BCF2000", 20,
                      std::make_shared<port::sim::BCController>(port::sim::BCController::BCF2000("BCF2000 Stage"))),
               Device("nanoKONTROL2", 22, nano)}));
  EarlyRequestCheck check(*service);
  std::string report;
  {
    ConsoleCapture console;
    CMIDIManagerWin manager(check);
    const auto done = [&manager] {
      if (manager.devices.size() != 2) return false;
      const auto* bc = static_cast<CBCF2000*>(manager.devices[0]->handler);
      const auto* scene = static_cast<CKorgNanoControl*>(manager.devices[1]->handler);
      return bc != nullptr && scene != nullptr && !bc->awaitingIdentity && scene->state == CKorgNanoControl::Idle;
    };
    app::RunProbe(
        manager,
        [&done] {
          const auto deadline = std::chrono::steady_clock::now() + kPatience;
          while (!done() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
          }
        },
        [&report](const app::ReportText& text) { report = text.Joined(); });
    manager.Stop();
    service->Shutdown();
  }
  // The two devices' lines may interleave; each device's own are in order.
  EXPECT_TRUE(HoldsInOrder(report, {"MIDI device found: a2j:BCF2000 [20]: BCF2000 MIDI 1\n", "Send identiy request\r\n",
                                    "Got identity response\r\n", "Updated device name: BCF2000 Stage"}))
      << report;
  EXPECT_TRUE(HoldsInOrder(report, {"MIDI device found: a2j:nanoKONTROL2 [22]: nanoKONTROL2 MIDI 1\n",
                                    "current settings are bad!\n", "data upload success!\n"}))
      << report;
  EXPECT_TRUE(HoldsInOrder(report, {"\r\n\r\n\"BCF2000 Stage\" Supported by Veltrakon.\r\n",
                                    "\"a2j:nanoKONTROL2 [22]: nanoKONTROL2 MIDI 1\" Supported by Veltrakon.\r\n"}));
  EXPECT_EQ(nano->WriteRequests(), 1);
  const std::vector<std::string> early = check.EarlyRequests();
  EXPECT_TRUE(early.empty()) << early.front();
}

// The order the device layer once had, by hand: the request goes out before
// the input is started and given a buffer. The check catches it.
TEST_P(OnJack, TheEarlyRequestCheckCatchesARequestBeforeTheStart) {
  ASSERT_NO_FATAL_FAILURE(Publish({Device("Pad A", 30, std::make_shared<PeerController>())}));
  EarlyRequestCheck check(*service);
  ASSERT_EQ(check.InputCount(), 1u);
  ASSERT_EQ(check.OutputCount(), 1u);
  port::InputHandle input = nullptr;
  ASSERT_EQ(check.OpenInput(0, Inbox::Callback, reinterpret_cast<uintptr_t>(&inbox), input), port::kNoError);
  port::OutputHandle output = nullptr;
  ASSERT_EQ(check.OpenOutput(0, output), port::kNoError);
  Bytes request = {0xF0, 0x00, 0x20, 0x32, 0x00, 0x7F, 0x01, 0xF7};
  port::MidiHeader header;
  header.lpData = request.data();
  header.dwBufferLength = static_cast<uint32_t>(request.size());
  ASSERT_EQ(check.PrepareOutput(output, header), port::kNoError);
  EXPECT_EQ(check.SendLong(output, header), port::kNoError);
  ASSERT_EQ(check.StartInput(input), port::kNoError);
  EXPECT_EQ(check.SendLong(output, header), port::kNoError); // started, but no buffer
  EXPECT_EQ(check.EarlyRequests(),
            (std::vector<std::string>{"a2j:Pad A [30]: Pad A MIDI 1: sent before its input was started",
                                      "a2j:Pad A [30]: Pad A MIDI 1: sent while its input had no buffer"}));
}

TEST_P(OnJack, ClosingTheClientsTakesThisProgramsPortsOffTheServer) {
  ASSERT_NO_FATAL_FAILURE(Publish({Device("Pad A", 30, std::make_shared<PeerController>())}));
  port::InputHandle input = nullptr;
  ASSERT_EQ(service->InputCount(), 1u);
  ASSERT_EQ(service->OpenInput(0, Inbox::Callback, reinterpret_cast<uintptr_t>(&inbox), input), port::kNoError);
  const port::OutputHandle output = OpenOutputNamed("a2j:Pad A [30]: Pad A MIDI 1");
  ASSERT_NE(output, nullptr);
  OtherClient other;
  ASSERT_TRUE(other.Running());
  EXPECT_EQ(other.Ports("^portprobe").size(), 2u);

  GetParam().closeClients(*service);
  // Gone when the call returns, not when the server's timeout finds them dead.
  EXPECT_EQ(other.Ports("^portprobe"), std::vector<std::string>{});
  EXPECT_EQ(service->InputCount(), 0u);
  EXPECT_EQ(service->OutputCount(), 0u);
  // One layer refuses the header already, the other the send.
  Bytes note = {0x90, 0x3C, 0x64};
  port::MidiHeader header;
  header.lpData = note.data();
  header.dwBufferLength = static_cast<uint32_t>(note.size());
  const port::Result prepared = service->PrepareOutput(output, header);
  EXPECT_EQ(prepared == port::kNoError ? service->SendLong(output, header) : prepared, port::kInvalidHandle);
}

// What only the one-client layer promises.
class OneClientOnJack : public OnJack {};

TEST_P(OneClientOnJack, EveryPortOfTheProgramIsAPortOfOneClient) {
  ASSERT_NO_FATAL_FAILURE(Publish({Device("Pad A", 30, std::make_shared<PeerController>()),
                                   Device("Pad B", 31, std::make_shared<PeerController>())}));
  ASSERT_EQ(service->InputCount(), 2u);
  ASSERT_EQ(service->OutputCount(), 2u);
  for (unsigned index = 0; index < 2; ++index) {
    port::InputHandle input = nullptr;
    ASSERT_EQ(service->OpenInput(index, Inbox::Callback, reinterpret_cast<uintptr_t>(&inbox), input), port::kNoError);
    port::OutputHandle output = nullptr;
    ASSERT_EQ(service->OpenOutput(index, output), port::kNoError);
  }
  OtherClient other;
  ASSERT_TRUE(other.Running());
  EXPECT_EQ(other.Ports("^portprobe:").size(), 4u);
  EXPECT_EQ(other.Ports("^portprobe-"), std::vector<std::string>{});
  // Each device port is connected to a port of its own.
  EXPECT_EQ(other.Connections("a2j:Pad A [30] (capture): Pad A MIDI 1").size(), 1u);
  EXPECT_EQ(other.Connections("a2j:Pad B [31] (playback): Pad B MIDI 1").size(), 1u);
}

TEST_P(OneClientOnJack, ASendThatFindsTheQueueFullIsRefusedAsBusyAndNoneIsLost) {
  auto peer = std::make_shared<PeerController>();
  ASSERT_NO_FATAL_FAILURE(Publish({Device("Pad A", 30, peer)}));
  const port::OutputHandle output = OpenOutputNamed("a2j:Pad A [30]: Pad A MIDI 1");
  ASSERT_NE(output, nullptr);
  constexpr size_t kMessages = 400;
  const auto numbered = [](size_t number) {
    Bytes message = SysExOfLength(1000);
    std::fill(message.begin() + 1, message.end() - 1, static_cast<uint8_t>(number % 128));
    return message;
  };
  std::vector<Bytes> sent;
  // With the server held, no cycle carries the queue away (but one that was
  // under way, a port buffer's worth), so it fills however slowly this
  // thread sends: far fewer than kMessages fit.
  ASSERT_TRUE(server->Pause());
  port::Result result = port::kNoError;
  while (sent.size() < kMessages && result == port::kNoError) {
    result = Send(output, numbered(sent.size()));
    if (result == port::kNoError) sent.push_back(numbered(sent.size()));
  }
  server->Resume();
  EXPECT_EQ(result, port::kNotReady) << sent.size() << " messages queued with no cycle running";
  // Once the cycles run again, every message goes through, the refused one too.
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (sent.size() < kMessages && std::chrono::steady_clock::now() < deadline) {
    result = Send(output, numbered(sent.size()));
    if (result == port::kNoError) {
      sent.push_back(numbered(sent.size()));
    } else {
      ASSERT_EQ(result, port::kNotReady) << "message " << sent.size();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  ASSERT_EQ(sent.size(), kMessages);
  EXPECT_EQ(peer->WaitForReceived(kMessages), sent);
}

TEST_P(OneClientOnJack, AServerThatGoesAwayLeavesNoPortsAndSendsFail) {
  ASSERT_NO_FATAL_FAILURE(Publish({Device("Pad A", 30, std::make_shared<PeerController>())}));
  const port::OutputHandle output = OpenOutputNamed("a2j:Pad A [30]: Pad A MIDI 1");
  ASSERT_NE(output, nullptr);
  ASSERT_EQ(Send(output, {0x90, 0x3C, 0x64}), port::kNoError);

  host->Stop();
  server->Stop();
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (Send(output, {0x80, 0x3C, 0x00}) == port::kNoError && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(Send(output, {0x80, 0x3C, 0x00}), port::kError);
  EXPECT_EQ(service->InputCount(), 0u);
  EXPECT_EQ(service->OutputCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Layers, OneClientOnJack, ::testing::Values(kJackLayer), LayerName);
INSTANTIATE_TEST_SUITE_P(Layers, OnJack, ::testing::Values(kRtMidiLayer, kJackLayer), LayerName);
INSTANTIATE_TEST_SUITE_P(Layers, OnJackWithALateClient, ::testing::Values(kRtMidiLayer, kJackLayer), LayerName);

} // namespace
