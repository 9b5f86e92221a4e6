// Test support for the fuzz targets: reads a fuzzer's bytes as a sequence
// of values, and a console that throws everything away.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/log_sink.h"

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data(data), size(size) {}
  bool Empty() const { return at >= size; }
  uint8_t Byte() { return at < size ? data[at++] : 0; }
  uint16_t Word() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
  std::vector<uint8_t> Bytes(size_t count) {
    std::vector<uint8_t> bytes;
    while (count-- > 0 && !Empty()) bytes.push_back(Byte());
    return bytes;
  }

 private:
  const uint8_t* data;
  size_t size;
  size_t at = 0;
};

class DiscardingConsole final : public app::logsink::ConsoleWriter {
 public:
  void Write(const char*, size_t) override {}
};

// The port names that pick each handler, and one that picks none.
constexpr const char* kFuzzPortNames[] = {
    "BCF2000", "BCR2000", "nanoKONTROL2", "X-TOUCH MINI", "Midi Fighter Twister", "Some Keyboard"};
constexpr size_t kFuzzPortNameCount = sizeof kFuzzPortNames / sizeof kFuzzPortNames[0];
