// The BCF2000 / BCR2000 preset images and their upload, line by line with a
// pause after each; the pauses are counted, never slept.
#include "handlers/bc_presets.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>

#include "handlers/bcf2000.h"
#include "midi/device.h"
#include "midi/port/simulated/controllers/bc_controller.h"
#include "tests/support/probe_harness.h"

namespace {

using Bytes = std::vector<uint8_t>;
using port::sim::BCController;

// A CBCF2000 whose sends and pauses land in one journal, in order.
class BCUnderTest final : public CBCF2000 {
 public:
  struct Entry {
    Bytes message; // empty for a pause
    unsigned pauseMs = 0;
  };
  BCUnderTest() {
    presetPause = [this](unsigned milliseconds) { journal.push_back({{}, milliseconds}); };
  }
  void SendSysEx(const uint8_t* bytes, uint16_t length) override { journal.push_back({Bytes(bytes, bytes + length)}); }

  std::vector<Bytes> Messages() const {
    std::vector<Bytes> messages;
    for (const Entry& entry : journal) {
      if (!entry.message.empty()) messages.push_back(entry.message);
    }
    return messages;
  }

  std::vector<Entry> journal;
};

// The upload of a device with the given model code.
struct Upload {
  explicit Upload(char modelCode) {
    device.modelCode = modelCode;
    handler.device = &device;
    handler.UploadPreset();
    messages = handler.Messages();
    for (const Bytes& message : messages) lines.emplace_back(message.begin() + 9, message.end() - 1);
  }
  size_t IndexOf(const std::string& line) const {
    return static_cast<size_t>(std::find(lines.begin(), lines.end(), line) - lines.begin());
  }

