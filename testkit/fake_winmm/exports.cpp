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

namespace {

// Every export: first the check that it is not called from inside the
// driver callback, then the stand-in's call.
template <class Call>
auto Checked(const char* function, Call call) {
  CheckNotInCallback(function);
  return call(StandIn::Get());
}

} // namespace

extern "C" {

UINT WINAPI midiInGetNumDevs(void) {
  return Checked("midiInGetNumDevs", [&](StandIn& standIn) { return standIn.InputCount(); });
}

MMRESULT WINAPI midiInGetDevCapsW(UINT_PTR id, LPMIDIINCAPSW caps, UINT size) {
  return Checked("midiInGetDevCapsW", [&](StandIn& standIn) { return standIn.InputCaps(id, caps, size); });
}

MMRESULT WINAPI midiInOpen(LPHMIDIIN handle, UINT id, DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
  return Checked("midiInOpen",
                 [&](StandIn& standIn) { return standIn.OpenInput(handle, id, callback, instance, flags); });
}

MMRESULT WINAPI midiInStart(HMIDIIN handle) {
  return Checked("midiInStart", [&](StandIn& standIn) { return standIn.StartInput(handle); });
}

MMRESULT WINAPI midiInStop(HMIDIIN handle) {
  return Checked("midiInStop", [&](StandIn& standIn) { return standIn.StopInput(handle); });
}

MMRESULT WINAPI midiInReset(HMIDIIN handle) {
  return Checked("midiInReset", [&](StandIn& standIn) { return standIn.ResetInput(handle); });
}

MMRESULT WINAPI midiInPrepareHeader(HMIDIIN handle, LPMIDIHDR header, UINT size) {
  return Checked("midiInPrepareHeader", [&](StandIn& standIn) { return standIn.PrepareInput(handle, header, size); });
}

MMRESULT WINAPI midiInAddBuffer(HMIDIIN handle, LPMIDIHDR header, UINT size) {
  return Checked("midiInAddBuffer", [&](StandIn& standIn) { return standIn.AddInput(handle, header, size); });
}

MMRESULT WINAPI midiInUnprepareHeader(HMIDIIN handle, LPMIDIHDR header, UINT size) {
  return Checked("midiInUnprepareHeader",
                 [&](StandIn& standIn) { return standIn.UnprepareInput(handle, header, size); });
}

MMRESULT WINAPI midiInMessage(HMIDIIN handle, UINT message, DWORD_PTR first, DWORD_PTR second) {
  return Checked("midiInMessage", [&](StandIn& standIn) {
    return standIn.PortMessage(port::Direction::Input, reinterpret_cast<UINT_PTR>(handle), message, first, second);
  });
}

UINT WINAPI midiOutGetNumDevs(void) {
  return Checked("midiOutGetNumDevs", [&](StandIn& standIn) { return standIn.OutputCount(); });
}

MMRESULT WINAPI midiOutGetDevCapsW(UINT_PTR id, LPMIDIOUTCAPSW caps, UINT size) {
  return Checked("midiOutGetDevCapsW", [&](StandIn& standIn) { return standIn.OutputCaps(id, caps, size); });
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT handle, UINT id, DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
  return Checked("midiOutOpen",
                 [&](StandIn& standIn) { return standIn.OpenOutput(handle, id, callback, instance, flags); });
}

MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
  return Checked("midiOutPrepareHeader", [&](StandIn& standIn) { return standIn.PrepareOutput(handle, header, size); });
}

MMRESULT WINAPI midiOutLongMsg(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
  return Checked("midiOutLongMsg", [&](StandIn& standIn) { return standIn.LongMessage(handle, header, size); });
}

MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
  return Checked("midiOutUnprepareHeader",
                 [&](StandIn& standIn) { return standIn.UnprepareOutput(handle, header, size); });
}

MMRESULT WINAPI midiOutMessage(HMIDIOUT handle, UINT message, DWORD_PTR first, DWORD_PTR second) {
  return Checked("midiOutMessage", [&](StandIn& standIn) {
    return standIn.PortMessage(port::Direction::Output, reinterpret_cast<UINT_PTR>(handle), message, first, second);
  });
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
