#include "tools/report_reader/midi_text.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "handlers/nano_kontrol.h"

namespace reader {

namespace {

std::string Format(const char* format, unsigned a, unsigned b = 0, unsigned c = 0) {
  char text[128];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

bool StartsWith(const std::vector<uint8_t>& bytes, std::initializer_list<uint8_t> start) {
  return bytes.size() >= start.size() && std::equal(start.begin(), start.end(), bytes.begin());
}

std::string Maker(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < 2) return "no maker";
  switch (bytes[1]) {
    case 0x42:
      return "Korg";
    case 0x7D:
      return "non-commercial";
    case 0x7E:
      return "universal, non-real time";
    case 0x7F:
      return "universal, real time";
    default:
      break;
  }
  if (StartsWith(bytes, {0xF0, 0x00, 0x20, 0x32})) return "Behringer";
  if (StartsWith(bytes, {0xF0, 0x00, 0x01, 0x79})) return "DJ TechTools";
  if (bytes[1] == 0x00 && bytes.size() >= 4) return Format("maker 00 %02X %02X", bytes[2], bytes[3]);
  return Format("maker %02X", bytes[1]);
}

// Printable ASCII as it is, anything else as \xNN: identity text is the
// device's, and a report reader must not be driven by it either.
std::string Quoted(std::vector<uint8_t>::const_iterator begin, std::vector<uint8_t>::const_iterator end) {
  std::string text = "'";
  for (auto at = begin; at != end; ++at) {
    if (*at >= 0x20 && *at < 0x7F) {
      text += static_cast<char>(*at);
    } else {
      text += Format("\\x%02X", *at);
    }
  }
  return text + "'";
}

// What a message of the families the tool talks to is, or "".
std::string KnownMessage(const std::vector<uint8_t>& bytes) {
  if (StartsWith(bytes, {0xF0, 0x00, 0x20, 0x32}) && bytes.size() >= 8) {
    if (bytes[6] == 0x01) return "identity request";
    if (bytes[6] == 0x02) {
      const char* model = bytes[5] == 0x14 ? "BCF2000" : bytes[5] == 0x15 ? "BCR2000" : "unknown model";
      return std::string("identity reply: ") + model + ", " + Quoted(bytes.begin() + 7, bytes.end() - 1);
    }
    return "";
  }
  const bool nano = bytes.size() >= 7 && bytes[1] == 0x42 && (bytes[2] & 0xF0) == 0x40 && bytes[3] == 0x00 &&
                    bytes[4] == 0x01 && bytes[5] == 0x13;
  if (!nano) return "";
  const unsigned channel = (bytes[2] & 0x0Fu) + 1;
  if (bytes.size() == kNanoSceneImage.size()) {
    return Format("nanoKONTROL2 scene dump (global channel %u)", channel);
  }
  if (bytes.size() > 8 && bytes[8] == kNanoUploadDone) return "nanoKONTROL2: scene data received";
  if (bytes.size() > 8 && bytes[8] == kNanoWriteDone) return "nanoKONTROL2: scene written";
  return "nanoKONTROL2 message";
}

} // namespace

std::string NoteName(unsigned note) {
  static const std::array<const char*, 12> kNames = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
  return std::string(kNames[note % 12]) + std::to_string(static_cast<int>(note / 12) - 1);
}

const char* ShortMessageKind(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < 3) return "other";
  const unsigned kind = bytes[0] & 0xF0u;
  if (kind == 0x90) return bytes[2] == 0 ? "note off" : "note on";
  if (kind == 0x80) return "note off";
  if (kind == 0xB0) return "control change";
  if (kind == 0xE0) return "pitch bend";
  return "other";
}

unsigned ChannelOf(const std::vector<uint8_t>& bytes) {
  if (bytes.empty() || bytes[0] < 0x80 || bytes[0] >= 0xF0) return 0;
  return (bytes[0] & 0x0Fu) + 1;
}

std::string DescribeShortMessage(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < 3) return "not a message";
  const unsigned status = bytes[0];
  const unsigned d1 = bytes[1] & 0x7Fu;
  const unsigned d2 = bytes[2] & 0x7Fu;
  const unsigned channel = (status & 0x0Fu) + 1;
  const std::string note = NoteName(d1) + " (" + std::to_string(d1) + ")";
  switch (status & 0xF0u) {
    case 0x80:
      return Format("Note Off, channel %u, ", channel) + note + Format(", velocity %u", d2);
    case 0x90:
      if (d2 == 0) return Format("Note On with velocity 0 (a Note Off), channel %u, ", channel) + note;
      return Format("Note On, channel %u, ", channel) + note + Format(", velocity %u", d2);
    case 0xA0:
      return Format("Key Pressure, channel %u, ", channel) + note + Format(", pressure %u", d2);
    case 0xB0:
      return Format("Control Change, channel %u, controller %u, value %u", channel, d1, d2);
    case 0xC0:
      return Format("Program Change, channel %u, program %u", channel, d1);
    case 0xD0:
      return Format("Channel Pressure, channel %u, pressure %u", channel, d1);
    case 0xE0: {
      const int bend = static_cast<int>(d1 | (d2 << 7)) - 8192;
      return Format("Pitch Bend, channel %u, ", channel) + std::to_string(bend);
    }
    default:
      break;
  }
  switch (status) {
    case 0xF0:
      return "System Exclusive start, sent in packets";
    case 0xF7:
      return "System Exclusive end, sent in packets";
    case 0xF1:
      return "MIDI Time Code quarter frame";
    case 0xF2:
      return Format("Song Position %u", d1 | (d2 << 7));
    case 0xF3:
      return Format("Song Select %u", d1);
    case 0xF6:
      return "Tune Request";
    case 0xF8:
      return "Timing Clock";
    case 0xFA:
      return "Start";
    case 0xFB:
      return "Continue";
    case 0xFC:
      return "Stop";
    case 0xFE:
      return "Active Sensing";
    case 0xFF:
      return "System Reset";
    default:
      break;
  }
  if (status < 0x80) return "data bytes without a status (part of a System Exclusive sent in packets)";
  return "undefined status";
}

std::string DescribeSysEx(const std::vector<uint8_t>& bytes) {
  std::string text = "System Exclusive, " + std::to_string(bytes.size()) + " bytes, " + Maker(bytes);
  const std::string known = KnownMessage(bytes);
  if (!known.empty()) text += ": " + known;
  if (bytes.empty() || bytes.front() != 0xF0 || bytes.back() != 0xF7) text += " (not one whole message)";
  return text;
}

} // namespace reader
