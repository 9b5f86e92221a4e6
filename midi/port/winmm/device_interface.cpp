#include "midi/port/winmm/device_interface.h"

#include <windows.h>
#include <mmddk.h>
#include <mmsystem.h>

#include <vector>

#include "midi/port/winmm/port_names.h"

namespace port::winmm {

namespace {

// A path longer than this is no path: the answer is not trusted.
constexpr ULONG kLongestPath = 32768 * sizeof(WCHAR);

MMRESULT Ask(Direction direction, unsigned index, UINT message, DWORD_PTR first, DWORD_PTR second) {
  // The port's index stands in for a handle: no port has to be open.
  const UINT_PTR id = index;
  if (direction == Direction::Input) return midiInMessage(reinterpret_cast<HMIDIIN>(id), message, first, second);
  return midiOutMessage(reinterpret_cast<HMIDIOUT>(id), message, first, second);
}

} // namespace

Result QueryDeviceInterface(Direction direction, unsigned index, std::string& path) {
  ULONG size = 0;
  MMRESULT result = Ask(direction, index, DRV_QUERYDEVICEINTERFACESIZE, reinterpret_cast<DWORD_PTR>(&size), 0);
  if (result != MMSYSERR_NOERROR) return result;
  if (size > kLongestPath) return MMSYSERR_ERROR;
  // Room for the size asked, in whole units, and one more zero of our own.
  std::vector<WCHAR> text(size / sizeof(WCHAR) + 1, L'\0');
  if (size >= sizeof(WCHAR)) {
    result = Ask(direction, index, DRV_QUERYDEVICEINTERFACE, reinterpret_cast<DWORD_PTR>(text.data()), size);
    if (result != MMSYSERR_NOERROR) return result;
  }
  text.back() = L'\0';
  path = Utf16ToUtf8(text.data());
  return kNoError;
}

} // namespace port::winmm
