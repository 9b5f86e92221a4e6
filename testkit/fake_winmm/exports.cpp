// The winmm functions the tool imports, each handed to the stand-in after
// the check that it is not called from inside the driver callback.
#include <windows.h>
#include <mmddk.h>
#include <mmsystem.h>

#include "testkit/fake_winmm/callback_scope.h"
#include "testkit/fake_winmm/records.h"
#include "testkit/fake_winmm/stand_in.h"

using fake_winmm::CheckNotInCallback;
using fake_winmm::StandIn;

extern "C" {

UINT WINAPI midiInGetNumDevs(void) {
  CheckNotInCallback("midiInGetNumDevs");
  return StandIn::Get().InputCount();
}

MMRESULT WINAPI midiInGetDevCapsW(UINT_PTR id, LPMIDIINCAPSW caps, UINT size) {
  CheckNotInCallback("midiInGetDevCapsW");
  return StandIn::Get().InputCaps(id, caps, size);
}

MMRESULT WINAPI midiInOpen(LPHMIDIIN handle, UINT id, DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
  CheckNotInCallback("midiInOpen");
  return StandIn::Get().OpenInput(handle, id, callback, instance, flags);
}

MMRESULT WINAPI midiInStart(HMIDIIN handle) {
  CheckNotInCallback("midiInStart");
  return StandIn::Get().StartInput(handle);
}

MMRESULT WINAPI midiInStop(HMIDIIN handle) {
  CheckNotInCallback("midiInStop");
  return StandIn::Get().StopInput(handle);
}

MMRESULT WINAPI midiInReset(HMIDIIN handle) {
  CheckNotInCallback("midiInReset");
  return StandIn::Get().ResetInput(handle);
}

MMRESULT WINAPI midiInPrepareHeader(HMIDIIN handle, LPMIDIHDR header, UINT size) {
  CheckNotInCallback("midiInPrepareHeader");
  return StandIn::Get().PrepareInput(handle, header, size);
}

MMRESULT WINAPI midiInAddBuffer(HMIDIIN handle, LPMIDIHDR header, UINT size) {
  CheckNotInCallback("midiInAddBuffer");
  return StandIn::Get().AddInput(handle, header, size);
}

MMRESULT WINAPI midiInUnprepareHeader(HMIDIIN handle, LPMIDIHDR header, UINT size) {
  CheckNotInCallback("midiInUnprepareHeader");
  return StandIn::Get().UnprepareInput(handle, header, size);
}

MMRESULT WINAPI midiInMessage(HMIDIIN handle, UINT message, DWORD_PTR first, DWORD_PTR second) {
  CheckNotInCallback("midiInMessage");
  return StandIn::Get().PortMessage(port::Direction::Input, reinterpret_cast<UINT_PTR>(handle), message, first, second);
}

UINT WINAPI midiOutGetNumDevs(void) {
  CheckNotInCallback("midiOutGetNumDevs");
  return StandIn::Get().OutputCount();
}

MMRESULT WINAPI midiOutGetDevCapsW(UINT_PTR id, LPMIDIOUTCAPSW caps, UINT size) {
  CheckNotInCallback("midiOutGetDevCapsW");
  return StandIn::Get().OutputCaps(id, caps, size);
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT handle, UINT id, DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
  CheckNotInCallback("midiOutOpen");
  return StandIn::Get().OpenOutput(handle, id, callback, instance, flags);
}

MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
  CheckNotInCallback("midiOutPrepareHeader");
  return StandIn::Get().PrepareOutput(handle, header, size);
}

MMRESULT WINAPI midiOutLongMsg(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
  CheckNotInCallback("midiOutLongMsg");
  return StandIn::Get().LongMessage(handle, header, size);
}

MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
  CheckNotInCallback("midiOutUnprepareHeader");
  return StandIn::Get().UnprepareOutput(handle, header, size);
}

MMRESULT WINAPI midiOutMessage(HMIDIOUT handle, UINT message, DWORD_PTR first, DWORD_PTR second) {
  CheckNotInCallback("midiOutMessage");
  return StandIn::Get().PortMessage(port::Direction::Output, reinterpret_cast<UINT_PTR>(handle), message, first,
                                    second);
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  // At process exit (reserved set) the other threads are already gone:
  // whatever the driver still holds is checked one last time.
  if (reason == DLL_PROCESS_DETACH && reserved != nullptr) {
    fake_winmm::RecordsExiting();
    if (StandIn* standIn = StandIn::IfBuilt()) standIn->CheckHeldAtExit();
  }
  return TRUE;
}

} // extern "C"
