#include "midi/device.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "app/log_sink.h"
#include "handlers/handler.h"
#include "midi/held_buffers.h"
#include "midi/model_code.h"

std::string SharedName::Get() const {
  std::lock_guard<std::mutex> guard(lock);
  return text;
}

void SharedName::Set(std::string newText) {
  std::lock_guard<std::mutex> guard(lock);
  text = std::move(newText);
}

CMIDIDevice::~CMIDIDevice() = default;

namespace {

// A port name ends at its first zero byte, as a C string from the service would.
std::string UpToFirstZero(const std::string& text) {
  const std::string::size_type zero = text.find('\0');
  return zero == std::string::npos ? text : text.substr(0, zero);
}

// The device behind a port, in lower case, or "" when the service cannot
// tell. Windows MIDI Services gives device interface paths in lower case,
// the classic stack as the driver wrote them.
std::string DeviceOf(port::MidiService& service, port::Direction direction, unsigned index) {
  std::string device;
  if (service.DeviceOf(direction, index, device) != port::kNoError) return std::string();
  for (char& c : device) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return device;
}

} // namespace

CMIDIDeviceWin::~CMIDIDeviceWin() {
  // Asked even when no buffer was ever prepared; the answer only matters
  // when there is a buffer.
  const port::Result result = service.UnprepareInputBuffer(inputHandle, inputHeader);
  // Unless the port has given the buffer back, it may still write into it.
  if (inputBuffer && result != port::kNoError) {
    RetainWhilePortHolds(std::shared_ptr<uint8_t>(inputBuffer.release(), std::default_delete<uint8_t[]>()));
  }
}

void CMIDIDeviceWin::Identify(unsigned portIndex) {
  std::string portName;
  const port::Result result = service.InputName(portIndex, portName);
  if (result != port::kNoError) {
    modelCode = kUnreadablePortCode;
    if (result == port::kInvalParam) {
      app::ConsolePrintf("MMSYSERR_INVALPARAM");
    } else if (result == port::kBadDeviceId) {
      app::ConsolePrintf("MMSYSERR_BADDEVICEID");
    }
    return;
  }
  inputIndex = portIndex;
  name.Set(UpToFirstZero(portName));

  // Every readable port is paired, whatever it turns out to be, so that even
  // an unrecognised controller can be sent to.
  OpenMatchingOutput();

  const PortClassification family = ClassifyPortName(name.Get());
  modelCode = family.modelCode;
  supported = family.supported;
}

void CMIDIDeviceWin::OpenMatchingOutput() {
  if (outputOpen) return;
  const std::string inputName = name.Get();
  std::vector<unsigned> sameName;
  const unsigned count = service.OutputCount();
  for (unsigned index = 0; index < count; ++index) {
    std::string outputName;
    if (service.OutputName(index, outputName) != port::kNoError) continue;
    // Exact bytes: a name that differs only by a trailing blank is another port.
    if (UpToFirstZero(outputName) == inputName) sameName.push_back(index);
  }
  if (sameName.size() > 1 && OpenOutputOfSameDevice(sameName)) return;
  for (unsigned index : sameName) {
    if (service.OpenOutput(index, outputHandle) == port::kNoError) {
      outputOpen = true;
      return;
    }
    // A later port of the same name may still open.
  }
  OpenOnlyOutputOfSameDevice();
}

// Windows MIDI Services before its November 2026 update names the ports of
// every unit of one USB product alike, and lets a second client open an
// output that is open already: with two nanoKONTROL2, both inputs would take
// the first unit's output and the second unit would never be asked. Where
// the service tells the devices, the input's own device decides among the
// outputs of its name. True when that settled the pairing: an output of its
// own device opened, or its own device has outputs of that name and none
// opened (another unit's output would carry this dialogue to the wrong
// unit). False when none of them is of its device, or the devices cannot be
// told: the first of the name that opens, as before.
bool CMIDIDeviceWin::OpenOutputOfSameDevice(const std::vector<unsigned>& sameName) {
  const std::string device = DeviceOf(service, port::Direction::Input, inputIndex);
  if (device.empty()) return false;
  bool ownDeviceHasOne = false;
  for (unsigned index : sameName) {
    if (DeviceOf(service, port::Direction::Output, index) != device) continue;
    ownDeviceHasOne = true;
    if (service.OpenOutput(index, outputHandle) == port::kNoError) {
      outputOpen = true;
      return true;
    }
  }
  return ownDeviceHasOne;
}

// Windows MIDI Services names the ports of a device that names its USB jacks
// after those jacks ("nanoKONTROL2 _ SLIDER/KNOB" in, "nanoKONTROL2 _ CTRL"
// out), so its input finds no output of its own name. The service tells
// which ports belong to one device; an output of that device whose name no
// input of it carries is the input's partner when it is the only one. With
// two or more (a BCF2000's DIN sockets) nothing tells which, and none is
// taken.
void CMIDIDeviceWin::OpenOnlyOutputOfSameDevice() {
  const std::string device = DeviceOf(service, port::Direction::Input, inputIndex);
  if (device.empty()) return;

  std::vector<std::string> inputNamesOfDevice;
  const unsigned inputs = service.InputCount();
  for (unsigned index = 0; index < inputs; ++index) {
    std::string inputName;
    if (service.InputName(index, inputName) != port::kNoError) continue;
    if (DeviceOf(service, port::Direction::Input, index) == device)
      inputNamesOfDevice.push_back(UpToFirstZero(inputName));
  }

  int candidates = 0;
  unsigned only = 0;
  const unsigned outputs = service.OutputCount();
  for (unsigned index = 0; index < outputs; ++index) {
    std::string outputName;
    if (service.OutputName(index, outputName) != port::kNoError) continue;
    if (DeviceOf(service, port::Direction::Output, index) != device) continue;
    const std::string shown = UpToFirstZero(outputName);
    if (std::find(inputNamesOfDevice.begin(), inputNamesOfDevice.end(), shown) != inputNamesOfDevice.end()) continue;
    ++candidates;
    only = index;
  }
  if (candidates != 1) return;
  if (service.OpenOutput(only, outputHandle) == port::kNoError) outputOpen = true;
}

void CMIDIDeviceWin::StartInput() {
  // The buffer goes first: Microsoft asks for SysEx buffers to be queued
  // before input starts, and on the current service a SysEx that finds none
  // is dropped. Only devices with a dialogue get one; the others' System
  // Exclusive input is dropped by the port.
  if (handler != nullptr) QueueInputBuffer();
  const port::Result result = service.StartInput(inputHandle);
  if (result != port::kNoError) app::ConsolePrintf("midiInStart MMSYSERR %d", static_cast<int>(result));
}

void CMIDIDeviceWin::QueueInputBuffer() {
  const uint32_t size = handler->GetSysExBufferSize();
  inputBuffer.reset(new uint8_t[size]);
  inputHeader.lpData = inputBuffer.get();
  inputHeader.dwBufferLength = size;
  inputHeader.dwBytesRecorded = 0;
  inputHeader.dwUser = 0;
  inputHeader.dwFlags = 0;

  port::Result result = service.PrepareInputBuffer(inputHandle, inputHeader);
  if (result == port::kNoError) result = service.AddInputBuffer(inputHandle, inputHeader);
  if (result == port::kNoError) return;
  app::ConsolePrintf("MMSYSERR %d", static_cast<int>(result));
}
