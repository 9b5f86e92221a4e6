// Splits a byte stream into single MIDI messages.
//
// A JACK MIDI event must hold exactly one message, and the ALSA sequencer
// and CoreMIDI want the same, while a long send of the device layer may hold
// many (the X-TOUCH MINI's reset stream is 51 short messages in 151 bytes).
// Incoming events are cut the same way, so that a source that packs several
// messages into one event still yields one short-message event each.
//
// Rules:
//  - channel messages take two or three bytes by their status; running
//    status (data bytes without a repeated status) is expanded, so every
//    message comes out with its own status byte;
//  - a System Exclusive message, F0 to F7, comes out whole;
//  - a real-time byte (F8 to FF) is a message of its own wherever it stands,
//    also inside another message; inside a System Exclusive message it is
//    therefore put out before it, as the SysEx is put out only when complete;
//  - a system common message (F1 to F6) ends running status;
//  - what is not a complete message is one Invalid piece: data bytes with no
//    status to run on, a message cut short by the next status byte or by the
//    end, a SysEx that another status byte interrupts or that never ends, a
//    lone F7, and the undefined F4 and F5.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace port::shared {

struct MidiPiece {
  enum class Kind { Short, SysEx, Invalid };
  Kind kind;
  std::vector<uint8_t> bytes;
};

std::vector<MidiPiece> SplitMidiStream(const uint8_t* bytes, size_t length);

constexpr uint8_t kSysExStart = 0xF0;
constexpr uint8_t kSysExEnd = 0xF7;
// A real-time message (F8 to FF): one byte that may stand anywhere, inside
// another message too.
constexpr bool IsRealTime(uint8_t byte) {
  return byte >= 0xF8;
}
constexpr bool IsStatus(uint8_t byte) {
  return byte >= 0x80;
}

// The length of a channel or system common message by its status byte, the
// status included; 0 for a data byte, System Exclusive (F0, F7), the
// undefined F4 and F5, and the one-byte real-time messages (F8 to FF).
size_t ShortMessageLength(uint8_t status);

// True when every piece is a complete message.
bool AllComplete(const std::vector<MidiPiece>& pieces);

// True when the bytes are exactly one complete short message, which
// SplitMidiStream would give back as its one Short piece: the common case of
// input, checked without building any piece.
bool IsSingleShortMessage(const uint8_t* bytes, size_t length);

} // namespace port::shared
