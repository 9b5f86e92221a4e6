#include "handlers/factory.h"

#include "handlers/bcf2000.h"
#include "handlers/mf_twister.h"
#include "handlers/nano_kontrol.h"
#include "handlers/xtouch_mini.h"

std::unique_ptr<CMIDIDeviceHandler> CreateHandler(char modelCode) {
  switch (modelCode) {
    case 'D': // nanoKONTROL2
      return std::make_unique<CKorgNanoControl>();
    case 'F': // X-TOUCH MINI
      return std::make_unique<CXTouchMini>();
    case 'G': // BCF2000
    case 'H': // BCR2000
      return std::make_unique<CBCF2000>();
    case 'I': // Midi Fighter Twister
      return std::make_unique<CMFTwister>();
    default:
      return nullptr;
  }
}
