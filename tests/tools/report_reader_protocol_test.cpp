// The tool and its report reader read a controller's replies alike: each
// reply is played to the real handler over the simulated service, and what
// the handler made of it (renamed or not, by which model; scene or not;
// acknowledged or failed) must be what the reader makes of the report the
// run wrote. The replies are written here from the protocols, good ones,
// bad ones, other global channels and cut ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/run.h"
#include "handlers/bcf2000.h"
#include "handlers/nano_kontrol.h"
#include "midi/device.h"
#include "midi/port/simulated/protocol_tables.h"
#include "tests/support/probe_harness.h"
#include "tools/report_reader/findings.h"
#include "tools/report_reader/render.h"

namespace {

namespace protocol = port::sim::protocol;
using Bytes = std::vector<uint8_t>;

// Answers the messages it is sent, one answer each, in order, then none;
// or, told to, is unplugged as it sends its last answer.
class Answering final : public port::sim::VirtualController {
 public:
  Answering(std::deque<Bytes> answers, bool unplugAfterLast)
      : answers(std::move(answers)), unplugAfterLast(unplugAfterLast) {}
  void OnReceive(const uint8_t*, size_t, port::sim::ControllerLink& link) override {
    std::lock_guard<std::mutex> guard(lock);
    if (answers.empty()) return;
    link.SendSysEx(answers.front());
    answers.pop_front();
    if (answers.empty() && unplugAfterLast) {
      port::sim::ControllerEvent unplug;
      unplug.kind = port::sim::ControllerEvent::Kind::Unplug;
      link.Send(unplug);
    }
  }

 private:
  std::mutex lock;
  std::deque<Bytes> answers;
  const bool unplugAfterLast;
};

// One device over the simulated service, run until the dialogue is quiet;
// the report as the tool builds it, and its handler as it ended.
struct ToolRun {
  ToolRun(const std::string& port, std::deque<Bytes> answers, bool unplugAfterLast = false) {
    service.AddDevice(port, std::make_shared<Answering>(std::move(answers), unplugAfterLast));
    manager.Start();
    WaitForQuiet(service, manager);
    report = app::BuildReport(manager).Joined();
    device = manager.devices.at(0);
  }
  ~ToolRun() { manager.Stop(); }
  bool Finds(const std::string& finding) const {
    const std::vector<report_reader::Finding>& findings = reading.findings;
    return std::any_of(findings.begin(), findings.end(), [&](const report_reader::Finding& found) {
      return found.text.find(finding) != std::string::npos;
    });
  }

