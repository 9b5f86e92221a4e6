#include "handlers/nano_kontrol.h"

#include <algorithm>

#include "app/log_sink.h"
#include "app/log_texts.h"

CKorgNanoControl::~CKorgNanoControl() = default;

uint32_t CKorgNanoControl::GetSysExBufferSize() {
  // Holds the 402-byte scene dump in one piece.
  return 512;
}

void CKorgNanoControl::Start() {
  state = AwaitingScene;
  SendSysEx(kNanoDumpRequest.data(), static_cast<uint16_t>(kNanoDumpRequest.size()));
}

void CKorgNanoControl::OnSysEx(const uint8_t* bytes, uint16_t length) {
  if (!IsNanoKontrolMessage(bytes, length)) return;
  switch (state) {
    case AwaitingScene:
      CheckScene(bytes, length);
      break;
    case AwaitingUploadAck:
      OnUploadAck(bytes, length);
      break;
    case AwaitingWriteAck:
      OnWriteAck(bytes, length);
      break;
    default: // Idle and Failed are final
      break;
  }
}

void CKorgNanoControl::CheckScene(const uint8_t* bytes, uint16_t length) {
  // Anything else the controller says meanwhile is not its scene.
  if (length != kNanoSceneImage.size()) return;
  // Header included: a controller on another global channel differs in
  // byte 2 and is brought back to the image's channel.
  if (std::equal(kNanoSceneImage.begin(), kNanoSceneImage.end(), bytes)) {
    app::LogPrintf("%s", app::logtext::kSceneGood);
    state = Idle;
    return;
  }
  app::LogPrintf("%s", app::logtext::kSceneBad);
  state = AwaitingUploadAck;
  SendSceneImage();
}

void CKorgNanoControl::OnUploadAck(const uint8_t* bytes, uint16_t length) {
  if (!NanoAcknowledgementSays(bytes, length, kNanoUploadDone)) {
    CountFailure();
    return;
  }
  state = AwaitingWriteAck;
  SendSysEx(kNanoWriteRequest.data(), static_cast<uint16_t>(kNanoWriteRequest.size()));
}

void CKorgNanoControl::OnWriteAck(const uint8_t* bytes, uint16_t length) {
  if (NanoAcknowledgementSays(bytes, length, kNanoWriteDone)) {
    app::LogPrintf("%s", app::logtext::kUploadSucceeded);
    state = Idle;
    return;
  }
  app::LogPrintf("%s", app::logtext::kUploadFailed);
  CountFailure();
}

void CKorgNanoControl::CountFailure() {
  ++retryCount;
  if (retryCount >= kNanoMostFailures) {
    state = Failed;
    return;
  }
  // A failed write starts over with a new upload rather than a second write
  // request, so every failure costs one upload and ten bound the dialogue.
  state = AwaitingUploadAck;
  SendSceneImage();
}

void CKorgNanoControl::SendSceneImage() {
  SendSysEx(kNanoSceneImage.data(), static_cast<uint16_t>(kNanoSceneImage.size()));
}
