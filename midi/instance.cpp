// The process-wide manager, over the MIDI service this program was built for.
#include "midi/manager.h"

CMIDIManager* GetInstance() {
  // Created on first use, thread-safely; destroyed at exit, when its
  // destructor stops event delivery before anything is freed.
  static CMIDIManagerWin instance(port::PlatformService());
  return &instance;
}
