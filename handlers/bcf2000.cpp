#include "handlers/bcf2000.h"

#include <algorithm>
#include <string>

#include "app/log_sink.h"
#include "app/log_texts.h"
#include "midi/device.h"

namespace {

constexpr uint16_t kShortestReply = 8;       // header and end byte, no text
constexpr uint16_t kShortestNamedReply = 11; // at least three bytes of text

template <size_t N>
bool StartsWith(const uint8_t* bytes, const std::array<uint8_t, N>& header) {
  return std::equal(header.begin(), header.end(), bytes);
}

} // namespace

CBCF2000::~CBCF2000() = default;

uint32_t CBCF2000::GetSysExBufferSize() {
  return 512;
}

void CBCF2000::Start() {
  awaitingIdentity = true;
  LogLine(logtext::kIdentityRequest);
  LogStopwatch();
  SendSysEx(kBCIdentityRequest.data(), static_cast<uint16_t>(kBCIdentityRequest.size()));
}

void CBCF2000::OnSysEx(const uint8_t* bytes, uint16_t length) {
  if (!awaitingIdentity) return;
  if (length < kShortestReply) return;
  LogLine(logtext::kIdentityReply);
  LogStopwatch();

  char model;
  if (StartsWith(bytes, kBCF2000ReplyHeader)) {
    model = 'G';
  } else if (StartsWith(bytes, kBCR2000ReplyHeader)) {
    model = 'H';
  } else {
    return; // not an identity reply: the request stays pending
  }
  awaitingIdentity = false;

  // Neither line is closed: the next logged text continues it.
  if (length < kShortestNamedReply) {
    LogPrintf("%s", logtext::kNoDeviceName);
  } else {
    // Everything between the 7-byte header and the final byte, as it is.
    std::string name(reinterpret_cast<const char*>(bytes) + 7, length - 8u);
    device->name.Set(name);
    LogPrintf(logtext::kDeviceRenamed, name.c_str());
  }
  device->modelCode = model;
}
