// What crossed the wire between portprobe and the virtual controllers, kept
// in files that the end-to-end tests read:
//   <directory>/<device>.received  every JACK event the controller got
//   <directory>/<device>.sent      every JACK event it sent
//   <directory>/violations         every event, either way, that is not
//                                  exactly one complete MIDI message
// One line per event, its bytes in upper-case hex separated by blanks. Each
// line is flushed at once, so the files are complete whenever the tool is
// stopped.
//
// Threads: one thread at a time (the host's worker).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

namespace jack_controllers {

std::string HexLine(const uint8_t* bytes, size_t length);
// True when the bytes are exactly one complete MIDI message.
bool IsOneMessage(const uint8_t* bytes, size_t length);
// The bytes of a message that begins with this status byte (not System
// Exclusive); 0 for a status byte that begins no message.
size_t ShortMessageLength(uint8_t status);

class WireRecord {
 public:
  explicit WireRecord(std::string directory);
  ~WireRecord();
  WireRecord(const WireRecord&) = delete;
  WireRecord& operator=(const WireRecord&) = delete;

  void Received(const std::string& device, const uint8_t* bytes, size_t length);
  void Sent(const std::string& device, const uint8_t* bytes, size_t length);
  // Creates the files of a device up front, so that "nothing received" is an
  // empty file rather than a missing one.
  void Touch(const std::string& device);
  // Writes a file holding text (used for the "ready" mark).
  bool WriteFile(const std::string& name, const std::string& text);

 private:
  void Line(const std::string& file, const std::string& text);

  std::string directory;
  std::map<std::string, std::FILE*> files;
};

} // namespace jack_controllers
