// The nanoKONTROL2 scene check: the handler's steps alone, then whole
// dialogues with a virtual nanoKONTROL2 over the simulated service.
#include "handlers/nano_kontrol.h"

#include <gtest/gtest.h>

#include <memory>

#include "midi/device.h"
#include "midi/port/simulated/controllers/nano_kontrol_controller.h"
#include "midi/port/simulated/protocol_tables.h"
#include "testkit/scenarios.h"
#include "tests/support/probe_harness.h"

namespace {

using Bytes = std::vector<uint8_t>;
using port::sim::NanoKontrolController;
using Ack = NanoKontrolController::Ack;
using State = CKorgNanoControl::State;

// From the protocol's tables, not from the handler's constants.
const Bytes kImage(port::sim::protocol::kNanoKontrolScene.begin(), port::sim::protocol::kNanoKontrolScene.end());
const Bytes kDumpRequest(port::sim::protocol::kNanoKontrolDumpRequest.begin(),
                         port::sim::protocol::kNanoKontrolDumpRequest.end());
const Bytes kWriteRequest(port::sim::protocol::kNanoKontrolWriteRequest.begin(),
                          port::sim::protocol::kNanoKontrolWriteRequest.end());
constexpr uint8_t kUploadDone = port::sim::protocol::kNanoKontrolUploadAccepted;
constexpr uint8_t kWriteDone = port::sim::protocol::kNanoKontrolWritten;

// F0 42 40 00 01 13 00 5F code 00 F7, as the controller acknowledges.
Bytes Answer(uint8_t code) {
  return {0xF0, 0x42, 0x40, 0x00, 0x01, 0x13, 0x00, 0x5F, code, 0x00, 0xF7};
}

Bytes Changed(Bytes bytes, size_t at, uint8_t value) {
  bytes.at(at) = value;
  return bytes;
}

int Count(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// The handler alone: what it sends is recorded with the state it had
// stored at that moment.
class NanoUnderTest final : public CKorgNanoControl {
 public:
  struct Sent {
    Bytes bytes;
    int32_t stateAtSend;
  };
  void SendSysEx(const uint8_t* bytes, uint16_t length) override {
    sent.push_back({Bytes(bytes, bytes + length), state});
  }
  // Each reply gets its own allocation of exactly its size, so that a read
  // past its end is a heap overflow under AddressSanitizer.
  void Feed(const Bytes& reply) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[reply.size()]);
    std::copy(reply.begin(), reply.end(), exact.get());
    OnSysEx(exact.get(), static_cast<uint16_t>(reply.size()));
  }
  // Started and brought to the state, with nothing recorded yet.
  void Reach(State target) {
    Start();
    if (target != AwaitingScene) Feed(Changed(kImage, 100, 0x01));
    if (target == AwaitingWriteAck) Feed(Answer(kUploadDone));
    ASSERT_EQ(state, target);
    sent.clear();
    app::logsink::BeginCapture();
  }
  int ImagesSent() const {
    int images = 0;
    for (const Sent& message : sent) images += message.bytes == kImage;
    return images;
  }

  std::vector<Sent> sent;
};

TEST(NanoKontrol, StartStoresAwaitingSceneThenSendsTheDumpRequest) {
  ConsoleCapture console;
  NanoUnderTest handler;
  EXPECT_EQ(handler.state, CKorgNanoControl::Idle);
  EXPECT_EQ(handler.retryCount, 0);
  EXPECT_EQ(handler.GetSysExBufferSize(), 512u);
  handler.Start();
  ASSERT_EQ(handler.sent.size(), 1u);
  EXPECT_EQ(handler.sent[0].bytes, Bytes({0xF0, 0x42, 0x40, 0x00, 0x01, 0x13, 0x00, 0x1F, 0x10, 0x00, 0xF7}));
  EXPECT_EQ(handler.sent[0].stateAtSend, CKorgNanoControl::AwaitingScene);
  EXPECT_EQ(app::logsink::CaptureContents(), "");
}

