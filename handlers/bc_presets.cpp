#include "handlers/bc_presets.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "handlers/bcf2000.h"
#include "midi/device.h"
#include "midi/model_code.h"

namespace {

using Lines = std::vector<std::string>;

void AddHeader(Lines& lines, const char* revision) {
  lines.push_back(revision);
  lines.push_back("$preset");
  lines.push_back("  .name 'all controls            '");
  lines.push_back("  .snapshot off");
  lines.push_back("  .request off");
  lines.push_back("  .egroups 4");
  lines.push_back("  .fkeys on");
  lines.push_back("  .lock off");
  lines.push_back("  .init");
}

void AddEncoder(Lines& lines, int number, int controller, const char* mode, int defaultValue) {
  lines.push_back("$encoder " + std::to_string(number));
  lines.push_back("  .easypar CC 1 " + std::to_string(controller) + " 0 127 absolute");
  lines.push_back("  .showvalue on");
  lines.push_back(std::string("  .mode ") + mode);
  lines.push_back("  .resolution 96 96 96 96");
  lines.push_back("  .default " + std::to_string(defaultValue));
}

void AddButton(Lines& lines, int number, int controller, int defaultValue) {
  lines.push_back("$button " + std::to_string(number));
  lines.push_back("  .easypar CC 1 " + std::to_string(controller) + " 127 0 toggleon");
  lines.push_back("  .showvalue on");
  lines.push_back("  .default " + std::to_string(defaultValue));
}

// A fader without a default keeps wherever the user left it.
void AddFader(Lines& lines, int number, int controller, bool motor, const int* defaultValue) {
  lines.push_back("$fader " + std::to_string(number));
  lines.push_back("  .easypar CC 1 " + std::to_string(controller) + " 0 127 absolute");
  lines.push_back("  .showvalue on");
  lines.push_back(motor ? "  .motor on" : "  .motor off");
  lines.push_back("  .override move");
  lines.push_back("  .keyoverride off");
  if (defaultValue != nullptr) lines.push_back("  .default " + std::to_string(*defaultValue));
}

// Buttons 1 to 48 send controllers 33 to 80; then come buttons 49 to 52
// and, with no 53 to 60, 61 (and on a BCR2000 62) on the controllers given.
struct ExtraButton {
  int number;
  int controller;
};

Lines BuildBCF2000Preset() {
  Lines lines;
  AddHeader(lines, "$rev F1");

  auto encoderDefault = [](int encoder) {
    switch (encoder) {
      case 1:
        return 7;
      case 2:
        return 62;
      case 3:
        return 64;
      case 4:
      case 5:
        return 17;
      case 6:
        return 25;
      case 8:
        return 64;
      default:
        return 0;
    }
  };
  for (int encoder = 1; encoder <= 32; ++encoder) AddEncoder(lines, encoder, encoder, "12dot", encoderDefault(encoder));

  static const int kButtonsOn[] = {2,  3,  9,  10, 11, 14, 15, 18, 19, 23, 26, 27,
                                   28, 29, 30, 31, 32, 35, 36, 37, 41, 42, 50, 51};
  auto buttonDefault = [](int button) {
    return std::find(std::begin(kButtonsOn), std::end(kButtonsOn), button) != std::end(kButtonsOn) ? 127 : 0;
  };
  for (int button = 1; button <= 48; ++button) AddButton(lines, button, button + 32, buttonDefault(button));
  for (const ExtraButton& button : {ExtraButton{49, 89}, {50, 90}, {51, 91}, {52, 92}, {61, 93}}) {
    AddButton(lines, button.number, button.controller, buttonDefault(button.number));
  }

  for (int fader = 1; fader <= 8; ++fader) {
    const int defaultValue = fader == 1 ? 65 : fader == 2 ? 66 : 64;
    AddFader(lines, fader, fader + 80, true, &defaultValue);
  }
  AddFader(lines, 9, 94, false, nullptr);

  lines.push_back("$end");
  return lines;
}

Lines BuildBCR2000Preset() {
  Lines lines;
  AddHeader(lines, "$rev R1");
  for (int encoder = 1; encoder <= 32; ++encoder) AddEncoder(lines, encoder, encoder, "12dot", 0);
  for (int encoder = 33; encoder <= 56; ++encoder) AddEncoder(lines, encoder, encoder + 48, "1dot", 0);
  for (int button = 1; button <= 48; ++button) AddButton(lines, button, button + 32, 0);
  for (const ExtraButton& button : {ExtraButton{49, 105}, {50, 106}, {51, 107}, {52, 108}, {61, 109}, {62, 110}}) {
    AddButton(lines, button.number, button.controller, 0);
  }
  lines.push_back("$end");
  return lines;
}

} // namespace

const std::vector<std::string>& BCPresetLines(char modelCode) {
  static const Lines kBCF2000 = BuildBCF2000Preset();
  static const Lines kBCR2000 = BuildBCR2000Preset();
  return modelCode == kBCF2000Code ? kBCF2000 : kBCR2000;
}

uint8_t BCPresetModelByte(char modelCode) {
  return modelCode == kBCF2000Code ? 0x14 : 0x15;
}

std::vector<uint8_t> FrameBCPresetLine(uint8_t modelByte, uint16_t index, const std::string& text) {
  std::vector<uint8_t> message;
  message.reserve(text.size() + 10);
  for (uint8_t byte : {uint8_t{0xF0}, uint8_t{0x00}, uint8_t{0x20}, uint8_t{0x32}, uint8_t{0x00}, modelByte,
                       uint8_t{0x20}, static_cast<uint8_t>((index >> 7) & 0x7F), static_cast<uint8_t>(index & 0x7F)}) {
    message.push_back(byte);
  }
  for (char character : text) message.push_back(static_cast<uint8_t>(character));
  message.push_back(0xF7);
  return message;
}

void CBCF2000::SleepOnCallingThread(unsigned milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void CBCF2000::UploadPreset() {
  // Read once: an identity reply arriving meanwhile must not switch images
  // halfway through.
  const char modelCode = device->modelCode;
  const uint8_t modelByte = BCPresetModelByte(modelCode);
  const Lines& lines = BCPresetLines(modelCode);
  for (size_t index = 0; index < lines.size(); ++index) {
    const std::vector<uint8_t> message = FrameBCPresetLine(modelByte, static_cast<uint16_t>(index), lines[index]);
    SendSysEx(message.data(), static_cast<uint16_t>(message.size()));
    // The controller has no flow control: it needs the time to take a line in.
    presetPause(kBCPresetLinePauseMs);
  }
}
