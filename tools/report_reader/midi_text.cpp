#include "tools/report_reader/midi_text.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "handlers/bc_protocol.h"
#include "handlers/nano_kontrol_protocol.h"

namespace report_reader {

namespace {

std::string Format(const char* format, unsigned a, unsigned b = 0, unsigned c = 0) {
  char text[128];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

template <typename Bytes>
bool StartsWith(const uint8_t* bytes, size_t length, const Bytes& start) {
  return length >= start.size() && std::equal(start.begin(), start.end(), bytes);
}

std::string Maker(const uint8_t* bytes, size_t length) {
  if (length < 2) return "no maker";
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
  if (StartsWith(bytes, length, kBehringerHeader)) return "Behringer";
  if (StartsWith(bytes, length, std::array<uint8_t, 4>{0xF0, 0x00, 0x01, 0x79})) return "DJ TechTools";
  if (bytes[1] == 0x00 && length >= 4) return Format("maker 00 %02X %02X", bytes[2], bytes[3]);
  return Format("maker %02X", bytes[1]);
}

// Printable ASCII as it is, anything else as \xNN: identity text is the
// device's, and a report reader must not be driven by it either.
std::string Quoted(const uint8_t* begin, const uint8_t* end) {
  std::string text = "'";
  for (const uint8_t* at = begin; at < end; ++at) {
    if (*at >= 0x20 && *at < 0x7F) {
      text += static_cast<char>(*at);
    } else {
      text += Format("\\x%02X", *at);
    }
  }
  return text + "'";
}

// What a message of the families the tool talks to is, or "".
std::string KnownMessage(const uint8_t* bytes, size_t length) {
  if (StartsWith(bytes, length, kBehringerHeader) && length >= kBCShortestReply) {
    if (std::equal(kBCIdentityRequest.begin(), kBCIdentityRequest.end(), bytes)) return "identity request";
    const char model = BCIdentityReplyModel(bytes, length);
    if (model == 0) return "";
    return std::string("identity reply: ") + FamilyName(model) + ", " +
           Quoted(bytes + kBCIdentityTextOffset, bytes + length - 1);
  }
  if (!IsNanoKontrolMessage(bytes, length)) return "";
  if (IsNanoKontrolScene(bytes, length)) {
    const uint8_t channel = bytes[kNanoChannelByte];
    if ((channel & 0xF0u) == 0x40) return Format("nanoKONTROL2 scene dump (global channel %u)", (channel & 0x0Fu) + 1);
    return Format("nanoKONTROL2 scene dump (byte 2 %02X)", channel);
  }
  if (NanoAcknowledgementSays(bytes, length, kNanoUploadDone)) return "nanoKONTROL2: scene data received";
  if (NanoAcknowledgementSays(bytes, length, kNanoWriteDone)) return "nanoKONTROL2: scene written";
  return "nanoKONTROL2 message";
}

} // namespace

std::string NoteName(unsigned note) {
  static const std::array<const char*, 12> kNames = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
  return std::string(kNames[note % 12]) + std::to_string(static_cast<int>(note / 12) - 1);
}

const char* ShortMessageKind(const uint8_t* bytes) {
  const unsigned kind = bytes[0] & 0xF0u;
  if (kind == 0x90) return bytes[2] == 0 ? "note off" : "note on";
  if (kind == 0x80) return "note off";
  if (kind == 0xB0) return "control change";
  if (kind == 0xE0) return "pitch bend";
  return "other";
}

unsigned ChannelOf(const uint8_t* bytes) {
  if (bytes[0] < 0x80 || bytes[0] >= 0xF0) return 0;
  return (bytes[0] & 0x0Fu) + 1;
}

std::string DescribeShortMessage(const uint8_t* bytes) {
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

std::string DescribeSysEx(const uint8_t* bytes, size_t length) {
  std::string text = "System Exclusive, " + std::to_string(length) + " bytes, " + Maker(bytes, length);
  const std::string known = KnownMessage(bytes, length);
  if (!known.empty()) text += ": " + known;
  if (length == 0 || bytes[0] != 0xF0 || bytes[length - 1] != 0xF7) text += " (not one whole message)";
  return text;
}

} // namespace report_reader
