// MIDI messages as a musician reads them: "Note On, channel 1, C4 (60),
// velocity 100"; System Exclusive by its maker and, for the families the
// tool talks to, by what the message is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace reader {

// The three bytes of a "got MIDI" line (data bytes the status does not use
// are ignored, as the tool logs three whatever the message).
std::string DescribeShortMessage(const std::vector<uint8_t>& bytes);
std::string DescribeSysEx(const std::vector<uint8_t>& bytes);

// "C4" for 60.
std::string NoteName(unsigned note);

// The kind of a short message for the traffic counts: "note on",
// "note off", "control change", "pitch bend" or "other".
const char* ShortMessageKind(const std::vector<uint8_t>& bytes);
// The channel (1 to 16) of a channel message, or 0.
unsigned ChannelOf(const std::vector<uint8_t>& bytes);

} // namespace reader
