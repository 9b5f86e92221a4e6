#include "midi/port/shared/message_splitter.h"

#include <algorithm>

namespace port::shared {

namespace {

class Splitter {
 public:
  std::vector<MidiPiece> Run(const uint8_t* bytes, size_t length) {
    for (size_t at = 0; at < length; ++at) Take(bytes[at]);
    FlushIncomplete();
    return std::move(pieces);
  }

 private:
  void Emit(MidiPiece::Kind kind, std::vector<uint8_t> bytes) { pieces.push_back({kind, std::move(bytes)}); }

  void FlushIncomplete() {
    if (inSysEx) {
      Emit(MidiPiece::Kind::Invalid, std::move(current));
      inSysEx = false;
    } else if (!current.empty()) {
      Emit(MidiPiece::Kind::Invalid, std::move(current));
    }
    current.clear();
    FlushStray();
  }

  void FlushStray() {
    if (stray.empty()) return;
    Emit(MidiPiece::Kind::Invalid, std::move(stray));
    stray.clear();
  }

  void Take(uint8_t byte) {
    if (IsRealTime(byte)) {
      // Belongs to no other message and interrupts none.
      Emit(MidiPiece::Kind::Short, {byte});
      return;
    }
    if (inSysEx) {
      if (!IsStatus(byte)) {
        current.push_back(byte);
        return;
      }
      if (byte == kSysExEnd) {
        current.push_back(byte);
        Emit(MidiPiece::Kind::SysEx, std::move(current));
        current.clear();
        inSysEx = false;
        return;
      }
      // Any other status byte ends the SysEx without its end byte.
      FlushIncomplete();
    }
    if (IsStatus(byte)) {
      FlushIncomplete();
      runningStatus = 0;
      if (byte == kSysExStart) {
        inSysEx = true;
        current.push_back(byte);
        return;
      }
      const size_t expected = ShortMessageLength(byte);
      if (expected == 0) { // a lone F7, or an undefined status
        Emit(MidiPiece::Kind::Invalid, {byte});
        return;
      }
      if (byte < 0xF0) runningStatus = byte;
      current.push_back(byte);
      expectedLength = expected;
      CompleteIfDone();
      return;
    }
    // A data byte.
    if (current.empty()) {
      if (runningStatus == 0) {
        stray.push_back(byte);
        return;
      }
      FlushStray();
      current.push_back(runningStatus);
      expectedLength = ShortMessageLength(runningStatus);
    }
    current.push_back(byte);
    CompleteIfDone();
  }

  void CompleteIfDone() {
    if (current.size() < expectedLength) return;
    Emit(MidiPiece::Kind::Short, std::move(current));
    current.clear();
  }

  std::vector<MidiPiece> pieces;
  std::vector<uint8_t> current; // the message being collected
  std::vector<uint8_t> stray;   // data bytes that belong to no message
  size_t expectedLength = 0;
  uint8_t runningStatus = 0;
  bool inSysEx = false;
};

} // namespace

size_t ShortMessageLength(uint8_t status) {
  if (status < 0x80) return 0;
  if (status < 0xF0) return (status & 0xE0) == 0xC0 ? 2 : 3; // program change, channel pressure: one data byte
  switch (status) {
    case 0xF1: // time code quarter frame
    case 0xF3: // song select
      return 2;
    case 0xF2: // song position
      return 3;
    case 0xF6: // tune request
      return 1;
    default:
      return 0; // F4, F5 undefined; F0 and F7 are handled as SysEx, F8 to FF alone
  }
}

std::vector<MidiPiece> SplitMidiStream(const uint8_t* bytes, size_t length) {
  return Splitter().Run(bytes, length);
}

bool IsSingleShortMessage(const uint8_t* bytes, size_t length) {
  if (length == 0 || !IsStatus(bytes[0])) return false;
  const size_t expected = IsRealTime(bytes[0]) ? 1 : ShortMessageLength(bytes[0]);
  if (expected == 0 || expected != length) return false;
  for (size_t at = 1; at < length; ++at) {
    if (IsStatus(bytes[at])) return false;
  }
  return true;
}

bool AllComplete(const std::vector<MidiPiece>& pieces) {
  return std::none_of(pieces.begin(), pieces.end(),
                      [](const MidiPiece& piece) { return piece.kind == MidiPiece::Kind::Invalid; });
}

} // namespace port::shared
