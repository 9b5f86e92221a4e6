#include "handlers/factory.h"

#include "handlers/bcf2000.h"

std::unique_ptr<CMIDIDeviceHandler> CreateHandler(char modelCode) {
  switch (modelCode) {
    case 'G': // BCF2000
    case 'H': // BCR2000
      return std::make_unique<CBCF2000>();
    default:
      return nullptr;
  }
}
