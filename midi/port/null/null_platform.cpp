// The platform service of a build without a real MIDI layer.
#include "midi/port/null/null_service.h"

namespace port {

MidiService& PlatformService() {
  static null::NullService* service = new null::NullService;
  return *service;
}

} // namespace port
