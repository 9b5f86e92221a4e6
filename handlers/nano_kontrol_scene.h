// What a nanoKONTROL2's scene dump holds, parameter by parameter, as Korg's
// nanoKONTROL2 MIDI Implementation lays out its scene data (339 bytes, sent
// in Korg's 7-bit form: each 8 bytes on the wire carry 7, the first holding
// the top bits of the other seven). The tool only compares a dump with its
// image (nano_kontrol_protocol.h); the report reader names what differs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "handlers/nano_kontrol_protocol.h"

// The scene data in a dump: after F0 42 4g 00 01 13 00, the dump's header
// 7F 7F 02 03 05 and its function 40, up to the final F7.
constexpr size_t kNanoSceneDataOffset = 13;
constexpr size_t kNanoSceneDataBytes = 339;
static_assert((kNanoSceneImage.size() - 1 - kNanoSceneDataOffset) / 8 * 7 +
                      (kNanoSceneImage.size() - 1 - kNanoSceneDataOffset) % 8 - 1 ==
                  kNanoSceneDataBytes,
              "388 bytes on the wire carry the 339 of the scene");

// The scene data of a dump as long as the image.
inline std::array<uint8_t, kNanoSceneDataBytes> NanoSceneData(const uint8_t* dump) {
  std::array<uint8_t, kNanoSceneDataBytes> data{};
  size_t written = 0;
  for (size_t group = kNanoSceneDataOffset; group < kNanoSceneImage.size() - 1 && written < data.size(); group += 8) {
    const uint8_t topBits = dump[group];
    for (size_t index = 1; index < 8 && group + index < kNanoSceneImage.size() - 1 && written < data.size(); ++index) {
      data[written++] = static_cast<uint8_t>((dump[group + index] & 0x7F) | (((topBits >> (index - 1)) & 1) << 7));
    }
  }
  return data;
}

// How a parameter's value reads.
enum class NanoValue : uint8_t {
  Channel,         // 0-15: channel 1-16
  ChannelOrGlobal, // 0-15, or 16: the global channel
  ControlMode,     // 0 CC, 1 Cubase, 2 Digital Performer, 3 Live, 4 Pro Tools, 5 SONAR
  LedMode,         // 0 internal, 1 external
  SliderKnobType,  // 0 disabled, 1 CC
  ButtonType,      // 0 no assign, 1 CC, 2 note
  Behaviour,       // 0 momentary, 1 toggle
  Number,          // a CC or note number, a value
  Reserved,
};

struct NanoSceneParameter {
  std::string name;
  NanoValue value;
};

