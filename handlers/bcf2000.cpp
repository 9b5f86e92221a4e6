#include "handlers/bcf2000.h"

#include <string>

#include "app/log_sink.h"
#include "app/log_texts.h"
#include "midi/device.h"

CBCF2000::~CBCF2000() = default;

uint32_t CBCF2000::GetSysExBufferSize() {
  return 512;
}

void CBCF2000::Start() {
  awaitingIdentity = true;
  app::LogLine(app::logtext::kIdentityRequest);
  app::LogStopwatch();
  SendSysEx(kBCIdentityRequest.data(), static_cast<uint16_t>(kBCIdentityRequest.size()));
}

void CBCF2000::OnSysEx(const uint8_t* bytes, uint16_t length) {
  if (!awaitingIdentity) return;
  if (length < kBCShortestReply) return;
  app::LogLine(app::logtext::kIdentityReply);
  app::LogStopwatch();

  const char model = BCIdentityReplyModel(bytes, length);
  if (model == 0) return; // not an identity reply: the request stays pending
  awaitingIdentity = false;

  // Neither line is closed: the next logged text continues it.
  if (length < kBCShortestNamedReply) {
    app::LogPrintf("%s", app::logtext::kNoDeviceName);
  } else {
    // Everything between the 7-byte header and the final byte, as it is.
    std::string name(reinterpret_cast<const char*>(bytes) + kBCIdentityTextOffset, length - kBCIdentityTextOffset - 1);
    device->name.Set(name);
    app::LogPrintf(app::logtext::kDeviceRenamed, name.c_str());
  }
  device->modelCode = model;
}
