// On Windows the platform's MIDI service is winmm.
#include "midi/port/winmm/winmm_service.h"

namespace port {

MidiService& PlatformService() {
  // Never destroyed: a driver may call back while the process exits.
  static winmm::WinmmService* service = new winmm::WinmmService;
  return *service;
}

} // namespace port