  port::sim::SimulatedService service;
  CMIDIManagerWin manager{service};
  CMIDIDeviceWin device{manager, service};
  BCUnderTest handler;
  std::vector<Bytes> messages;
  std::vector<std::string> lines;
};

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

struct Image {
  char modelCode;
  size_t messages;
  size_t bytes;
  uint8_t modelByte;
  const char* firstLine;
  uint8_t lastIndexHigh, lastIndexLow;
  int highestController;
};
const Image kImages[] = {
    {'G', 476, 13121, 0x14, "$rev F1", 0x03, 0x5B, 94},
    {'H', 562, 15586, 0x15, "$rev R1", 0x04, 0x31, 110},
    {'D', 562, 15586, 0x15, "$rev R1", 0x04, 0x31, 110}, // any code but 'G'
};

TEST(BCPreset, ImagesHaveTheirSizeAndEveryLineIsFramedWithItsIndex) {
  for (const Image& image : kImages) {
    SCOPED_TRACE(image.modelCode);
    const Upload upload(image.modelCode);
    ASSERT_EQ(upload.messages.size(), image.messages);
    size_t total = 0;
    size_t longest = 0;
    for (size_t index = 0; index < upload.messages.size(); ++index) {
      const Bytes& message = upload.messages[index];
      total += message.size();
      longest = std::max(longest, message.size());
      ASSERT_GE(message.size(), 10u);
      EXPECT_EQ(Bytes(message.begin(), message.begin() + 7),
                Bytes({0xF0, 0x00, 0x20, 0x32, 0x00, image.modelByte, 0x20}));
      EXPECT_EQ(message[7], index >> 7);
      EXPECT_EQ(message[8], index & 0x7F);
      EXPECT_EQ(message.back(), 0xF7);
    }
    EXPECT_EQ(total, image.bytes);
    EXPECT_EQ(longest, 44u); // the name line
    Bytes first = {0xF0, 0x00, 0x20, 0x32, 0x00, image.modelByte, 0x20, 0x00, 0x00};
    const Bytes text = Text(image.firstLine);
    first.insert(first.end(), text.begin(), text.end());
    first.push_back(0xF7);
    EXPECT_EQ(upload.messages.front(), first);
    EXPECT_EQ(upload.messages.back(), Bytes({0xF0, 0x00, 0x20, 0x32, 0x00, image.modelByte, 0x20, image.lastIndexHigh,
                                             image.lastIndexLow, '$', 'e', 'n', 'd', 0xF7}));
    EXPECT_EQ(Bytes(upload.messages[127].begin() + 7, upload.messages[127].begin() + 9), Bytes({0x00, 0x7F}));
    EXPECT_EQ(Bytes(upload.messages[128].begin() + 7, upload.messages[128].begin() + 9), Bytes({0x01, 0x00}));
  }
}

TEST(BCPreset, LinesFollowTheTextConventionsAndUseEachControllerOnce) {
  for (const Image& image : kImages) {
    SCOPED_TRACE(image.modelCode);
    const Upload upload(image.modelCode);
    std::multiset<int> controllers;
    for (size_t index = 0; index < upload.lines.size(); ++index) {
      const std::string& line = upload.lines[index];
      SCOPED_TRACE(line);
      ASSERT_FALSE(line.empty());
      EXPECT_NE(line.back(), ' ');
      if (line[0] != '$') {
        EXPECT_EQ(line.compare(0, 3, "  ."), 0);
      }
      if (index != 2) { // single blanks, but inside the name
        EXPECT_EQ(line.find("  ", 1), std::string::npos);
      }
      const std::string easypar = "  .easypar CC 1 ";
      if (line.compare(0, easypar.size(), easypar) == 0) controllers.insert(std::stoi(line.substr(easypar.size())));
    }
    EXPECT_EQ(upload.lines[2], "  .name 'all controls            '");
    std::multiset<int> expected;
    for (int controller = 1; controller <= image.highestController; ++controller) expected.insert(controller);
    EXPECT_EQ(controllers, expected);
  }
}

TEST(BCPreset, BlocksComeInTheirOrderWithTheirDefaults) {
  const Upload bcf('G');
  const Upload bcr('H');
  for (const Upload* upload : {&bcf, &bcr}) {
    const size_t button52 = upload->IndexOf("$button 52");
    ASSERT_LT(button52 + 4, upload->lines.size());
    EXPECT_EQ(upload->lines[button52 + 4], "$button 61");
  }
  // Fader 9 has no default line and is the last block.
  const size_t fader9 = bcf.IndexOf("$fader 9");
  ASSERT_EQ(fader9 + 7, bcf.lines.size());
  EXPECT_EQ(bcf.lines[fader9 + 3], "  .motor off");
  EXPECT_EQ(bcf.lines[fader9 + 5], "  .keyoverride off");
  EXPECT_EQ(bcf.lines[fader9 + 6], "$end");
  EXPECT_EQ(bcf.IndexOf("$encoder 1"), 9u);
  EXPECT_EQ(bcf.IndexOf("$button 1"), 201u);
  EXPECT_EQ(bcf.IndexOf("$fader 1"), 413u);
  EXPECT_EQ(bcr.IndexOf("$button 1"), 345u);
  EXPECT_EQ(bcr.IndexOf("$button 62"), 557u);
  EXPECT_EQ(bcr.lines[bcr.IndexOf("$encoder 33") + 3], "  .mode 1dot");
  EXPECT_EQ(bcr.lines[bcr.IndexOf("$encoder 32") + 3], "  .mode 12dot");

  // The last line of each block is its default.
  const std::map<std::string, std::string> bcfDefaults = {
      {"$encoder 1", "7"},   {"$encoder 2", "62"}, {"$encoder 6", "25"},  {"$encoder 7", "0"},
      {"$encoder 8", "64"},  {"$encoder 32", "0"}, {"$button 1", "0"},    {"$button 2", "127"},
      {"$button 42", "127"}, {"$button 48", "0"},  {"$button 50", "127"}, {"$button 52", "0"},
      {"$button 61", "0"},   {"$fader 1", "65"},   {"$fader 2", "66"},    {"$fader 8", "64"},
  };
  for (const auto& [head, value] : bcfDefaults) {
    const size_t at = bcf.IndexOf(head);
    const size_t blockLines = head[1] == 'e' ? 6 : head[1] == 'b' ? 4 : 7;
    ASSERT_LT(at, bcf.lines.size()) << head;
    EXPECT_EQ(bcf.lines[at + blockLines - 1], "  .default " + value) << head;
  }
  int buttonsOn = 0;
  for (const std::string& line : bcf.lines) buttonsOn += line == "  .default 127";
  EXPECT_EQ(buttonsOn, 24);
  for (const std::string& line : bcr.lines) {
    if (line.compare(0, 11, "  .default ") == 0) {
      EXPECT_EQ(line, "  .default 0");
    }
  }
}

// A sample of lines, written out by hand from the images' rules (block
// templates, numbers, controllers, defaults, modes, motors), not from the
// code that generates them: every kind of block, the header, and each
// image's first and last line.
TEST(BCPreset, SampleLinesAreTheOnesTheRulesGive) {
  struct Line {
    size_t index;
    const char* text;
  };
  const std::vector<Line> bcf = {
      {0, "$rev F1"},
      {1, "$preset"},
      {2, "  .name 'all controls            '"},
      {3, "  .snapshot off"},
      {7, "  .lock off"},
      {8, "  .init"},
      {9, "$encoder 1"},
      {10, "  .easypar CC 1 1 0 127 absolute"},
      {11, "  .showvalue on"},
      {12, "  .mode 12dot"},
      {13, "  .resolution 96 96 96 96"},
      {14, "  .default 7"},
      {195, "$encoder 32"},
      {196, "  .easypar CC 1 32 0 127 absolute"},
      {200, "  .default 0"},
      {201, "$button 1"},
      {202, "  .easypar CC 1 33 127 0 toggleon"},
      {203, "  .showvalue on"},
      {204, "  .default 0"},
      {208, "  .default 127"}, // button 2
      {393, "$button 49"},
      {394, "  .easypar CC 1 89 127 0 toggleon"},
      {409, "$button 61"},
      {410, "  .easypar CC 1 93 127 0 toggleon"},
      {412, "  .default 0"},
      {413, "$fader 1"},
      {414, "  .easypar CC 1 81 0 127 absolute"},
      {415, "  .showvalue on"},
      {416, "  .motor on"},
      {417, "  .override move"},
      {418, "  .keyoverride off"},
      {419, "  .default 65"},
      {426, "  .default 66"}, // fader 2
      {469, "$fader 9"},
      {470, "  .easypar CC 1 94 0 127 absolute"},
      {472, "  .motor off"},
      {474, "  .keyoverride off"},
      {475, "$end"},
  };
  const std::vector<Line> bcr = {
      {0, "$rev R1"},
      {2, "  .name 'all controls            '"},
      {14, "  .default 0"}, // encoder 1
      {201, "$encoder 33"},
      {202, "  .easypar CC 1 81 0 127 absolute"},
      {204, "  .mode 1dot"},
      {339, "$encoder 56"},
      {340, "  .easypar CC 1 104 0 127 absolute"},
      {345, "$button 1"},
      {346, "  .easypar CC 1 33 127 0 toggleon"},
      {537, "$button 49"},
      {538, "  .easypar CC 1 105 127 0 toggleon"},
      {553, "$button 61"},
      {554, "  .easypar CC 1 109 127 0 toggleon"},
      {557, "$button 62"},
      {558, "  .easypar CC 1 110 127 0 toggleon"},
      {560, "  .default 0"},
      {561, "$end"},
  };
  for (const auto& [modelCode, sample] : {std::make_pair('G', bcf), std::make_pair('H', bcr)}) {
    const Upload upload(modelCode);
    for (const Line& line : sample) {
      ASSERT_LT(line.index, upload.lines.size()) << modelCode;
      EXPECT_EQ(upload.lines[line.index], line.text) << modelCode << " line " << line.index;
    }
  }
}

TEST(BCPreset, EveryMessageIsFollowedByATenMillisecondPause) {
  for (char modelCode : {'G', 'H'}) {
    const Upload upload(modelCode);
    const auto& journal = upload.handler.journal;
    ASSERT_EQ(journal.size(), 2 * upload.messages.size());
    for (size_t at = 0; at < journal.size(); at += 2) {
      EXPECT_FALSE(journal[at].message.empty()) << at;
      EXPECT_TRUE(journal[at + 1].message.empty()) << at;
      EXPECT_EQ(journal[at + 1].pauseMs, 10u) << at;
    }
  }
}

// Over the simulated service, after the identity dialogue of a whole start.
TEST(BCPresetRun, ImageFollowsTheModelTheIdentityReplyLeft) {
  struct Case {
    const char* port;
    BCController::Identity identity;
    char modelCode;
    size_t lines;
    const char* firstLine;
  };
  BCController::Identity silentBCF = BCController::BCF2000();
  silentBCF.reply = BCController::Reply::None;
  const Case cases[] = {
      {"BCF2000", BCController::BCR2000("BCR Desk"), 'H', 562, "$rev R1"},
      {"BCR2000", BCController::BCF2000("BCF Desk"), 'G', 476, "$rev F1"},
      {"BCF2000", silentBCF, 'G', 476, "$rev F1"}, // no reply: the port name decides
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.firstLine);
    ConsoleCapture console;
    port::sim::SimulatedService service;
    auto controller = std::make_shared<BCController>(c.identity);
    service.AddDevice(c.port, controller);
    CMIDIManagerWin manager(service);
    manager.Start();
    WaitForQuiet(service, manager);
    CMIDIDeviceWin* device = static_cast<CMIDIDeviceWin*>(manager.devices.at(0));
    ASSERT_EQ(device->modelCode, c.modelCode);
    auto* handler = static_cast<CBCF2000*>(device->handler);
    int pauses = 0;
    handler->presetPause = [&pauses](unsigned) { ++pauses; };

    handler->UploadPreset();
    service.WaitUntilIdle();
    const std::vector<std::string> lines = controller->PresetLines();
    ASSERT_EQ(lines.size(), c.lines);
    EXPECT_EQ(lines.front(), c.firstLine);
    EXPECT_EQ(lines.back(), "$end");
    EXPECT_EQ(pauses, static_cast<int>(c.lines));
    EXPECT_EQ(service.Output(0).messages.size(), 1 + c.lines); // the identity request first
    manager.Stop();
  }
}

} // namespace
