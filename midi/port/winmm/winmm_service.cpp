#include "midi/port/winmm/winmm_service.h"

#include <windows.h>

namespace port::winmm {

void WinmmService::KeepAwake() {
  SetThreadExecutionState(ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED);
}

void WinmmService::Pause(unsigned milliseconds) {
  Sleep(milliseconds);
}

} // namespace port::winmm
