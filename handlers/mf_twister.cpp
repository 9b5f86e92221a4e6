#include "handlers/mf_twister.h"

void CMFTwister::Start() {}

void CMFTwister::OnSysEx(const uint8_t*, uint16_t) {}

uint32_t CMFTwister::GetSysExBufferSize() {
  return 512;
}
