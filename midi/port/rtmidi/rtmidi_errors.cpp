#include "midi/port/rtmidi/rtmidi_errors.h"

namespace port::rtmidi {

port::Result ResultFromRtMidiError(RtMidiError::Type type) {
  switch (type) {
    case RtMidiError::DEBUG_WARNING:
      return port::kNoError;
    case RtMidiError::INVALID_DEVICE:
    case RtMidiError::NO_DEVICES_FOUND:
      return port::kBadDeviceId;
    case RtMidiError::MEMORY_ERROR:
      return port::kNoMem;
    case RtMidiError::INVALID_PARAMETER:
      return port::kInvalParam;
    case RtMidiError::INVALID_USE:
      return port::kInvalidHandle;
    case RtMidiError::WARNING:
    case RtMidiError::UNSPECIFIED:
    case RtMidiError::DRIVER_ERROR:
    case RtMidiError::SYSTEM_ERROR:
    case RtMidiError::THREAD_ERROR:
    default:
      return port::kError;
  }
}

void ErrorSink::Callback(RtMidiError::Type type, const std::string&, void* userData) {
  if (type == RtMidiError::DEBUG_WARNING) return;
  auto* sink = static_cast<ErrorSink*>(userData);
  int expected = kNone;
  sink->first.compare_exchange_strong(expected, static_cast<int>(type), std::memory_order_relaxed);
}

port::Result ErrorSink::Result() const {
  const int type = first.load(std::memory_order_relaxed);
  if (type == kNone) return port::kNoError;
  return ResultFromRtMidiError(static_cast<RtMidiError::Type>(type));
}

} // namespace port::rtmidi
