#include "midi/device.h"

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
      ConsolePrintf("MMSYSERR_INVALPARAM");
    } else if (result == port::kBadDeviceId) {
      ConsolePrintf("MMSYSERR_BADDEVICEID");
    }
    return;
  }
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
  const unsigned count = service.OutputCount();
  for (unsigned index = 0; index < count; ++index) {
    std::string outputName;
    if (service.OutputName(index, outputName) != port::kNoError) continue;
    // Exact bytes: a name that differs only by a trailing blank is another port.
    if (UpToFirstZero(outputName) != inputName) continue;
    if (service.OpenOutput(index, outputHandle) == port::kNoError) {
      outputOpen = true;
      return;
    }
    // A later port of the same name may still open.
  }
}

void CMIDIDeviceWin::StartInput() {
  // The buffer goes first: Microsoft asks for SysEx buffers to be queued
  // before input starts, and on the current service a SysEx that finds none
  // is dropped. Only devices with a dialogue get one; the others' System
  // Exclusive input is dropped by the port.
  if (handler != nullptr) QueueInputBuffer();
  const port::Result result = service.StartInput(inputHandle);
  if (result != port::kNoError) ConsolePrintf("midiInStart MMSYSERR %d", static_cast<int>(result));
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
  ConsolePrintf("MMSYSERR %d", static_cast<int>(result));
}
