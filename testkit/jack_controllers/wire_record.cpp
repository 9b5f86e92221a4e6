#include "testkit/jack_controllers/wire_record.h"

namespace jack_controllers {

std::string HexLine(const uint8_t* bytes, size_t length) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (size_t at = 0; at < length; ++at) {
    if (at > 0) text += ' ';
    text += kDigits[bytes[at] >> 4];
    text += kDigits[bytes[at] & 0x0F];
  }
  return text;
}

bool IsOneMessage(const uint8_t* bytes, size_t length) {
  if (length == 0 || bytes[0] < 0x80) return false;
  const uint8_t status = bytes[0];
  auto dataOnly = [&](size_t from, size_t to) {
    for (size_t at = from; at < to; ++at) {
      if (bytes[at] >= 0x80) return false;
    }
    return true;
  };
  if (status == 0xF0) return length >= 2 && bytes[length - 1] == 0xF7 && dataOnly(1, length - 1);
  const size_t expected = ShortMessageLength(status);
  return expected != 0 && length == expected && dataOnly(1, length);
}

size_t ShortMessageLength(uint8_t status) {
  if (status < 0x80) return 0;
  if (status < 0xF0) return (status & 0xE0) == 0xC0 ? 2 : 3;
  if (status == 0xF1 || status == 0xF3) return 2;
  if (status == 0xF2) return 3;
  if (status == 0xF6 || status >= 0xF8) return 1;
  return 0;
}

WireRecord::WireRecord(std::string directory) : directory(std::move(directory)) {
  Line("violations", std::string()); // creates it; an empty line is never written
}

WireRecord::~WireRecord() {
  for (auto& file : files) std::fclose(file.second);
}

void WireRecord::Line(const std::string& name, const std::string& text) {
  std::FILE*& file = files[name];
  if (file == nullptr) file = std::fopen((directory + "/" + name).c_str(), "w");
  if (file == nullptr || text.empty()) return;
  std::fprintf(file, "%s\n", text.c_str());
  std::fflush(file);
}

void WireRecord::Touch(const std::string& device) {
  Line(device + ".received", std::string());
  Line(device + ".sent", std::string());
}

void WireRecord::Received(const std::string& device, const uint8_t* bytes, size_t length) {
  const std::string hex = HexLine(bytes, length);
  Line(device + ".received", hex.empty() ? "(empty)" : hex);
  if (!IsOneMessage(bytes, length)) Line("violations", device + " received: " + hex);
}

void WireRecord::Sent(const std::string& device, const uint8_t* bytes, size_t length) {
  const std::string hex = HexLine(bytes, length);
  Line(device + ".sent", hex.empty() ? "(empty)" : hex);
  if (!IsOneMessage(bytes, length)) Line("violations", device + " sent: " + hex);
}

bool WireRecord::WriteFile(const std::string& name, const std::string& text) {
  std::FILE* file = std::fopen((directory + "/" + name).c_str(), "w");
  if (file == nullptr) return false;
  const bool written = std::fputs(text.c_str(), file) >= 0;
  return std::fclose(file) == 0 && written;
}

} // namespace jack_controllers