TEST(NanoKontrol, EachStepStoresItsStateSendsAndLogsExactly) {
  enum class Sends { Nothing, Image, Write };
  struct Case {
    const char* name;
    State from;
    Bytes reply;
    State to;
    Sends sends;
    const char* log;
    int32_t retryCount;
  };
  const Bytes tooShortForByte8 = {0xF0, 0x42, 0x40, 0x00, 0x01, 0x13, 0x00, 0xF7};
  const Bytes headerOnly = {0xF0, 0x42, 0x40, 0x00, 0x01, 0x13};
  Bytes longer = kImage;
  longer.push_back(0x00);
  const Case cases[] = {
      {"scene equal to the image", State::AwaitingScene, kImage, State::Idle, Sends::Nothing,
       "current settings are good!\n", 0},
      {"scene differs in byte 2", State::AwaitingScene, Changed(kImage, 2, 0x41), State::AwaitingUploadAck,
       Sends::Image, "current settings are bad!\n", 0},
      {"scene on global channel 16", State::AwaitingScene, Changed(kImage, 2, 0x4F), State::AwaitingUploadAck,
       Sends::Image, "current settings are bad!\n", 0},
      {"scene differs in byte 6", State::AwaitingScene, Changed(kImage, 6, 0x01), State::AwaitingUploadAck,
       Sends::Image, "current settings are bad!\n", 0},
      {"scene differs in byte 7", State::AwaitingScene, Changed(kImage, 7, 0x00), State::AwaitingUploadAck,
       Sends::Image, "current settings are bad!\n", 0},
      {"scene differs in byte 400", State::AwaitingScene, Changed(kImage, 400, 0x01), State::AwaitingUploadAck,
       Sends::Image, "current settings are bad!\n", 0},
      {"scene differs in byte 401", State::AwaitingScene, Changed(kImage, 401, 0x00), State::AwaitingUploadAck,
       Sends::Image, "current settings are bad!\n", 0},
      {"401-byte dump", State::AwaitingScene, Bytes(kImage.begin(), kImage.end() - 1), State::AwaitingScene,
       Sends::Nothing, "", 0},
      {"403-byte dump", State::AwaitingScene, longer, State::AwaitingScene, Sends::Nothing, "", 0},
      {"acknowledgement while waiting for the scene", State::AwaitingScene, Answer(kUploadDone), State::AwaitingScene,
       Sends::Nothing, "", 0},
      {"upload acknowledged", State::AwaitingUploadAck, Answer(0x23), State::AwaitingWriteAck, Sends::Write, "", 0},
      {"upload acknowledged, byte 7 other", State::AwaitingUploadAck, Changed(Answer(0x23), 7, 0x00),
       State::AwaitingWriteAck, Sends::Write, "", 0},
      {"upload acknowledged, other global channel and byte 6", State::AwaitingUploadAck,
       Changed(Changed(Answer(0x23), 2, 0x4F), 6, 0x7F), State::AwaitingWriteAck, Sends::Write, "", 0},
      {"upload refused", State::AwaitingUploadAck, Answer(0x24), State::AwaitingUploadAck, Sends::Image, "", 1},
      {"write confirmation while waiting for the upload's", State::AwaitingUploadAck, Answer(0x21),
       State::AwaitingUploadAck, Sends::Image, "", 1},
      {"upload answer too short for byte 8", State::AwaitingUploadAck, tooShortForByte8, State::AwaitingUploadAck,
       Sends::Image, "", 1},
      {"upload answer of the header alone", State::AwaitingUploadAck, headerOnly, State::AwaitingUploadAck,
       Sends::Image, "", 1},
      {"write confirmed", State::AwaitingWriteAck, Answer(0x21), State::Idle, Sends::Nothing, "data upload success!\n",
       0},
      {"write failed", State::AwaitingWriteAck, Answer(0x22), State::AwaitingUploadAck, Sends::Image,
       "data upload failed!!\n", 1},
      {"upload acknowledgement while waiting for the write's", State::AwaitingWriteAck, Answer(0x23),
       State::AwaitingUploadAck, Sends::Image, "data upload failed!!\n", 1},
      {"write answer too short for byte 8", State::AwaitingWriteAck, tooShortForByte8, State::AwaitingUploadAck,
       Sends::Image, "data upload failed!!\n", 1},
      {"write answer of the header alone", State::AwaitingWriteAck, headerOnly, State::AwaitingUploadAck, Sends::Image,
       "data upload failed!!\n", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ConsoleCapture console;
    NanoUnderTest handler;
    handler.Reach(c.from);
    handler.Feed(c.reply);
    EXPECT_EQ(handler.state, c.to);
    EXPECT_EQ(handler.retryCount, c.retryCount);
    EXPECT_EQ(app::logsink::CaptureContents(), c.log);
    if (c.sends == Sends::Nothing) {
      EXPECT_TRUE(handler.sent.empty());
      continue;
    }
    ASSERT_EQ(handler.sent.size(), 1u);
    EXPECT_EQ(handler.sent[0].bytes, c.sends == Sends::Image ? kImage : kWriteRequest);
    // Stored before it left: a reply that comes at once finds it.
    EXPECT_EQ(handler.sent[0].stateAtSend, c.to);
  }
}

TEST(NanoKontrol, RepliesFailingTheFilterAreIgnoredInEveryState) {
  // What each state would act on if the header were right.
  const std::pair<State, Bytes> awaited[] = {
      {State::AwaitingScene, Changed(kImage, 100, 0x01)},
      {State::AwaitingUploadAck, Answer(kUploadDone)},
      {State::AwaitingWriteAck, Answer(kWriteDone)},
  };
  struct Fault {
    const char* name;
    size_t at;
    uint8_t value;
  };
  const Fault faults[] = {
      {"no F0", 0, 0xF7}, {"another maker", 1, 0x43}, {"byte 3", 3, 0x01}, {"byte 4", 4, 0x00}, {"model 14", 5, 0x14},
  };
  for (const auto& [state, reply] : awaited) {
    for (const Fault& fault : faults) {
      SCOPED_TRACE(std::string(fault.name) + " in state " + std::to_string(state));
      ConsoleCapture console;
      NanoUnderTest handler;
      handler.Reach(state);
      handler.Feed(Changed(reply, fault.at, fault.value));
      handler.Feed(Bytes(reply.begin(), reply.begin() + 5)); // shorter than the header
      handler.Feed({});
      EXPECT_EQ(handler.state, state);
      EXPECT_EQ(handler.retryCount, 0);
      EXPECT_TRUE(handler.sent.empty());
      EXPECT_EQ(app::logsink::CaptureContents(), "");
    }
  }
}

TEST(NanoKontrol, FinalStatesIgnoreEveryReply) {
  const Bytes replies[] = {kImage, Changed(kImage, 9, 0x00), Answer(0x21), Answer(0x23), Answer(0x24)};
  for (State final : {State::Idle, State::Failed}) {
    ConsoleCapture console;
    NanoUnderTest handler;
    if (final == State::Idle) {
      handler.Reach(State::AwaitingScene);
      handler.Feed(kImage);
    } else {
      handler.Reach(State::AwaitingUploadAck);
      for (int failure = 0; failure < 10; ++failure) handler.Feed(Answer(0x24));
    }
    ASSERT_EQ(handler.state, final);
    handler.sent.clear();
    app::logsink::BeginCapture();
    for (const Bytes& reply : replies) handler.Feed(reply);
    EXPECT_EQ(handler.state, final);
    EXPECT_TRUE(handler.sent.empty());
    EXPECT_EQ(app::logsink::CaptureContents(), "");
  }
}

TEST(NanoKontrol, TenFailuresInAnyMixEndTheDialogueWithTheImageSentTenTimes) {
  // u: upload refused, U: upload accepted, w: write failed, s: answer too
  // short (a failure in either step).
  struct Mix {
    const char* answers;
    int writeFailures;
  };
  const Mix mixes[] = {
      {"uuuuuuuuuu", 0},
      {"UwUwUwUwUwUwUwUwUwUw", 10},
      {"uUwsUsuUwuUwsUw", 5},
      {"sssssssss"
       "Us",
       1},
  };
  for (const Mix& mix : mixes) {
    SCOPED_TRACE(mix.answers);
    ConsoleCapture console;
    NanoUnderTest handler;
    handler.Reach(State::AwaitingScene);
    handler.Feed(Changed(kImage, 50, 0x02));
    for (const char* answer = mix.answers; *answer != '\0'; ++answer) {
      ASSERT_NE(handler.state, CKorgNanoControl::Failed) << "gave up before the tenth failure";
      switch (*answer) {
        case 'u':
          handler.Feed(Answer(0x24));
          break;
        case 'U':
          handler.Feed(Answer(0x23));
          break;
        case 'w':
          handler.Feed(Answer(0x22));
          break;
        case 's':
          handler.Feed({0xF0, 0x42, 0x40, 0x00, 0x01, 0x13, 0x00});
          break;
      }
    }
    EXPECT_EQ(handler.state, CKorgNanoControl::Failed);
    EXPECT_EQ(handler.retryCount, 10);
    EXPECT_EQ(handler.ImagesSent(), 10);
    const std::string log = app::logsink::CaptureContents();
    EXPECT_EQ(Count(log, "data upload failed!!\n"), mix.writeFailures);
    EXPECT_EQ(Count(log, "data upload success!\n"), 0);
    const size_t sentBefore = handler.sent.size();
    handler.Feed(Answer(0x23));
    handler.Feed(Answer(0x21));
    EXPECT_EQ(handler.sent.size(), sentBefore);
  }
}

// --- whole dialogues over the simulated service ---

struct NanoRun {
  std::string log; // the report up to the device summary
  int32_t state = -1;
  int32_t retryCount = -1;
  port::sim::OutputRecord output;
};

NanoKontrolController::Settings Holding(Bytes scene) {
  NanoKontrolController::Settings settings;
  settings.scene = std::move(scene);
  return settings;
}

// One run of the tool; the handler is read once everything has been said.
NanoRun RunWith(port::sim::SimulatedService& service, unsigned output = 0) {
  ConsoleCapture console;
  CMIDIManagerWin manager(service);
  NanoRun result;
  app::RunProbe(
      manager,
      [&] {
        WaitForQuiet(service, manager);
        const auto* handler = static_cast<CKorgNanoControl*>(manager.devices.at(0)->handler);
        result.state = handler->state;
        result.retryCount = handler->retryCount;
      },
      [&](const app::ReportText& text) {
        const std::string report = text.Joined();
        result.log = report.substr(0, report.find("\r\n\r\n"));
      });
  result.output = service.Output(output);
  return result;
}

TEST(NanoKontrolRun, ControllerHoldingTheSceneIsAskedOnceAndToldItIsGood) {
  port::sim::SimulatedService service;
  auto controller = std::make_shared<NanoKontrolController>(Holding(kImage));
  service.AddDevice("nanoKONTROL2", controller);
  const NanoRun run = RunWith(service);
  ASSERT_EQ(run.output.messages.size(), 1u);
  EXPECT_EQ(run.output.messages[0], kDumpRequest);
  EXPECT_EQ(run.state, CKorgNanoControl::Idle);
  EXPECT_EQ(controller->Uploads(), 0);
  EXPECT_EQ(controller->WriteRequests(), 0);
  EXPECT_EQ(Count(run.log, "current settings are good!\n"), 1);
  EXPECT_EQ(run.log.substr(run.log.size() - 27), "current settings are good!\n");
}

TEST(NanoKontrolRun, ControllerWithAnotherSceneIsRewrittenAndConfirmed) {
  port::sim::SimulatedService service;
  ASSERT_TRUE(testkit::BuildScenario("nano-bad-scene", service));
  const NanoRun run = RunWith(service);
  ASSERT_EQ(run.output.messages.size(), 3u);
  EXPECT_EQ(run.output.messages[0], kDumpRequest);
  EXPECT_EQ(run.output.messages[1], kImage);
  EXPECT_EQ(run.output.messages[2], kWriteRequest);
  EXPECT_EQ(run.state, CKorgNanoControl::Idle);
  EXPECT_EQ(run.retryCount, 0);
  const size_t bad = run.log.find("current settings are bad!\n");
  ASSERT_NE(bad, std::string::npos);
  EXPECT_NE(run.log.find("data upload success!\n", bad), std::string::npos);
  EXPECT_EQ(run.log.find("failed"), std::string::npos);
}

TEST(NanoKontrolRun, ControllerOnAnotherGlobalChannelAlwaysGetsTheImage) {
  for (uint8_t channel : {1, 3, 15}) {
    SCOPED_TRACE(static_cast<int>(channel));
    port::sim::SimulatedService service;
    NanoKontrolController::Settings settings = Holding(kImage);
    settings.globalChannel = channel;
    service.AddDevice("nanoKONTROL2", std::make_shared<NanoKontrolController>(settings));
    const NanoRun run = RunWith(service);
    ASSERT_EQ(run.output.messages.size(), 3u);
    EXPECT_EQ(run.output.messages[1], kImage); // with byte 2 = 40, whatever the controller's channel
    EXPECT_NE(run.log.find("current settings are bad!\n"), std::string::npos);
    EXPECT_NE(run.log.find("data upload success!\n"), std::string::npos);
  }
}

TEST(NanoKontrolRun, DumpOfTheWrongLengthIsIgnoredAndTheHandlerKeepsWaiting) {
  Bytes shorter = kImage;
  shorter.erase(shorter.end() - 2); // still ends in F7
  Bytes longer = kImage;
  longer.insert(longer.end() - 1, 0x00);
  for (const Bytes& scene : {shorter, longer}) {
    SCOPED_TRACE(scene.size());
    port::sim::SimulatedService service;
    service.AddDevice("nanoKONTROL2", std::make_shared<NanoKontrolController>(Holding(scene)));
    ConsoleCapture console;
    CMIDIManagerWin manager(service);
    manager.Start();
    WaitForQuiet(service, manager);
    const auto* handler = static_cast<CKorgNanoControl*>(manager.devices.at(0)->handler);
    EXPECT_EQ(handler->state, CKorgNanoControl::AwaitingScene);
    EXPECT_EQ(service.Output(0).messages.size(), 1u);
    EXPECT_EQ(app::logsink::CaptureContents().find("current settings"), std::string::npos);
    // The right scene, when it comes, is still checked.
    service.Inject(0, port::sim::ControllerEvent::SysExMessage(kImage));
    service.WaitUntilIdle();
    EXPECT_EQ(handler->state, CKorgNanoControl::Idle);
    EXPECT_NE(app::logsink::CaptureContents().find("current settings are good!\n"), std::string::npos);
    manager.Stop();
  }
}

TEST(NanoKontrolRun, TenFailedAcknowledgementsEndWithTheImageSentTenTimes) {
  port::sim::SimulatedService service;
  ASSERT_TRUE(testkit::BuildScenario("nano-failing", service));
  const NanoRun run = RunWith(service);
  int images = 0;
  int writes = 0;
  for (const Bytes& message : run.output.messages) {
    images += message == kImage;
    writes += message == kWriteRequest;
  }
  EXPECT_EQ(images, 10);
  EXPECT_EQ(writes, 5);
  EXPECT_EQ(run.output.messages.size(), 1u + 10u + 5u);
  EXPECT_EQ(run.state, CKorgNanoControl::Failed);
  EXPECT_EQ(run.retryCount, 10);
  EXPECT_EQ(Count(run.log, "data upload failed!!\n"), 5);
  EXPECT_EQ(Count(run.log, "data upload success!\n"), 0);
}

TEST(NanoKontrolRun, SilentControllerLeavesTheHandlerWaitingForTheAcknowledgement) {
  port::sim::SimulatedService service;
  NanoKontrolController::Settings settings = Holding(Changed(kImage, 20, 0x01));
  settings.thereafter = Ack::Never;
  service.AddDevice("nanoKONTROL2", std::make_shared<NanoKontrolController>(settings));
  const NanoRun run = RunWith(service);
  EXPECT_EQ(run.state, CKorgNanoControl::AwaitingUploadAck);
  EXPECT_EQ(run.output.messages.size(), 2u);
}

TEST(NanoKontrolRun, ControllerWithoutAnOutputOfItsNameIsSentNothing) {
  port::sim::SimulatedService service;
  auto controller = std::make_shared<NanoKontrolController>(Holding(Changed(kImage, 20, 0x01)));
  const unsigned input = service.AddInput("nanoKONTROL2");
  const unsigned output = service.AddOutput("nanoKONTROL2 OUT");
  service.Connect(controller, static_cast<int>(input), static_cast<int>(output));
  const NanoRun run = RunWith(service, output);
  EXPECT_EQ(run.output.sendCalls, 0);
  EXPECT_EQ(run.output.prepareCalls, 0);
  EXPECT_EQ(controller->DumpRequests(), 0);
  // The state was stored before the send that could not go out.
  EXPECT_EQ(run.state, CKorgNanoControl::AwaitingScene);
  EXPECT_EQ(run.log, "MIM_OPEN\nMIDI device found: nanoKONTROL2\n");
}

} // namespace
