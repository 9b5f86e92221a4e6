#include "midi/port/winmm/winmm_output.h"

#include <windows.h>
#include <mmsystem.h>

#include "midi/port/winmm/port_names.h"

namespace port::winmm {

namespace {

HMIDIOUT Device(OutputHandle handle) {
  return reinterpret_cast<HMIDIOUT>(handle);
}

MIDIHDR* DriverHeader(const MidiHeader& header) {
  return static_cast<MIDIHDR*>(header.layerState);
}

} // namespace

unsigned WinmmOutput::Count() {
  return midiOutGetNumDevs();
}

Result WinmmOutput::Name(unsigned index, std::string& name) {
  MIDIOUTCAPSW caps{};
  const MMRESULT result = midiOutGetDevCapsW(index, &caps, sizeof caps);
  if (result != MMSYSERR_NOERROR) return result;
  name = PortNameToUtf8(caps.szPname);
  return kNoError;
}

Result WinmmOutput::Open(unsigned index, OutputHandle& handle) {
  HMIDIOUT device = nullptr;
  const MMRESULT result = midiOutOpen(&device, index, 0, 0, CALLBACK_NULL);
  if (result == MMSYSERR_NOERROR) handle = reinterpret_cast<OutputHandle>(device);
  return result;
}

Result WinmmOutput::Prepare(OutputHandle handle, MidiHeader& header) {
  MIDIHDR* driverHeader = DriverHeader(header);
  const bool fresh = driverHeader == nullptr;
  if (fresh) {
    driverHeader = new MIDIHDR{};
    driverHeader->lpData = reinterpret_cast<LPSTR>(header.lpData);
    driverHeader->dwBufferLength = header.dwBufferLength;
    driverHeader->dwBytesRecorded = header.dwBytesRecorded;
    driverHeader->dwUser = header.dwUser;
    driverHeader->dwFlags = header.dwFlags;
  }
  const MMRESULT result = midiOutPrepareHeader(Device(handle), driverHeader, sizeof(MIDIHDR));
  if (result != MMSYSERR_NOERROR) {
    if (fresh) delete driverHeader;
    return result;
  }
  header.dwFlags = driverHeader->dwFlags;
  header.layerState = driverHeader;
  return kNoError;
}

Result WinmmOutput::Send(OutputHandle handle, MidiHeader& header) {
  MIDIHDR* driverHeader = DriverHeader(header);
  if (driverHeader == nullptr) return MIDIERR_UNPREPARED;
  // After a successful send the driver owns the MIDIHDR until it is
  // released, so its flags are not read back here.
  return midiOutLongMsg(Device(handle), driverHeader, sizeof(MIDIHDR));
}

Result WinmmOutput::Unprepare(OutputHandle handle, MidiHeader& header) {
  MIDIHDR* driverHeader = DriverHeader(header);
  if (driverHeader == nullptr) {
    // Never prepared: winmm answers an unprepared header without keeping it.
    MIDIHDR unprepared{};
    unprepared.lpData = reinterpret_cast<LPSTR>(header.lpData);
    unprepared.dwBufferLength = header.dwBufferLength;
    return midiOutUnprepareHeader(Device(handle), &unprepared, sizeof unprepared);
  }
  const MMRESULT result = midiOutUnprepareHeader(Device(handle), driverHeader, sizeof(MIDIHDR));
  // MIDIERR_STILLPLAYING: the driver still reads the bytes through it.
  if (result != MMSYSERR_NOERROR) return result;
  header.dwFlags = driverHeader->dwFlags;
  header.layerState = nullptr;
  delete driverHeader;
  return kNoError;
}

} // namespace port::winmm