// The parameter at `offset` of the scene data.
inline NanoSceneParameter NanoSceneParameterAt(size_t offset) {
  if (offset == 0) return {"global MIDI channel", NanoValue::Channel};
  if (offset == 1) return {"control mode", NanoValue::ControlMode};
  if (offset == 2) return {"LED mode", NanoValue::LedMode};
  // Eight groups of 31: the group's channel, then its slider and knob (six
  // each: assign type, reserved, CC number, min, max, reserved) and its
  // solo, mute and record buttons (six each: assign type, behaviour,
  // CC/note number, off value, on value, reserved).
  static const char* const kControl[] = {"slider", "knob", "solo button", "mute button", "record button"};
  static const char* const kKnobItem[] = {"assign type", "", "CC number", "min value", "max value", ""};
  static const char* const kButtonItem[] = {"assign type", "behaviour", "CC/note number", "off value", "on value", ""};
  if (offset < 3 + 8 * 31) {
    const size_t group = (offset - 3) / 31;
    const size_t within = (offset - 3) % 31;
    const std::string prefix = "group " + std::to_string(group + 1) + " ";
    if (within == 0) return {prefix + "MIDI channel", NanoValue::ChannelOrGlobal};
    const size_t control = (within - 1) / 6;
    const size_t item = (within - 1) % 6;
    const bool button = control >= 2;
    const char* itemName = button ? kButtonItem[item] : kKnobItem[item];
    if (*itemName == '\0') return {prefix + kControl[control] + " reserved byte", NanoValue::Reserved};
    NanoValue value = NanoValue::Number;
    if (item == 0) value = button ? NanoValue::ButtonType : NanoValue::SliderKnobType;
    if (item == 1 && button) value = NanoValue::Behaviour;
    return {prefix + kControl[control] + " " + itemName, value};
  }
  // Then the transport: its channel and eleven buttons of six.
  static const char* const kTransport[] = {
      "track previous", "track next",   "cycle", "marker set", "marker previous", "marker next",
      "rewind",         "fast forward", "stop",  "play",       "record"};
  const size_t transport = 3 + 8 * 31;
  if (offset == transport) return {"transport MIDI channel", NanoValue::ChannelOrGlobal};
  if (offset < transport + 1 + 11 * 6) {
    const size_t button = (offset - transport - 1) / 6;
    const size_t item = (offset - transport - 1) % 6;
    const std::string prefix = std::string(kTransport[button]) + " button ";
    if (*kButtonItem[item] == '\0') return {prefix + "reserved byte", NanoValue::Reserved};
    NanoValue value = NanoValue::Number;
    if (item == 0) value = NanoValue::ButtonType;
    if (item == 1) value = NanoValue::Behaviour;
    return {prefix + kButtonItem[item], value};
  }
  return {"reserved byte " + std::to_string(offset), NanoValue::Reserved};
}

// A value as Korg's editor shows it.
inline std::string NanoSceneValueText(NanoValue kind, uint8_t value) {
  const auto named = [value](std::initializer_list<const char*> names) {
    return value < names.size() ? std::string(names.begin()[value]) : "value " + std::to_string(value);
  };
  switch (kind) {
    case NanoValue::Channel:
      return value < 16 ? "channel " + std::to_string(value + 1) : "value " + std::to_string(value);
    case NanoValue::ChannelOrGlobal:
      return value < 16    ? "channel " + std::to_string(value + 1)
             : value == 16 ? "the global channel"
                           : "value " + std::to_string(value);
    case NanoValue::ControlMode:
      return named({"CC mode", "Cubase", "Digital Performer", "Live", "Pro Tools", "SONAR"});
    case NanoValue::LedMode:
      return named({"internal", "external"});
    case NanoValue::SliderKnobType:
      return named({"disabled", "CC"});
    case NanoValue::ButtonType:
      return named({"no assign", "CC", "note"});
    case NanoValue::Behaviour:
      return named({"momentary", "toggle"});
    case NanoValue::Number:
    case NanoValue::Reserved:
      break;
  }
  return std::to_string(value);
}

// Where a factory-fresh unit's scene differs from the tool's: the tool
// needs the LEDs driven from the host (external); a new unit lights them
// itself (internal).
constexpr size_t kNanoFactoryDifference = 2; // the LED mode
static_assert(kNanoSceneImage[kNanoSceneDataOffset + 1 + kNanoFactoryDifference] == 0x01,
              "the tool's scene has the LEDs external");

// Why a nanoKONTROL2 may send no scene: the dump request goes to global
// channel 1 (its byte 2 is 40), and a unit set to another global channel in
// Korg's editor does not answer it.
inline constexpr const char* kNanoSilenceLikelyCause =
    "the unit answers the tool's scene request only on global MIDI channel 1, the channel the request is addressed "
    "to (Korg's nanoKONTROL2 MIDI Implementation); one set to another global channel in Korg's editor stays silent";
static_assert(kNanoDumpRequest[2] == 0x40, "the request goes to global channel 1");

// Why a scene found different may never be acknowledged.
inline constexpr const char* kNanoUploadUnansweredLikelyCause =
    "the upload did not reach the unit, or it was disconnected during the run (a unit pulled out right after it "
    "sent its scene gives exactly this report)";