  ConsoleCapture console;
  port::sim::SimulatedService service;
  CMIDIManagerWin manager{service};
  std::string report;
  CMIDIDevice* device = nullptr;
  report_reader::Reading reading;
};

Bytes Reply(uint8_t deviceNumber, uint8_t model, uint8_t command, const std::string& text) {
  Bytes reply = {0xF0, 0x00, 0x20, 0x32, deviceNumber, model, command};
  for (const char c : text) reply.push_back(static_cast<uint8_t>(c));
  reply.push_back(0xF7);
  return reply;
}

TEST(ReaderAndTool, ReadAnIdentityReplyAlike) {
  const struct {
    const char* what;
    Bytes reply;
  } cases[] = {
      {"a BCF2000's reply with a name", Reply(0x00, 0x14, 0x02, "BCF2000 Stage")},
      {"a BCR2000's reply on a BCF2000 port", Reply(0x00, 0x15, 0x02, "Desk")},
      {"three bytes of name", Reply(0x00, 0x14, 0x02, "abc")},
      {"two bytes of name: none", Reply(0x00, 0x15, 0x02, "ab")},
      {"no name at all", Reply(0x00, 0x14, 0x02, "")},
      {"another device number", Reply(0x01, 0x14, 0x02, "Stage")},
      {"another model", Reply(0x00, 0x16, 0x02, "Stage")},
      {"another command", Reply(0x00, 0x14, 0x03, "Stage")},
      {"cut after the model byte", {0xF0, 0x00, 0x20, 0x32, 0x00, 0x14, 0xF7}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ToolRun run("BCF2000", {c.reply});
    run.reading = report_reader::Read(run.report);
    auto* handler = dynamic_cast<CBCF2000*>(run.device->handler);
    ASSERT_NE(handler, nullptr);
    const std::string name = run.device->name.Get();
    const bool accepted = !handler->awaitingIdentity;
    const bool renamed = accepted && name != "BCF2000";

    EXPECT_EQ(run.Finds("answered the identity request and was renamed by it"), renamed)
        << report_reader::FindingsOnly(run.reading);
    EXPECT_EQ(run.Finds("carried no device name"), accepted && !renamed) << report_reader::FindingsOnly(run.reading);
    EXPECT_EQ(run.Finds("no accepted identity reply within the run"), !accepted)
        << report_reader::FindingsOnly(run.reading);
    if (renamed) {
      std::string finding = "Device \"" + name;
      finding +=
          "\": BCF2000, supported; renamed by its identity reply from port name \"BCF2000\", the reply claiming a ";
      finding += run.device->modelCode == kBCF2000Code ? "BCF2000." : "BCR2000.";
      EXPECT_TRUE(run.Finds(finding)) << report_reader::FindingsOnly(run.reading);
    }
    // The decoded log calls it an identity reply exactly when the tool
    // took it for one.
    bool decodedAsReply = false;
    for (size_t index = 0; index < run.reading.LogSize(); ++index) {
      decodedAsReply =
          decodedAsReply || run.reading.DecodedAt(index).meaning.find(": identity reply: ") != std::string::npos;
    }
    EXPECT_EQ(decodedAsReply, accepted);
  }
}

Bytes Scene(uint8_t byte1, uint8_t byte2, size_t length) {
  Bytes scene(protocol::kNanoKontrolScene.begin(), protocol::kNanoKontrolScene.end());
  scene[1] = byte1;
  scene[2] = byte2;
  scene.resize(length, 0x00);
  scene.back() = 0xF7;
  return scene;
}

TEST(ReaderAndTool, ReadANanoKontrolScene) {
  const struct {
    const char* what;
    Bytes dump;
  } cases[] = {
      {"the required scene", Scene(0x42, 0x40, 402)},
      {"on global channel 6", Scene(0x42, 0x45, 402)},
      {"byte 2 not even a channel", Scene(0x42, 0x05, 402)},
      {"one byte short", Scene(0x42, 0x40, 401)},
      {"one byte long", Scene(0x42, 0x40, 403)},
      {"another maker's", Scene(0x43, 0x40, 402)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ToolRun run("nanoKONTROL2", {c.dump});
    run.reading = report_reader::Read(run.report);
    auto* handler = dynamic_cast<CKorgNanoControl*>(run.device->handler);
    ASSERT_NE(handler, nullptr);
    const bool tookItForTheScene = handler->state != CKorgNanoControl::AwaitingScene;
    const bool good = handler->state == CKorgNanoControl::Idle;

    EXPECT_EQ(run.Finds("\"nanoKONTROL2\": a scene dump"), tookItForTheScene)
        << report_reader::FindingsOnly(run.reading);
    EXPECT_EQ(run.Finds("its scene is the one the tool needs"), tookItForTheScene && good);
    EXPECT_EQ(run.Finds("its scene differed from the tool's"), tookItForTheScene && !good);
    EXPECT_EQ(run.Finds("no scene came back within the run"), !tookItForTheScene)
        << report_reader::FindingsOnly(run.reading);
  }
}

Bytes Acknowledgement(uint8_t byte1, uint8_t byte2, const std::vector<uint8_t>& answer) {
  Bytes ack = {0xF0, byte1, byte2, 0x00, 0x01, 0x13, 0x00};
  for (const uint8_t byte : answer) ack.push_back(byte);
  ack.push_back(0xF7);
  return ack;
}

TEST(ReaderAndTool, ReadANanoKontrolAcknowledgement) {
  const struct {
    const char* what;
    Bytes ack;
  } cases[] = {
      {"upload received", Acknowledgement(0x42, 0x40, {0x5F, protocol::kNanoKontrolUploadAccepted, 0x00})},
      {"upload received, another global channel", Acknowledgement(0x42, 0x4A, {0x5F, 0x23, 0x00})},
      {"upload received, byte 2 no channel", Acknowledgement(0x42, 0x07, {0x5F, 0x23, 0x00})},
      {"upload refused", Acknowledgement(0x42, 0x40, {0x5F, 0x24, 0x00})},
      {"too short to say", Acknowledgement(0x42, 0x40, {0x5F})},
      {"the write's answer instead", Acknowledgement(0x42, 0x40, {0x5F, protocol::kNanoKontrolWritten, 0x00})},
      {"another maker's", Acknowledgement(0x43, 0x40, {0x5F, 0x23, 0x00})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // A scene that differs, then the acknowledgement of its upload.
    ToolRun run("nanoKONTROL2", {Scene(0x42, 0x45, 402), c.ack});
    run.reading = report_reader::Read(run.report);
    auto* handler = dynamic_cast<CKorgNanoControl*>(run.device->handler);
    ASSERT_NE(handler, nullptr);
    ASSERT_TRUE(run.Finds("its scene differed from the tool's"));
    const int failures = handler->retryCount;
    EXPECT_EQ(run.Finds("the upload was not acknowledged as received 1 time"), failures == 1)
        << report_reader::FindingsOnly(run.reading);
    EXPECT_EQ(run.Finds("the upload was not acknowledged"), failures != 0) << report_reader::FindingsOnly(run.reading);
    // Received: the write request went out, and its answer never came.
    EXPECT_EQ(handler->state == CKorgNanoControl::AwaitingWriteAck, failures == 0 && c.ack[1] == 0x42);
    EXPECT_TRUE(run.Finds("no confirmed write seen within the run"));
  }
}

// What a unit's silence or scene most likely means, from what is known of
// the real devices: each situation played to the real handler, the report
// read back.
TEST(ReaderAndTool, NameTheLikelyCauseOfWhatTheUnitDid) {
  // A factory-fresh nanoKONTROL2 lights its LEDs itself (LED mode
  // internal, scene data byte 2, sent in the dump's byte 16); the tool
  // needs them external.
  Bytes factory(protocol::kNanoKontrolScene.begin(), protocol::kNanoKontrolScene.end());
  factory[16] = 0x00;
  const Bytes uploaded = Acknowledgement(0x42, 0x40, {0x5F, protocol::kNanoKontrolUploadAccepted, 0x00});
  const Bytes written = Acknowledgement(0x42, 0x40, {0x5F, protocol::kNanoKontrolWritten, 0x00});
  const struct {
    const char* what;
    const char* port;
    std::deque<Bytes> answers;
    bool unplugged;
    std::vector<std::string> findings; // each among the reading's
    const char* handlerState;          // what the handler must have come to
  } cases[] = {
      {"a BC that never answers",
       "BCF2000",
       {},
       false,
       {"BC device \"BCF2000\": a likely cause, not a certainty: such a unit answers this request only when its device "
        "ID is 1"},
       "awaiting identity"},
      {"a nanoKONTROL2 that never sends its scene",
       "nanoKONTROL2",
       {},
       false,
       {"nanoKONTROL2 \"nanoKONTROL2\": a likely cause, not a certainty: the unit answers the tool's scene request "
        "only on global MIDI channel 1"},
       "awaiting scene"},
      {"a factory-fresh nanoKONTROL2",
       "nanoKONTROL2",
       {factory, uploaded, written},
       false,
       {"nanoKONTROL2 \"nanoKONTROL2\": its scene differs from the tool's in LED mode (internal, the tool's: "
        "external): the LED mode alone, as a factory-fresh unit's scene differs.",
        "the scene was rewritten and the write confirmed"},
       "idle"},
      {"a nanoKONTROL2 pulled out right after it sent its scene",
       "nanoKONTROL2",
       {factory},
       true,
       {"no confirmed write seen within the run",
        "nanoKONTROL2 \"nanoKONTROL2\": a likely cause, not a certainty: the upload did not reach the unit, or it was "
        "disconnected during the run"},
       "awaiting upload acknowledgement"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ToolRun run(c.port, c.answers, c.unplugged);
    run.reading = report_reader::Read(run.report);
    for (const std::string& finding : c.findings) {
      EXPECT_TRUE(run.Finds(finding)) << finding << "\n" << report_reader::FindingsOnly(run.reading);
    }
    std::string state;
    if (auto* bc = dynamic_cast<CBCF2000*>(run.device->handler))
      state = bc->awaitingIdentity ? "awaiting identity" : "";
    if (auto* nano = dynamic_cast<CKorgNanoControl*>(run.device->handler)) {
      state = nano->state == CKorgNanoControl::Idle                ? "idle"
              : nano->state == CKorgNanoControl::AwaitingScene     ? "awaiting scene"
              : nano->state == CKorgNanoControl::AwaitingUploadAck ? "awaiting upload acknowledgement"
                                                                   : "other";
    }
    EXPECT_EQ(state, c.handlerState);
    // A cause is named only where the unit was silent or differed as above.
    const size_t causes = std::count_if(run.reading.findings.begin(), run.reading.findings.end(),
                                        [](const report_reader::Finding& f) { return f.kind == "likely-cause"; });
    EXPECT_EQ(causes, std::string(c.what).find("factory-fresh nanoKONTROL2") != std::string::npos ? 0u : 1u)
        << report_reader::FindingsOnly(run.reading);
  }
}

} // namespace
