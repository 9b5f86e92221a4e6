#include "handlers/factory.h"

#include "handlers/bcf2000.h"
#include "handlers/mf_twister.h"
#include "handlers/nano_kontrol.h"
#include "handlers/xtouch_mini.h"
#include "midi/model_code.h"

std::unique_ptr<CMIDIDeviceHandler> CreateHandler(char modelCode) {
  switch (modelCode) {
    case kNanoKontrolCode:
      return std::make_unique<CKorgNanoControl>();
    case kXTouchMiniCode:
      return std::make_unique<CXTouchMini>();
    case kBCF2000Code:
    case kBCR2000Code:
      return std::make_unique<CBCF2000>();
    case kTwisterCode:
      return std::make_unique<CMFTwister>();
    default:
      return nullptr;
  }
}
