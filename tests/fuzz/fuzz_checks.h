// Test support for the fuzz targets: the invariants every input must keep,
// checked against the protocol tables rather than the program's constants.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "midi/port/simulated/protocol_tables.h"

using FuzzBytes = std::vector<uint8_t>;

// Aborts, which libFuzzer and the replay both take as a failure of the input.
inline void Require(bool condition, const char* invariant) {
  if (condition) return;
  std::fprintf(stderr, "invariant broken: %s\n", invariant);
  std::abort();
}

template <size_t N>
bool Is(const FuzzBytes& message, const std::array<uint8_t, N>& table) {
  return std::equal(message.begin(), message.end(), table.begin(), table.end());
}

inline size_t Occurrences(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++count;
  return count;
}

// Whatever a controller says, the tool sends it nothing but its family's
// own protocol messages, and a nanoKONTROL2 its scene at most ten times.
inline void RequireOnlyProtocolMessages(const std::string& portName, const std::vector<FuzzBytes>& sent) {
  namespace protocol = port::sim::protocol;
  if (portName == "BCF2000" || portName == "BCR2000") {
    Require(sent.size() <= 1, "a BC gets one identity request");
    Require(std::all_of(sent.begin(), sent.end(), [](const FuzzBytes& m) { return Is(m, protocol::kBCIdentityQuery); }),
            "a BC gets only the identity request");
  } else if (portName == "nanoKONTROL2") {
    size_t scenes = 0;
    for (size_t i = 0; i < sent.size(); ++i) {
      if (i == 0) {
        Require(Is(sent[0], protocol::kNanoKontrolDumpRequest), "a nanoKONTROL2 is first asked for its scene");
      } else if (Is(sent[i], protocol::kNanoKontrolScene)) {
        ++scenes;
      } else {
        Require(Is(sent[i], protocol::kNanoKontrolWriteRequest), "a nanoKONTROL2 gets only its protocol messages");
        Require(Is(sent[i - 1], protocol::kNanoKontrolScene), "a write request follows an upload of the scene");
      }
    }
    Require(scenes <= 10, "the scene goes out ten times at most");
  } else if (portName == "X-TOUCH MINI") {
    Require(sent.size() <= 1, "an X-TOUCH MINI gets its reset stream once");
    Require(
        std::all_of(sent.begin(), sent.end(), [](const FuzzBytes& m) { return Is(m, protocol::kXTouchResetStream); }),
        "an X-TOUCH MINI gets only its reset stream");
  } else {
    Require(sent.empty(), "a device without a dialogue is sent nothing");
  }
}
