// MIDI messages as a musician reads them: "Note On, channel 1, C4 (60),
// velocity 100"; System Exclusive by its maker and, for the families the
// tool talks to, by what the message is, read as the tool reads it
// (handlers/bc_protocol.h, handlers/nano_kontrol_protocol.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace report_reader {

// The three bytes of a "got MIDI" line (data bytes the status does not use
// are ignored, as the tool logs three whatever the message).
std::string DescribeShortMessage(const uint8_t* bytes);
std::string DescribeSysEx(const uint8_t* bytes, size_t length);
inline std::string DescribeShortMessage(const std::vector<uint8_t>& bytes) {
  return bytes.size() < 3 ? "not a message" : DescribeShortMessage(bytes.data());
}
inline std::string DescribeSysEx(const std::vector<uint8_t>& bytes) {
  return DescribeSysEx(bytes.data(), bytes.size());
}

// "C4" for 60.
std::string NoteName(unsigned note);

// The kind of a short message (three bytes) for the traffic counts: "note
// on", "note off", "control change", "pitch bend" or "other".
const char* ShortMessageKind(const uint8_t* bytes);
// The channel (1 to 16) of a channel message, or 0.
unsigned ChannelOf(const uint8_t* bytes);

} // namespace report_reader
